#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "app/presets.h"
#include "app/settings.h"
#include "app/settings_rules.h"
#include "app/user_dictionary.h"
#include "files/list_format.h"
#include "files/run_history.h"
#include "platform/text.h"
#include "rules/kana_conversion.h"
#include "run/export_run.h"
#include "run/iso_export.h"
#include "run/restore_run.h"
#include "run/run_driver.h"
#include "ui/twips.h"
#include "ui/window_placement.h"

// Resources of a static library must be registered by name, outside any
// namespace.
static void InitTarvelResources() { Q_INIT_RESOURCE(tarvel); }

namespace tarvel {
namespace {

// Indent of the controls that depend on the check box above them.
constexpr int kIndent = 20;

QString Q(std::u16string_view text) { return ToQString(text); }

// Visits a variant with one lambda per alternative.
template <typename... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
// Spelled out for compilers that do not deduce an aggregate's arguments.
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

QCheckBox* MakeCheck(const char* name, std::u16string_view caption) {
  auto* box = new QCheckBox(Q(caption));
  box->setObjectName(name);
  return box;
}

// An option group of radio buttons with ids 0..n-1 in `layout`, in the
// order of `captions` top to bottom (`ids` gives each button's index).
QButtonGroup* MakeGroup(QWidget* owner, const char* name, QBoxLayout* layout,
                        std::initializer_list<std::pair<int, std::u16string_view>> buttons) {
  auto* group = new QButtonGroup(owner);
  group->setObjectName(name);
  for (const auto& [id, caption] : buttons) {
    auto* radio = new QRadioButton(Q(caption));
    radio->setObjectName(QString("%1_%2").arg(name).arg(id));
    group->addButton(radio, id);
    layout->addWidget(radio);
  }
  return group;
}

// The option groups stand close together, as in a frame of the original
// size; their captions keep their full height.
QVBoxLayout* Tight(QVBoxLayout* layout) {
  layout->setSpacing(2);
  layout->setContentsMargins(8, 4, 8, 4);
  return layout;
}

QVBoxLayout* Indented(QVBoxLayout* parent) {
  auto* inner = new QVBoxLayout;
  inner->setContentsMargins(kIndent, 0, 0, 0);
  parent->addLayout(inner);
  return inner;
}

void SetGroupEnabled(QButtonGroup* group, bool enabled) {
  for (QAbstractButton* b : group->buttons()) b->setEnabled(enabled);
  // A frame that holds only this group greys with it, its caption too.
  auto* frame = group->buttons().isEmpty()
                    ? nullptr
                    : qobject_cast<QGroupBox*>(group->buttons().front()->parentWidget());
  if (frame != nullptr &&
      frame->findChildren<QAbstractButton*>().size() == group->buttons().size()) {
    frame->setEnabled(enabled);
  }
}

void Select(QButtonGroup* group, int id) {
  if (QAbstractButton* b = group->button(id)) b->setChecked(true);
}

void CopyGroup(const QButtonGroup* group, int32_t& member) {
  int id = group->checkedId();
  if (id >= 0) member = id;  // no button selected: the member keeps its value
}

// The boxes both conversion tabs begin with: the master box, then, indented,
// check-only, dictionary and full-width detection ("Filename" or "ID3Tag"
// ends their names). Returns the indented column for the rest of the tab.
QVBoxLayout* AddConversionBoxes(QVBoxLayout* page, const QString& suffix,
                                std::u16string_view master_caption, QCheckBox*& master,
                                QCheckBox*& check_only, QCheckBox*& dictionary,
                                QCheckBox*& detect_full_char) {
  const auto name = [&](const char* stem) { return (stem + suffix).toLatin1(); };
  master = MakeCheck(name("chkFlagConvert").constData(), master_caption);
  page->addWidget(master);
  QVBoxLayout* inner = Indented(page);
  check_only = MakeCheck(name("chkFlagCheckOnly").constData(), u"チェックのみで、変換は行わない");
  dictionary =
      MakeCheck(name("chkFlagDicEnabled").constData(), u"辞書ファイルによる定型変換を有効にする");
  detect_full_char =
      MakeCheck(name("chkFlagDetectFullChar").constData(), u"全角を検出したら変換停止");
  inner->addWidget(check_only);
  inner->addWidget(dictionary);
  inner->addWidget(detect_full_char);
  return inner;
}

// The frame "全角日本語を" with the three conversion levels.
QButtonGroup* AddLevelFrame(QWidget* owner, const char* name, QVBoxLayout* into) {
  auto* frame = new QGroupBox(Q(u"全角日本語を"));
  QButtonGroup* group =
      MakeGroup(owner, name, Tight(new QVBoxLayout(frame)),
                {{0, u"変換なし"}, {1, u"半角ｶﾅに変換する"}, {2, u"ローマ字に変換する"}});
  into->addWidget(frame);
  return group;
}

// `page` in an area that scrolls when the window is lower than the page
// (a small screen, a large scale): the buttons beside the tabs stay in view.
QScrollArea* Scrolling(QWidget* page) {
  auto* area = new QScrollArea;
  area->setWidget(page);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setFocusPolicy(Qt::NoFocus);
  area->setMinimumHeight(0);
  // The tab keeps the page's full width; only its height may scroll.
  area->setMinimumWidth(page->minimumSizeHint().width() +
                        area->verticalScrollBar()->sizeHint().width());
  return area;
}

// A picture button: its picture above the caption, or (`small`) a button
// of one line with a small picture beside the caption.
QToolButton* MakeCommand(const char* name, std::u16string_view caption, const char* icon,
                         std::u16string_view tooltip, bool small = false) {
  auto* button = new QToolButton;
  button->setObjectName(name);
  button->setText(Q(caption));
  button->setIcon(QIcon(QString(":/buttons/%1.svg").arg(icon)));
  button->setFocusPolicy(Qt::StrongFocus);
  if (!tooltip.empty()) button->setToolTip(Q(tooltip));
  if (small) {
    button->setIconSize(QSize(16, 16));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return button;
  }
  button->setIconSize(QSize(32, 32));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setMinimumSize(73, 61);  // 1095 × 915 twips
  button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  button->setAutoRaise(false);
  return button;
}

}  // namespace

// What the window says when an export has ended: the counts, or why it did
// not complete (the core's own words, every violation on a line).
static std::u16string ExportMessage(bool completed, const std::string& detail, int64_t files,
                                    int64_t folders) {
  if (completed) {
    return u"書き出しました（ファイル " + DecimalText(files) + u"、フォルダ " +
           DecimalText(folders) + u"）。";
  }
  return u"書き出せませんでした。\r\n" + Utf8ToUtf16Lossy(detail);
}

ExportAsk SystemExportAsk() {
  return [](QWidget* owner) {
    QMessageBox box(QMessageBox::Question, Q(kMessageTitle),
                    Q(u"変換したコピーをどこに書き出しますか？"), QMessageBox::Cancel, owner);
    QPushButton* folder = box.addButton(Q(u"フォルダ"), QMessageBox::AcceptRole);
    QPushButton* image = box.addButton(Q(u"CDイメージ"), QMessageBox::AcceptRole);
    box.exec();
    if (box.clickedButton() == folder) return ExportTarget::kFolder;
    if (box.clickedButton() == image) return ExportTarget::kImage;
    return ExportTarget::kNone;
  };
}

SaveFileDialog SystemImageDialog() {
  return [](QWidget* owner, const QString& title, const QString& start_dir) {
    return QFileDialog::getSaveFileName(owner, title, start_dir,
                                        QStringLiteral("CD image (*.iso)"));
  };
}

QString MainWindowTitle() { return QStringLiteral("Tarvel ver") + QStringLiteral(TARVEL_VERSION); }

ListDialog SystemListDialog() {
  return [](QWidget* owner, const QString& title, const QString& start_dir) {
    QFileDialog dialog(owner, title, start_dir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("list.csv (list.csv)"));
    dialog.setOption(QFileDialog::ReadOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
}

MainWindow::MainWindow(AppState& app, MainWindowSeams seams)
    : QMainWindow(nullptr), app_(app), seams_(std::move(seams)), log_(app.IniPath, this) {
  InitTarvelResources();
  setObjectName("frmMain");
  setWindowIcon(QIcon(":/icons/io.github.tarvel.Tarvel.svg"));
  setWindowTitle(MainWindowTitle());
  BuildControls();
  BindOptions();
  Connect();
  front_end_ =
      std::make_unique<GuiFrontEnd>(log_, seams_.message, this, [this] { TickCheckOnlyBoxes(); });
  front_end_->SetLibraryDialog(seams_.moved_library);
  front_end_->SetPlanSink(
      [this](std::shared_ptr<const ChangePlan> plan, bool open) { OnPlan(std::move(plan), open); });
  previous_front_end_ = app_.ui;
  app_.ui = front_end_.get();
}

MainWindow::~MainWindow() {
  if (app_.ui == front_end_.get()) app_.ui = previous_front_end_;
}

void MainWindow::BuildControls() {
  // A main window (not a bare widget) so that accessibility tools see a frame.
  auto* client = new QWidget;
  setCentralWidget(client);
  auto* root = new QVBoxLayout(client);
  root->addWidget(BuildFolderFrame());
  auto* body = new QHBoxLayout;
  root->addLayout(body, 1);
  body->addLayout(BuildLeftColumn());
  c_.SSTab1 = new QTabWidget;
  c_.SSTab1->setObjectName("SSTab1");
  auto* right = new QVBoxLayout;
  right->addWidget(c_.SSTab1, 1);
  body->addLayout(right, 1);
  // Under the tabs, two small buttons for the windows that show what runs
  // do: the last plan as a table (once a run has made one) and the history.
  auto* views = new QHBoxLayout;
  c_.cmdChanges = MakeCommand("cmdChanges", u"変更一覧", "changes",
                              u"前回の変換で変更される名前とID3Tagを一覧で表示します", true);
  c_.cmdChanges->setEnabled(false);
  c_.cmdHistory = MakeCommand("cmdHistory", u"履歴", "history",
                              u"これまでの変換と復元の履歴を表示します", true);
  c_.cmdExport = MakeCommand("cmdExport", u"書き出し", "save",
                             u"変換したコピーをフォルダかCDイメージに書き出します（元のファイルは"
                             u"変更しません）",
                             true);
  c_.cmdExport->setAccessibleName(c_.cmdExport->text());
  views->addStretch(1);
  views->addWidget(c_.cmdChanges);
  views->addWidget(c_.cmdHistory);
  views->addWidget(c_.cmdExport);
  right->addLayout(views);
  c_.SSTab1->addTab(Scrolling(BuildGeneralTab()), Q(u"全般"));
  c_.SSTab1->addTab(Scrolling(BuildFileNameTab()), Q(u"ファイル名"));
  c_.SSTab1->addTab(Scrolling(BuildID3TagTab()), Q(u"ID3Tag"));
  c_.SSTab1->setCurrentIndex(0);
  SetTabOrder();
  // The client area is 580 × 404 pixels at 96 dpi; the layout may need more
  // with a larger font, never less.
  resize(sizeHint().expandedTo(QSize(580, 404)));
}

QWidget* MainWindow::BuildFolderFrame() {
  auto* folder_frame = new QGroupBox(Q(u"データフォルダ"));
  auto* folder_row = new QHBoxLayout(folder_frame);
  c_.txtDataFolder = new DataFolderEdit;
  c_.txtDataFolder->setObjectName("txtDataFolder");
  c_.txtDataFolder->setToolTip(Q(u"フォルダをドロップしてください"));
  c_.txtDataFolder->setAccessibleName(Q(u"データフォルダ"));
  c_.txtDataFolder->setAccessibleDescription(Q(u"フォルダをドロップしてください"));
  c_.cmdBrowse = new QToolButton;
  c_.cmdBrowse->setObjectName("cmdBrowse");
  c_.cmdBrowse->setText("...");
  c_.cmdBrowse->setToolTip(Q(u"フォルダを選択"));
  c_.cmdBrowse->setAccessibleName(Q(u"フォルダを選択"));
  c_.cmdBrowse->setFocusPolicy(Qt::StrongFocus);
  folder_row->addWidget(c_.txtDataFolder, 1);
  folder_row->addWidget(c_.cmdBrowse);
  return folder_frame;
}

QVBoxLayout* MainWindow::BuildLeftColumn() {
  auto* left = new QVBoxLayout;
  // Presets: Z919, f-CD7, then "other", and the note below them.
  c_.fraPlayer = new QGroupBox(Q(u"プレーヤー プリセット"));
  c_.fraPlayer->setObjectName("fraPlayer");
  auto* preset_col = Tight(new QVBoxLayout(c_.fraPlayer));
  c_.optPlayer = MakeGroup(this, "optPlayer", preset_col,
                           {{kPresetZ919, PresetCaption(kPresetZ919)},
                            {kPresetFCD7, PresetCaption(kPresetFCD7)},
                            {kPresetOther, PresetCaption(kPresetOther)}});
  auto* note = new QLabel(Q(kPresetNote));
  note->setWordWrap(true);
  note->setMinimumWidth(140);
  // A window made as low as it may be still shows the whole note.
  note->setMinimumHeight(note->heightForWidth(note->minimumWidth()));
  preset_col->addWidget(note);
  preset_col->addStretch(1);
  left->addWidget(c_.fraPlayer, 1);

  // The four picture buttons, 2 × 2.
  auto* grid = new QGridLayout;
  c_.cmdRename = MakeCommand("cmdRename", u"変換開始", "convert", u"現在の設定で変換を開始します");
  c_.cmdRestore = MakeCommand("cmdRestore", u"復元", "restore", u"");
  c_.cmdSaveOption = MakeCommand("cmdSaveOption", u"設定保存", "save", u"現在の設定を保存します");
  c_.cmdExit = MakeCommand("cmdExit", u"終了", "exit", u"終了");
  grid->addWidget(c_.cmdRename, 0, 0);
  grid->addWidget(c_.cmdRestore, 0, 1);
  grid->addWidget(c_.cmdSaveOption, 1, 0);
  grid->addWidget(c_.cmdExit, 1, 1);
  left->addLayout(grid);
  return left;
}

QWidget* MainWindow::BuildGeneralTab() {
  auto* general = new QWidget;
  auto* gen = new QVBoxLayout(general);
  c_.chkFlagDisplayLog = MakeCheck("chkFlagDisplayLog", u"変換ログを表示する");
  c_.chkFlagRenameSubfolders =
      MakeCheck("chkFlagRenameSubfolders", u"サブフォルダもチェック（変換）");
  c_.chkFlagCreateCSVFile =
      MakeCheck("chkFlagCreateCSVFile", u"変換するファイル名のCSVファイルを作成する");
  gen->addWidget(c_.chkFlagDisplayLog);
  gen->addWidget(c_.chkFlagRenameSubfolders);
  gen->addWidget(c_.chkFlagCreateCSVFile);
  c_.optFlagPathSaveCSV = MakeGroup(
      this, "optFlagPathSaveCSV", Indented(gen),
      {{0, u"CSVファイルはインストールフォルダに作成"}, {1, u"CSVファイルはデータフォルダに作成"}});
  c_.chkFlagSplitFolders =
      MakeCheck("chkFlagSplitFolders", u"書き出し時、ファイルが多すぎるフォルダを分割する");
  gen->addWidget(c_.chkFlagSplitFolders);
  // The caption keeps its words; where the list really goes (the program's
  // folder, or the user's data folder when installed) is in its tip.
  const QString list_dir = QString::fromStdString(app_.folder.list_dir.string());
  c_.optFlagPathSaveCSV->button(0)->setToolTip(Q(u"作成先：") + list_dir);
  c_.optFlagPathSaveCSV->button(0)->setAccessibleDescription(Q(u"作成先：") + list_dir);
  gen->addStretch(1);
  return general;
}

QWidget* MainWindow::BuildFileNameTab() {
  auto* names = new QWidget;
  auto* nam = new QVBoxLayout(names);
  QVBoxLayout* nam_in = AddConversionBoxes(
      nam, "Filename", u"ファイル名変換を有効にする", c_.chkFlagConvertFilename,
      c_.chkFlagCheckOnlyFilename, c_.chkFlagDicEnabledFilename, c_.chkFlagDetectFullCharFilename);
  // The number box sits in the blank of the check box's caption: the caption
  // is split around it, and the check box keeps the whole caption as its
  // accessible name.
  auto* limit_row = new QHBoxLayout;
  c_.chkFlagLimit30Char = MakeCheck("chkFlagLimit30Char", u"拡張子を除くファイル名を");
  c_.chkFlagLimit30Char->setAccessibleName(
      Q(u"拡張子を除くファイル名を　　　　　　文字に制限する"));
  c_.txtLengthName = new QSpinBox;
  c_.txtLengthName->setObjectName("txtLengthName");
  c_.txtLengthName->setRange(1, 50);
  c_.txtLengthName->setValue(30);
  c_.txtLengthName->setAccessibleName(Q(u"文字数"));
  c_.lblLimit30Char = new QLabel(Q(u"文字に制限する"));
  c_.lblLimit30Char->setBuddy(c_.txtLengthName);
  limit_row->addWidget(c_.chkFlagLimit30Char);
  limit_row->addWidget(c_.txtLengthName);
  limit_row->addWidget(c_.lblLimit30Char);
  limit_row->addStretch(1);
  nam_in->addLayout(limit_row);
  c_.chkFlagRenameFolderName = MakeCheck("chkFlagRenameFolderName", u"フォルダ名も変換対象にする");
  nam_in->addWidget(c_.chkFlagRenameFolderName);
  c_.optConvertLevelFilename = AddLevelFrame(this, "optConvertLevelFilename", nam_in);
  nam->addStretch(1);
  return names;
}

QWidget* MainWindow::BuildID3TagTab() {
  auto* tags = new QWidget;
  auto* tag = new QVBoxLayout(tags);
  tag->setSpacing(4);
  QVBoxLayout* tag_in = AddConversionBoxes(
      tag, "ID3Tag", u"ID3Tag変換を有効にする", c_.chkFlagConvertID3Tag, c_.chkFlagCheckOnlyID3Tag,
      c_.chkFlagDicEnabledID3Tag, c_.chkFlagDetectFullCharID3Tag);
  c_.optConvertLevelID3Tag = AddLevelFrame(this, "optConvertLevelID3Tag", tag_in);
  c_.tabID3Tag = new QTabWidget;
  c_.tabID3Tag->setObjectName("tabID3Tag");
  struct Source {
    const char* name;
    std::u16string_view tab;
    QButtonGroup** group;
  };
  const Source sources[] = {{"optID3TagArtist", u"アーティスト名", &c_.optID3TagArtist},
                            {"optID3TagAlbum", u"アルバム名", &c_.optID3TagAlbum},
                            {"optID3TagTitle", u"タイトル名", &c_.optID3TagTitle}};
  for (const Source& s : sources) {
    auto* page = new QWidget;
    auto* col = Tight(new QVBoxLayout(page));
    *s.group = MakeGroup(this, s.name, col,
                         {{0, u"現在のID3Tagを変換する（ID3Tagが無いときは付加しない）"},
                          {1, u"ファイル名を埋め込む（現在のID3Tagに上書き）"},
                          {2, u"フォルダ名を埋め込む（現在のID3Tagに上書き）"}});
    col->addStretch(1);
    c_.tabID3Tag->addTab(page, Q(s.tab));
  }
  tag_in->addWidget(c_.tabID3Tag);
  tag->addStretch(1);
  return tags;
}

void MainWindow::SetTabOrder() {
  // Tab order: top to bottom on the left (folder, presets, buttons), then
  // the tabs with their controls top to bottom.
  QList<QWidget*> order = {c_.txtDataFolder, c_.cmdBrowse};
  for (int id : {kPresetZ919, kPresetFCD7, kPresetOther}) order << c_.optPlayer->button(id);
  order << c_.cmdRename << c_.cmdRestore << c_.cmdSaveOption << c_.cmdExit << c_.SSTab1
        << c_.chkFlagDisplayLog << c_.chkFlagRenameSubfolders << c_.chkFlagCreateCSVFile;
  for (auto* b : c_.optFlagPathSaveCSV->buttons()) order << b;
  order << c_.chkFlagSplitFolders;
  order << c_.chkFlagConvertFilename << c_.chkFlagCheckOnlyFilename << c_.chkFlagDicEnabledFilename
        << c_.chkFlagDetectFullCharFilename << c_.chkFlagLimit30Char << c_.txtLengthName
        << c_.chkFlagRenameFolderName;
  for (auto* b : c_.optConvertLevelFilename->buttons()) order << b;
  order << c_.chkFlagConvertID3Tag << c_.chkFlagCheckOnlyID3Tag << c_.chkFlagDicEnabledID3Tag
        << c_.chkFlagDetectFullCharID3Tag;
  for (auto* b : c_.optConvertLevelID3Tag->buttons()) order << b;
  order << c_.tabID3Tag;
  for (auto* g : {c_.optID3TagArtist, c_.optID3TagAlbum, c_.optID3TagTitle}) {
    for (auto* b : g->buttons()) order << b;
  }
  order << c_.cmdChanges << c_.cmdHistory << c_.cmdExport;  // under the tabs
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void MainWindow::Connect() {
  connect(c_.txtDataFolder, &QLineEdit::textChanged, this, [this] { UpdateSettings(); });
  connect(c_.txtLengthName, &QSpinBox::valueChanged, this, [this] { UpdateSettings(); });
  for (QCheckBox* plain :
       {c_.chkFlagDisplayLog, c_.chkFlagRenameSubfolders, c_.chkFlagRenameFolderName,
        c_.chkFlagCheckOnlyFilename, c_.chkFlagDicEnabledFilename, c_.chkFlagDetectFullCharFilename,
        c_.chkFlagLimit30Char, c_.chkFlagCheckOnlyID3Tag, c_.chkFlagDicEnabledID3Tag,
        c_.chkFlagDetectFullCharID3Tag, c_.chkFlagSplitFolders}) {
    connect(plain, &QCheckBox::toggled, this, [this] { UpdateSettings(); });
  }
  for (QButtonGroup* plain :
       {c_.optFlagPathSaveCSV, c_.optID3TagArtist, c_.optID3TagAlbum, c_.optID3TagTitle}) {
    connect(plain, &QButtonGroup::idToggled, this, [this](int, bool checked) {
      if (checked) UpdateSettings();
    });
  }
  connect(c_.chkFlagCreateCSVFile, &QCheckBox::toggled, this, [this] { OnCreateCSVFile(); });
  connect(c_.chkFlagConvertFilename, &QCheckBox::toggled, this, [this] { OnConvertFilename(); });
  connect(c_.chkFlagConvertID3Tag, &QCheckBox::toggled, this, [this] { OnConvertID3Tag(); });
  connect(c_.optConvertLevelFilename, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked) OnConvertLevel(id, Conversion::kFileName);
  });
  connect(c_.optConvertLevelID3Tag, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked) OnConvertLevel(id, Conversion::kID3Tag);
  });
  connect(c_.optPlayer, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
    if (checked) ApplyPreset(id);
  });
  // Pressing the preset that is already selected applies it again (with its
  // message): a quick way back to the player's options after changing some.
  connect(c_.optPlayer, &QButtonGroup::idPressed, this,
          [this](int id) { preset_repressed_ = c_.optPlayer->button(id)->isChecked(); });
  connect(c_.optPlayer, &QButtonGroup::idClicked, this, [this](int id) {
    if (preset_repressed_) ApplyPreset(id);
    preset_repressed_ = false;
  });

  connect(c_.cmdBrowse, &QToolButton::clicked, this,
          [this] { BrowseForDataFolder(this, c_.txtDataFolder, app_.settings, seams_.folder); });
  connect(c_.cmdRename, &QToolButton::clicked, this, [this] { StartConversion(); });
  connect(c_.cmdRestore, &QToolButton::clicked, this, [this] { StartRestore(); });
  connect(c_.cmdSaveOption, &QToolButton::clicked, this, [this] { SaveOptions(); });
  connect(c_.cmdExit, &QToolButton::clicked, this, [this] { close(); });
  connect(c_.cmdChanges, &QToolButton::clicked, this, [this] { ShowChanges(); });
  connect(c_.cmdHistory, &QToolButton::clicked, this, [this] { ShowHistory(); });
  connect(c_.cmdExport, &QToolButton::clicked, this, [this] { StartExport(); });
}

void MainWindow::PlaceFromSettingsFile() {
  MainWindowPosition pos = LoadMainWindowPosition(app_.IniPath);
  QPoint at(TwipsToPixels(pos.FormLeft), TwipsToPixels(pos.FormTop));
  // A position on no screen (a screen since removed) would hide the window;
  // it then opens where the system puts it.
  if (QGuiApplication::screenAt(at) != nullptr) move(at);
  FitOnScreen();
}

void MainWindow::FitOnScreen() {
  QScreen* on = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (on == nullptr) return;
  const QRect room = on->availableGeometry();
  // The frame is not known before the window is shown: a title bar's height
  // is kept free above it.
  const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
  const QSize most(room.width(), room.height() - title);
  resize(size().boundedTo(most).expandedTo(minimumSizeHint()));
  // Moved up as far as needed for the buttons at its foot to show (across
  // screens side by side a window may stand where the user put it).
  QPoint at = pos();
  at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - title - height())));
  if (at != pos() && QGuiApplication::screenAt(pos()) != nullptr) move(at);
}

void MainWindow::BindOptions() {
  // Each integer option's control; the table of options gives the order.
  const OptionBinding controls[] = {
      {&Settings::Player, c_.optPlayer},
      {&Settings::FlagDisplayLog, c_.chkFlagDisplayLog},
      {&Settings::FlagRenameSubfolders, c_.chkFlagRenameSubfolders},
      {&Settings::FlagRenameFolderName, c_.chkFlagRenameFolderName},
      {&Settings::FlagCreateCSVFile, c_.chkFlagCreateCSVFile},
      {&Settings::FlagPathSaveCSV, c_.optFlagPathSaveCSV},
      {&Settings::FlagConvertFilename, c_.chkFlagConvertFilename},
      {&Settings::FlagCheckOnlyFilename, c_.chkFlagCheckOnlyFilename},
      {&Settings::FlagLimit30Char, c_.chkFlagLimit30Char},
      {&Settings::LengthName, c_.txtLengthName},
      {&Settings::FlagDicEnabledFilename, c_.chkFlagDicEnabledFilename},
      {&Settings::FlagDetectFullCharFilename, c_.chkFlagDetectFullCharFilename},
      {&Settings::ConvertLevelFilename, c_.optConvertLevelFilename},
      {&Settings::FlagConvertID3Tag, c_.chkFlagConvertID3Tag},
      {&Settings::FlagCheckOnlyID3Tag, c_.chkFlagCheckOnlyID3Tag},
      {&Settings::FlagDicEnabledID3Tag, c_.chkFlagDicEnabledID3Tag},
      {&Settings::FlagDetectFullCharID3Tag, c_.chkFlagDetectFullCharID3Tag},
      {&Settings::ConvertLevelID3Tag, c_.optConvertLevelID3Tag},
      {&Settings::ID3TagArtist, c_.optID3TagArtist},
      {&Settings::ID3TagAlbum, c_.optID3TagAlbum},
      {&Settings::ID3TagTitle, c_.optID3TagTitle},
      {&Settings::FlagSplitFolders, c_.chkFlagSplitFolders},
  };
  // The player's limits have no control: the presets set them.
  for (const IntSetting& option : IntSettings()) {
    const auto* found =
        std::find_if(std::begin(controls), std::end(controls),
                     [&](const OptionBinding& b) { return b.member == option.member; });
    Q_ASSERT(found != std::end(controls) || option.export_option);
    if (found != std::end(controls)) options_.push_back(*found);
  }
}

const MainWindow::OptionBinding& MainWindow::BindingOf(int32_t Settings::*member) const {
  return *std::find_if(options_.begin(), options_.end(),
                       [&](const OptionBinding& b) { return b.member == member; });
}

void MainWindow::ShowOption(const OptionBinding& option, int32_t value) {
  std::visit(Overloaded{[&](QCheckBox* box) { box->setChecked(value == 1); },
                        [&](QButtonGroup* group) { Select(group, value); },
                        [&](QSpinBox* box) { box->setValue(value); }},
             option.control);
}

void MainWindow::CopyOption(const OptionBinding& option) {
  int32_t& member = app_.settings.*option.member;
  std::visit(Overloaded{[&](QCheckBox* box) { member = box->isChecked() ? 1 : 0; },
                        [&](QButtonGroup* group) { CopyGroup(group, member); },
                        // The box holds 1 to 50 only.
                        [&](QSpinBox* box) { member = box->value(); }},
             option.control);
}

void MainWindow::Load() {
  hide();
  PlaceFromSettingsFile();
  setWindowTitle(MainWindowTitle());
  // The check boxes and option groups cannot show values outside their
  // ranges; those show the default and reach the settings as such once the
  // window is shown.
  const Settings s = SanitizedSettings(app_.settings);
  for (const OptionBinding& option : options_) {
    ShowOption(option, s.*option.member);
    if (option.member == &Settings::Player) c_.txtDataFolder->setText(Q(s.PathDataFolder));
  }
  show();
  // The first UpdateSettings with the window shown: from here on the
  // settings follow the controls.
  OnConvertFilename();
  OnConvertID3Tag();
}

void MainWindow::UpdateSettings() {
  if (!isVisible()) return;
  app_.settings.PathDataFolder = c_.txtDataFolder->text().toStdU16String();
  for (const OptionBinding& option : options_) CopyOption(option);
  // The refusal selects "変換なし" in both groups, whose handlers come back
  // here; those nested calls only copy, so the refusal is said once. During a
  // run the levels stay as the run read them.
  if (refusing_romaji_ || busy_) return;
  const RuleOutcome romaji = RomajiRule(app_.settings, app_.folder);
  if (!romaji.applies()) return;
  refusing_romaji_ = true;
  Apply(romaji);
  refusing_romaji_ = false;
}

void MainWindow::Apply(const RuleOutcome& rule) {
  if (!rule.message.empty()) Say(Q(kMessageTitle), rule.message);
  for (const SettingChange& change : rule.changes)
    ShowOption(BindingOf(change.member), change.value);
}

void MainWindow::OnCreateCSVFile() {
  SetGroupEnabled(c_.optFlagPathSaveCSV, c_.chkFlagCreateCSVFile->isChecked());
  UpdateSettings();
}

void MainWindow::OnConvertFilename() {
  const bool on = c_.chkFlagConvertFilename->isChecked();
  for (QWidget* w :
       {static_cast<QWidget*>(c_.chkFlagCheckOnlyFilename),
        static_cast<QWidget*>(c_.chkFlagLimit30Char), static_cast<QWidget*>(c_.txtLengthName),
        static_cast<QWidget*>(c_.lblLimit30Char),
        static_cast<QWidget*>(c_.chkFlagDicEnabledFilename),
        static_cast<QWidget*>(c_.chkFlagDetectFullCharFilename),
        static_cast<QWidget*>(c_.chkFlagRenameFolderName)}) {
    w->setEnabled(on);
  }
  SetGroupEnabled(c_.optConvertLevelFilename, on);
  UpdateSettings();
}

void MainWindow::OnConvertID3Tag() {
  const bool on = c_.chkFlagConvertID3Tag->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(c_.chkFlagCheckOnlyID3Tag),
                     static_cast<QWidget*>(c_.chkFlagDicEnabledID3Tag),
                     static_cast<QWidget*>(c_.chkFlagDetectFullCharID3Tag),
                     static_cast<QWidget*>(c_.tabID3Tag)}) {
    w->setEnabled(on);
  }
  for (QButtonGroup* g :
       {c_.optID3TagArtist, c_.optID3TagAlbum, c_.optID3TagTitle, c_.optConvertLevelID3Tag}) {
    SetGroupEnabled(g, on);
  }
  UpdateSettings();
}

void MainWindow::OnConvertLevel(int index, Conversion conversion) {
  // Said also while the window is still hidden (a stored level of 0).
  Settings chosen = app_.settings;
  (conversion == Conversion::kFileName ? chosen.ConvertLevelFilename : chosen.ConvertLevelID3Tag) =
      index;
  Apply(LevelZeroRule(chosen, conversion));
  UpdateSettings();
}

void MainWindow::ApplyPreset(int index) {
  if (index < 0 || index >= kPresetCount) return;
  app_.settings.Player = index;
  // One control at a time, in the preset's order: the handlers of each one
  // (enabling, the level rules) see the controls set before it.
  for (const SettingChange& a : PresetAssignments(index)) {
    const bool shown = std::any_of(options_.begin(), options_.end(),
                                   [&](const OptionBinding& b) { return b.member == a.member; });
    // The limits have no control: set straight, but not while Load shows
    // the stored preset (hidden), which must keep the stored limits.
    if (shown) {
      ShowOption(BindingOf(a.member), a.value);
    } else if (isVisible()) {
      app_.settings.*a.member = a.value;
    }
  }
  if (isVisible()) Say(Q(kPresetMessageTitle), PresetMessage(index));
  UpdateSettings();
}

void MainWindow::TickCheckOnlyBoxes() {
  c_.chkFlagCheckOnlyFilename->setChecked(true);
  c_.chkFlagCheckOnlyID3Tag->setChecked(true);
}

void MainWindow::Say(const QString& title, std::u16string_view text) {
  seams_.message(this, title, Q(text));
}

void MainWindow::SetBusy(bool busy) {
  busy_ = busy;
  // While a run is in progress, nothing that starts another run or changes
  // an option can be used; "終了" stays and closes the window once the run
  // has ended.
  for (QWidget* w :
       {static_cast<QWidget*>(c_.txtDataFolder), static_cast<QWidget*>(c_.cmdBrowse),
        static_cast<QWidget*>(c_.fraPlayer), static_cast<QWidget*>(c_.SSTab1),
        static_cast<QWidget*>(c_.cmdRename), static_cast<QWidget*>(c_.cmdRestore),
        static_cast<QWidget*>(c_.cmdSaveOption), static_cast<QWidget*>(c_.cmdHistory)}) {
    w->setEnabled(!busy);
  }
  c_.cmdChanges->setEnabled(!busy && plan_ != nullptr);
  if (changes_) changes_->correct_button()->setEnabled(!busy && changes_->SelectedRow() != nullptr);
  if (history_ != nullptr) {
    history_->SetBusy(busy);
    // A run that ended may have kept a list, written one or restored one.
    if (!busy && history_->isVisible()) history_->Refresh();
  }
}

void MainWindow::StartConversion() {
  if (busy_ || app_.run_in_progress) return;
  SetBusy(true);
  RunReport report = RunConversion(app_, run_);
  SetBusy(false);
  // The restore button is enabled from the start and nothing disables it, so
  // a written list needs nothing more here.
  (void)report;
  if (close_pending_) close();
}

void MainWindow::StartRestore() {
  if (busy_ || app_.run_in_progress) return;
  const Settings& s = app_.settings;
  QString start = s.FlagPathSaveCSV != 0 ? Q(s.PathDataFolder)
                                         : QString::fromStdString(app_.folder.list_dir.string());
  QString chosen = seams_.open_list(this, Q(kRestoreDialogTitle), start);
  if (chosen.isEmpty()) return;  // cancelled: nothing happens
  RestoreFrom(chosen.toStdU16String());
}

void MainWindow::RestoreFrom(std::u16string_view list) {
  if (busy_ || app_.run_in_progress) return;
  SetBusy(true);
  RunRestore(app_, run_, list);
  SetBusy(false);
  if (close_pending_) close();
}

void MainWindow::ShowHistory() {
  if (history_ == nullptr) {
    HistoryWindow::Hooks hooks;
    hooks.list_runs = [this] {
      // The list the next run replaces, where the settings have it written;
      // none without a data folder to hold it.
      const Settings& s = app_.settings;
      std::filesystem::path current = app_.folder.list_dir / kRenameListName;
      if (s.FlagPathSaveCSV != 0) {
        current = s.PathDataFolder.empty()
                      ? std::filesystem::path()
                      : std::filesystem::path(Utf16ToUtf8(s.PathDataFolder)) / kRenameListName;
      }
      return ListRuns(app_.folder, current, RunOrder::kNewestFirst);
    };
    hooks.restore = [this](const std::filesystem::path& list) {
      RestoreFrom(Utf8ToUtf16Lossy(list.native()));
    };
    hooks.confirm = seams_.confirm;
    hooks.open = seams_.open_file;
    hooks.message = seams_.message;
    history_ = new HistoryWindow(std::move(hooks), this);
  }
  history_->SetBusy(busy_);
  history_->ShowAndRaise();
}

void MainWindow::StartExport() {
  if (busy_ || app_.run_in_progress) return;
  const ExportTarget target = seams_.export_target(this);
  if (target == ExportTarget::kNone) return;
  // Not in the library: an export never writes there.
  const QString start = QDir::homePath();
  const QString where = target == ExportTarget::kFolder
                            ? seams_.export_folder(this, Q(kExportFolderTitle), QString())
                            : seams_.export_image(this, Q(kExportImageTitle), start);
  if (where.isEmpty()) return;  // cancelled: nothing happens
  const std::string path = QDir::cleanPath(QDir(where).absolutePath()).toStdString();
  SetBusy(true);
  std::u16string text;
  PlayerCheck player;
  if (target == ExportTarget::kFolder) {
    ExportReport report = RunExport(app_, path);
    text = ExportMessage(report.outcome == ExportReport::Outcome::kCompleted, report.detail,
                         report.files_written + report.files_skipped, report.folders_made);
    player = std::move(report.player);
  } else {
    ImageReport report = RunImageExport(app_, path);
    text = ExportMessage(report.outcome == ImageReport::Outcome::kCompleted, report.detail,
                         report.files, report.folders);
    player = std::move(report.player);
  }
  SetBusy(false);
  if (player.changes) OnPlan(player.changes, !player.violations.empty());
  app_.ui->AppendLog(text + u"\r\n");
  Say(Q(kMessageTitle), text);
  if (close_pending_) close();
}

void MainWindow::SaveOptions() {
  std::string error;
  if (SaveSettings(app_.settings, app_.IniPath, &error)) {
    // Said briefly beside the button, without a box to close.
    QToolTip::showText(c_.cmdSaveOption->mapToGlobal(QPoint(0, c_.cmdSaveOption->height())),
                       Q(kSavedMessage), c_.cmdSaveOption, QRect(), 2500);
    return;
  }
  // A save that did not happen is said, so that nobody relies on options
  // that are not on disk.
  std::u16string text = kSaveFailedMessage;
  // The reason names the file, whose path need not be UTF-8.
  if (!error.empty()) text += u"\r\n" + Utf8ToUtf16Lossy(error);
  Say(Q(kMessageTitle), text);
}

void MainWindow::OnPlan(std::shared_ptr<const ChangePlan> plan, bool open) {
  plan_ = std::move(plan);
  c_.cmdChanges->setEnabled(plan_ != nullptr && !busy_);
  if (changes_) changes_->SetPlan(plan_);
  if (open) ShowChanges();
}

void MainWindow::ShowChanges() {
  if (!plan_) return;
  if (!changes_) {
    changes_ = new ChangeTableWindow(this, [this](const PlanRow& row) { CorrectReading(row); });
    changes_->setAttribute(Qt::WA_DeleteOnClose);
    changes_->SetPlan(plan_);
    PlaceWindowBeside(changes_, this);
  }
  changes_->show();
  changes_->raise();
  changes_->activateWindow();
}

std::u16string MainWindow::DictionaryNote() const {
  const Settings& s = app_.settings;
  const bool names_without = s.FlagConvertFilename == 1 && s.FlagDicEnabledFilename != 1;
  const bool tags_without = s.FlagConvertID3Tag == 1 && s.FlagDicEnabledID3Tag != 1;
  if (!names_without && !tags_without) return {};
  std::u16string which = names_without && tags_without ? u"ファイル名とID3Tag"
                         : names_without               ? u"ファイル名"
                                                       : u"ID3Tag";
  return u"「辞書ファイルによる定型変換を有効にする」がオフのため、" + which +
         u"には登録した読みが使われません。";
}

void MainWindow::CorrectReading(const PlanRow& chosen) {
  if (busy_ || app_.run_in_progress) return;
  const PlanRow row = chosen;  // the plan may be replaced below
  std::u16string original = row.old_name.str();
  // A file's name is offered without its extension.
  if (row.is_file && original.size() > 4 && original[original.size() - 4] == u'.') {
    original.resize(original.size() - 4);
  }
  ReadingQuestion question{Q(original), Q(ReadingInKatakana(app_, original)), Q(DictionaryNote())};
  QWidget* owner = changes_ ? static_cast<QWidget*>(changes_) : this;
  std::optional<ReadingAnswer> answer = seams_.reading(owner, question);
  if (!answer) return;
  std::u16string error;
  // A reading typed in hiragana is stored as katakana, as the dialog asks.
  if (!AddDictionaryRow(app_.folder, answer->original.toStdU16String(),
                        HiraganaToKatakana(answer->reading.toStdU16String()), &error) ||
      !ReloadDictionary(app_, &error)) {
    Say(Q(kMessageTitle), error);
    return;
  }
  // The new names, made as a check-only run would make them.
  SetBusy(true);
  PlanConversion(app_, run_);
  SetBusy(false);
  if (close_pending_) close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // A run in progress ends first (its list is on disk, its renames go on
    // to the end); the window closes right after it.
    close_pending_ = true;
    event->ignore();
    return;
  }
  close_pending_ = false;
  MainWindowPosition pos;
  pos.FormTop = PixelsToTwips(y());
  pos.FormLeft = PixelsToTwips(x());
  SaveMainWindowPosition(app_.IniPath, pos);
  if (LogWindow* log = log_.window()) log->close();
  if (changes_) changes_->close();
  if (history_ != nullptr) history_->close();
  event->accept();
}

}  // namespace tarvel
