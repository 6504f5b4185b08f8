#include "ui/change_table.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <string_view>
#include <utility>

#include "ui/gui_front_end.h"

namespace tarvel {
namespace {

QString Q(std::u16string_view text) { return ToQString(text); }

constexpr std::u16string_view kHeaders[kChangeColumnCount] = {
    u"フォルダ", u"種類", u"変更前", u"変更後", u"タイトル", u"アーティスト", u"アルバム", u"注意",
};

// The text a text column sorts and searches by (not for the kind and the
// notices, which sort by their values).
std::u16string_view SortText(const PlanRow& row, int column) {
  switch (column) {
    case kColumnFolder:
      return row.folder.view();
    case kColumnOldName:
      return row.old_name;
    case kColumnNewName:
      return row.new_name;
    case kColumnTitle:
      return row.title;
    case kColumnArtist:
      return row.artist;
    case kColumnAlbum:
      return row.album;
    default:
      return {};
  }
}

// Negative, 0 or positive as `a` sorts before, with or after `b` by `column`.
int Compare(const PlanRow& a, const PlanRow& b, int column) {
  if (column == kColumnKind) return static_cast<int>(a.is_file) - static_cast<int>(b.is_file);
  if (column == kColumnNotices) return static_cast<int>(a.notices) - static_cast<int>(b.notices);
  return SortText(a, column).compare(SortText(b, column));
}

}  // namespace

QString ChangeCellText(const PlanRow& row, int column) {
  switch (column) {
    case kColumnKind:
      return Q(row.is_file ? u"ファイル" : u"フォルダ");
    case kColumnNotices:
      return Q(NoticeText(row.notices));
    default:
      return Q(SortText(row, column));
  }
}

ChangeTableModel::ChangeTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void ChangeTableModel::SetPlan(std::shared_ptr<const ChangePlan> plan) {
  beginResetModel();
  plan_ = std::move(plan);
  Rebuild();
  endResetModel();
}

void ChangeTableModel::SetFilter(bool notices_only, const QString& search) {
  beginResetModel();
  notices_only_ = notices_only;
  search_ = search;
  Rebuild();
  endResetModel();
}

bool ChangeTableModel::Matches(const PlanRow& row) const {
  if (notices_only_ && row.notices == 0) return false;
  if (search_.isEmpty()) return true;
  for (int column = 0; column < kChangeColumnCount; ++column) {
    if (ChangeCellText(row, column).contains(search_, Qt::CaseInsensitive)) return true;
  }
  return false;
}

void ChangeTableModel::Rebuild() {
  shown_.clear();
  if (!plan_) return;
  const std::vector<PlanRow>& rows = plan_->rows;
  shown_.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    if (Matches(rows[i])) shown_.push_back(static_cast<int32_t>(i));
  }
  if (sort_column_ < 0) return;
  // Rows that compare equal keep the plan's order, whichever way.
  const int sign = sort_order_ == Qt::AscendingOrder ? 1 : -1;
  std::stable_sort(shown_.begin(), shown_.end(), [&](int32_t a, int32_t b) {
    return sign * Compare(rows[a], rows[b], sort_column_) < 0;
  });
}

void ChangeTableModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kChangeColumnCount) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  sort_column_ = column;
  sort_order_ = order;
  Rebuild();
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const PlanRow* ChangeTableModel::RowAt(int row) const {
  if (!plan_ || row < 0 || row >= static_cast<int>(shown_.size())) return nullptr;
  return &plan_->rows[shown_[row]];
}

int ChangeTableModel::TotalRows() const { return plan_ ? static_cast<int>(plan_->rows.size()) : 0; }

int ChangeTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int ChangeTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kChangeColumnCount;
}

QVariant ChangeTableModel::data(const QModelIndex& index, int role) const {
  const PlanRow* row = RowAt(index.row());
  if (row == nullptr || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
  return ChangeCellText(*row, index.column());
}

QVariant ChangeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= kChangeColumnCount) return {};
  return Q(kHeaders[section]);
}

ChangeTableWindow::ChangeTableWindow(QWidget* owner, std::function<void(const PlanRow&)> correct)
    : QWidget(owner, Qt::Window), correct_(std::move(correct)) {
  setObjectName("frmChanges");
  setWindowTitle(Q(kChangeTableTitle));
  auto* root = new QVBoxLayout(this);
  root->addLayout(BuildFilterBar());
  root->addWidget(BuildView(), 1);
  auto* buttons = new QHBoxLayout;
  correct_button_ = new QPushButton(Q(u"読みを修正"));
  correct_button_->setAccessibleName(Q(u"読みを修正"));
  auto* close_button = new QPushButton(Q(u"閉じる"));
  close_button->setAccessibleName(Q(u"閉じる"));
  buttons->addWidget(correct_button_);
  buttons->addStretch(1);
  buttons->addWidget(close_button);
  root->addLayout(buttons);

  connect(notices_only_, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
  connect(search_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(correct_button_, &QPushButton::clicked, this, [this] { CorrectSelected(); });
  connect(close_button, &QPushButton::clicked, this, [this] { close(); });
  connect(view_, &QTableView::doubleClicked, this, [this] { CorrectSelected(); });
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { correct_button_->setEnabled(SelectedRow() != nullptr); });
  correct_button_->setEnabled(false);
  const int em = fontMetrics().horizontalAdvance(QChar(0x3042));
  resize(72 * em, 28 * em);
  UpdateCount();
}

QHBoxLayout* ChangeTableWindow::BuildFilterBar() {
  auto* bar = new QHBoxLayout;
  notices_only_ = new QCheckBox(Q(u"注意のある行のみ"));
  notices_only_->setAccessibleName(Q(u"注意のある行のみ"));
  auto* search_label = new QLabel(Q(u"検索"));
  search_ = new QLineEdit;
  search_->setAccessibleName(Q(u"検索"));
  search_->setClearButtonEnabled(true);
  search_label->setBuddy(search_);
  count_ = new QLabel;
  count_->setAccessibleName(Q(u"行数"));
  bar->addWidget(notices_only_);
  bar->addSpacing(12);
  bar->addWidget(search_label);
  bar->addWidget(search_, 1);
  bar->addWidget(count_);
  return bar;
}

QTableView* ChangeTableWindow::BuildView() {
  view_ = new QTableView;
  view_->setAccessibleName(Q(kChangeTableTitle));
  view_->setModel(&model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
  view_->setSortingEnabled(true);
  view_->horizontalHeader()->setSortIndicatorShown(true);
  view_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  // Fixed row heights and column widths: the view never measures 100,000
  // rows to lay them out.
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view_->horizontalHeader()->setStretchLastSection(true);
  const int em = fontMetrics().horizontalAdvance(QChar(0x3042));
  constexpr int kWidths[kChangeColumnCount] = {10, 5, 14, 14, 10, 9, 9, 9};
  for (int c = 0; c < kChangeColumnCount; ++c) view_->setColumnWidth(c, kWidths[c] * em);
  return view_;
}

void ChangeTableWindow::SetPlan(std::shared_ptr<const ChangePlan> plan) {
  model_.SetPlan(std::move(plan));
  correct_button_->setEnabled(SelectedRow() != nullptr);
  UpdateCount();
}

void ChangeTableWindow::ApplyFilter() {
  model_.SetFilter(notices_only_->isChecked(), search_->text());
  correct_button_->setEnabled(SelectedRow() != nullptr);
  UpdateCount();
}

void ChangeTableWindow::UpdateCount() {
  count_->setText(QString::number(model_.rowCount()) + Q(u" / ") +
                  QString::number(model_.TotalRows()) + Q(u" 行"));
}

const PlanRow* ChangeTableWindow::SelectedRow() const {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model_.RowAt(rows.front().row());
}

void ChangeTableWindow::CorrectSelected() {
  if (const PlanRow* row = SelectedRow(); row != nullptr && correct_) correct_(*row);
}

}  // namespace tarvel
