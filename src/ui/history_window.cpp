#include "ui/history_window.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "platform/text.h"
#include "ui/window_placement.h"

namespace tarvel {
namespace {

QString Q(std::u16string_view text) { return ToQString(text); }

QString Count(const HistoryEntry& run, int32_t count) {
  return run.readable ? QString::number(count) : Q(u"？");
}

QPushButton* MakeButton(std::u16string_view caption, std::u16string_view tooltip) {
  auto* button = new QPushButton(Q(caption));
  button->setAccessibleName(Q(caption));
  button->setToolTip(Q(tooltip));
  return button;
}

}  // namespace

ConfirmSink SystemConfirmSink() {
  return [](QWidget* owner, const QString& title, const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return QMessageBox::question(owner, title, shown, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };
}

FileOpener SystemFileOpener() {
  return [](const QUrl& file) { return QDesktopServices::openUrl(file); };
}

QString RunStateText(const HistoryEntry& run) {
  QString state;
  if (run.current) state = Q(u"現在のリスト");
  QString more;
  if (!run.readable) {
    more = Q(u"読めません");
  } else if (!run.restored.empty()) {
    more = Q(u"復元済み（") + QString::fromStdString(run.restored) + Q(u"）");
  } else if (!run.current) {
    more = Q(u"未復元");
  }
  if (state.isEmpty()) return more;
  return more.isEmpty() ? state : state + Q(u"、") + more;
}

void HistoryModel::SetRuns(std::vector<HistoryEntry> runs) {
  beginResetModel();
  runs_ = std::move(runs);
  endResetModel();
}

const HistoryEntry* HistoryModel::RunAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= runs_.size()) return nullptr;
  return &runs_[static_cast<size_t>(row)];
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(runs_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
  const HistoryEntry* run = RunAt(index.row());
  if (run == nullptr) return {};
  if (role == Qt::ToolTipRole) return QString::fromStdString(EscapeBytes(run->list.native()));
  if (role == Qt::TextAlignmentRole) {
    const bool number = index.column() >= kRows && index.column() <= kTags;
    return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
  }
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  switch (index.column()) {
    case kTime:
      return QString::fromStdString(run->time);
    case kFolder:
      return Q(run->folder);
    case kRows:
      return Count(*run, run->rows);
    case kRenames:
      return Count(*run, run->renames);
    case kTags:
      return Count(*run, run->tags);
    case kState:
      return RunStateText(*run);
    default:
      return {};
  }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  constexpr std::u16string_view kHeaders[kColumnCount] = {u"日時",       u"フォルダ",     u"行数",
                                                          u"名前の変更", u"ID3Tagの変更", u"状態"};
  if (section < 0 || section >= kColumnCount) return {};
  return Q(kHeaders[section]);
}

HistoryWindow::HistoryWindow(Hooks hooks, QWidget* owner)
    : QWidget(owner, Qt::Window), hooks_(std::move(hooks)) {
  setObjectName("frmHistory");
  setWindowTitle(Q(kHistoryWindowTitle));
  // The program ends with its main window, whatever this one does.
  setAttribute(Qt::WA_QuitOnClose, false);
  model_ = new HistoryModel(this);
  table_ = new QTableView;
  table_->setObjectName("tblHistory");
  table_->setAccessibleName(Q(kHistoryWindowTitle));
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  restore_ = MakeButton(u"復元", u"選択した変換を元に戻します");
  open_ = MakeButton(u"開く", u"選択した変換のリスト（list.csv）を開きます");
  close_ = MakeButton(u"閉じる", u"変換履歴を閉じます");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(restore_);
  buttons->addWidget(open_);
  buttons->addStretch(1);
  buttons->addWidget(close_);
  auto* root = new QVBoxLayout(this);
  root->addWidget(table_, 1);
  root->addLayout(buttons);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateButtons(); });
  connect(restore_, &QPushButton::clicked, this, [this] { RestoreSelected(); });
  connect(open_, &QPushButton::clicked, this, [this] { OpenSelected(); });
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  resize(640, 300);
  UpdateButtons();
}

void HistoryWindow::ShowAndRaise() {
  Refresh();
  if (!placed_ && parentWidget() != nullptr) {
    // Wide enough for every column as far as the screen allows.
    const QMargins margins = layout()->contentsMargins();
    int wanted = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width() +
                 margins.left() + margins.right();
    const QAbstractItemView* view = table_;  // the hint is public there
    const QHeaderView* header = table_->horizontalHeader();
    for (int col = 0; col < HistoryModel::kColumnCount; ++col) {
      int column = std::max(view->sizeHintForColumn(col), header->sectionSizeHint(col));
      // The stretched last column never gets narrower than the default.
      if (col == HistoryModel::kColumnCount - 1) {
        column = std::max(column, header->defaultSectionSize());
      }
      wanted += column;
    }
    resize(std::max(width(), wanted), height());
    PlaceWindowBeside(this, parentWidget());
    placed_ = true;
  }
  show();
  raise();
  activateWindow();
}

void HistoryWindow::Refresh() {
  const HistoryEntry* selected = Selected();
  std::filesystem::path list;
  std::string time;
  if (selected != nullptr) {
    list = selected->list;
    time = selected->time;
  }
  model_->SetRuns(hooks_.list_runs ? hooks_.list_runs() : std::vector<HistoryEntry>{});
  // A current list written since is another run: its time tells them apart.
  for (int row = 0; selected != nullptr && row < model_->rowCount(); ++row) {
    const HistoryEntry* run = model_->RunAt(row);
    if (run->list == list && run->time == time) {
      table_->selectRow(row);
      break;
    }
  }
  table_->resizeColumnsToContents();
  UpdateButtons();
}

void HistoryWindow::SetBusy(bool busy) {
  busy_ = busy;
  UpdateButtons();
}

const HistoryEntry* HistoryWindow::Selected() const {
  const QModelIndexList rows = table_->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model_->RunAt(rows.front().row());
}

void HistoryWindow::UpdateButtons() {
  const HistoryEntry* run = Selected();
  // A list that cannot be read cannot be restored from; it can still be
  // opened and looked at.
  restore_->setEnabled(run != nullptr && run->readable && !busy_);
  open_->setEnabled(run != nullptr);
}

void HistoryWindow::RestoreSelected() {
  const HistoryEntry* run = Selected();
  if (run == nullptr || !run->readable || busy_) return;
  // The list is copied: the restore lists the runs again when it ends.
  const std::filesystem::path list = run->list;
  const QString question = Q(u"%1 の変換リストから復元します。\r\nフォルダ：%2\r\nよろしいですか？")
                               .arg(QString::fromStdString(run->time), Q(run->folder));
  if (!hooks_.confirm || !hooks_.confirm(this, Q(kMessageTitle), question)) return;
  if (hooks_.restore) hooks_.restore(list);
}

void HistoryWindow::OpenSelected() {
  const HistoryEntry* run = Selected();
  if (run == nullptr) return;
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(run->list.native()));
  if (hooks_.open && hooks_.open(url)) return;
  if (hooks_.message) {
    hooks_.message(this, Q(kMessageTitle),
                   Q(u"リストを開けませんでした。\r\n") + url.toLocalFile());
  }
}

}  // namespace tarvel
