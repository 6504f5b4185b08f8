// The main window: the data folder, the player presets, the command buttons
// and the three tabs of options. It mirrors the settings: loading
// fills every control from them, and every later change of an option control
// copies all controls back (UpdateSettings). The runs themselves live in the
// core; the window starts them and shows what they report.
#ifndef TARVEL_UI_MAIN_WINDOW_H_
#define TARVEL_UI_MAIN_WINDOW_H_

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

#include "app/app_state.h"
#include "app/change_plan.h"
#include "app/entry_table.h"
#include "app/settings_rules.h"
#include "ui/change_table.h"
#include "ui/data_folder.h"
#include "ui/gui_front_end.h"
#include "ui/history_window.h"
#include "ui/log_window.h"
#include "ui/presets.h"
#include "ui/reading_dialog.h"

namespace tarvel {

// Asks the user for a list.csv to restore from: the owner, the title and the
// folder to open in; the chosen file's full path, or "" when cancelled.
using ListDialog =
    std::function<QString(QWidget* owner, const QString& title, const QString& start_dir)>;
// The system's open dialog, listing only files named list.csv.
ListDialog SystemListDialog();

inline constexpr char16_t kRestoreDialogTitle[] = u"変換リスト（list.csv）を選択してください";
inline constexpr char16_t kSaveFailedMessage[] = u"設定を保存できませんでした。";
// Shown for a moment beside "設定保存" once the settings are on disk.
inline constexpr char16_t kSavedMessage[] = u"設定を保存しました。";

// Where the "書き出し" button writes the converted copy.
enum class ExportTarget { kNone, kFolder, kImage };
// Asks whether to write to a folder or into a CD image; kNone when cancelled.
using ExportAsk = std::function<ExportTarget(QWidget* owner)>;
ExportAsk SystemExportAsk();
// Asks for a file to write: the owner, the title and the folder to start in;
// the chosen path, or "" when cancelled.
using SaveFileDialog =
    std::function<QString(QWidget* owner, const QString& title, const QString& start_dir)>;
// The system's save dialog for a CD image (*.iso).
SaveFileDialog SystemImageDialog();

inline constexpr char16_t kExportFolderTitle[] = u"書き出し先のフォルダを選択してください";
inline constexpr char16_t kExportImageTitle[] = u"書き出すCDイメージのファイル名を入力してください";

// What the window asks the user through; tests put recorders in their place.
struct MainWindowSeams {
  MessageSink message = SystemMessageSink();
  FolderDialog folder = SystemFolderDialog();
  ListDialog open_list = SystemListDialog();
  // Where a restored list's library lies now, asked when its folder is gone.
  FolderDialog moved_library = SystemFolderDialog();
  // The reading correction of a row of the change table.
  ReadingAsk reading = SystemReadingAsk();
  // The history window's question before a restore, and how it opens a list.
  ConfirmSink confirm = SystemConfirmSink();
  FileOpener open_file = SystemFileOpener();
  // The export: folder or image, then where.
  ExportAsk export_target = SystemExportAsk();
  FolderDialog export_folder = SystemFolderDialog();
  SaveFileDialog export_image = SystemImageDialog();
};

// The window title: "Tarvel ver" followed directly by the version.
QString MainWindowTitle();

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // The window's controls, named as the settings they mirror.
  struct Controls {
    DataFolderEdit* txtDataFolder = nullptr;
    QToolButton* cmdBrowse = nullptr;
    QGroupBox* fraPlayer = nullptr;
    QButtonGroup* optPlayer = nullptr;
    QToolButton* cmdRename = nullptr;
    QToolButton* cmdRestore = nullptr;
    QToolButton* cmdSaveOption = nullptr;
    QToolButton* cmdExit = nullptr;
    QToolButton* cmdChanges = nullptr;  // opens the change table of the last plan
    QToolButton* cmdHistory = nullptr;
    QToolButton* cmdExport = nullptr;  // a converted copy to a folder or a CD image
    QTabWidget* SSTab1 = nullptr;
    QCheckBox* chkFlagDisplayLog = nullptr;
    QCheckBox* chkFlagRenameSubfolders = nullptr;
    QCheckBox* chkFlagCreateCSVFile = nullptr;
    QButtonGroup* optFlagPathSaveCSV = nullptr;
    QCheckBox* chkFlagSplitFolders = nullptr;
    QCheckBox* chkFlagConvertFilename = nullptr;
    QCheckBox* chkFlagCheckOnlyFilename = nullptr;
    QCheckBox* chkFlagDicEnabledFilename = nullptr;
    QCheckBox* chkFlagDetectFullCharFilename = nullptr;
    QCheckBox* chkFlagLimit30Char = nullptr;
    QLabel* lblLimit30Char = nullptr;   // the caption's end, after the number box
    QSpinBox* txtLengthName = nullptr;  // the number box with its spin buttons
    QCheckBox* chkFlagRenameFolderName = nullptr;
    QButtonGroup* optConvertLevelFilename = nullptr;
    QCheckBox* chkFlagConvertID3Tag = nullptr;
    QCheckBox* chkFlagCheckOnlyID3Tag = nullptr;
    QCheckBox* chkFlagDicEnabledID3Tag = nullptr;
    QCheckBox* chkFlagDetectFullCharID3Tag = nullptr;
    QButtonGroup* optConvertLevelID3Tag = nullptr;
    QTabWidget* tabID3Tag = nullptr;
    QButtonGroup* optID3TagArtist = nullptr;
    QButtonGroup* optID3TagAlbum = nullptr;
    QButtonGroup* optID3TagTitle = nullptr;
  };

  // A hidden window over `app` (its settings, tables and folders). The window
  // becomes `app`'s front end for as long as it lives.
  explicit MainWindow(AppState& app, MainWindowSeams seams = {});
  ~MainWindow() override;

  // Places the window from section "General", fills every control from the
  // settings and shows the window. Values the controls cannot show (a flag
  // of 2, an index of 5, LengthName 0) show the control's default.
  void Load();

  // Copies every control into the settings (nothing while the window is
  // hidden), then refuses the romaji level when Rome.csv is missing.
  void UpdateSettings();

  // The command buttons.
  void StartConversion();
  void StartRestore();
  void SaveOptions();
  // Opens (or brings up) the change table of the last plan.
  void ShowChanges();
  // The reading correction of `row` of the change table: asks for the text
  // and its reading, adds them to the user's dic.csv and makes the plan
  // again.
  void CorrectReading(const PlanRow& row);
  void ShowHistory();
  // Asks where to, then writes a converted copy of the library there (the
  // library unchanged) and shows its plan in the change table.
  void StartExport();

  // Restores from the list at `list` (the restore button's run once a list
  // is chosen).
  void RestoreFrom(std::u16string_view list);

  // True while a conversion or restore started here is in progress.
  bool busy() const { return busy_; }
  const Controls& controls() const { return c_; }
  LogWindowHost& log() { return log_; }
  // The change table window, once opened.
  ChangeTableWindow* changes() const { return changes_; }
  const std::shared_ptr<const ChangePlan>& plan() const { return plan_; }
  // The history window, or nullptr before it was first opened.
  HistoryWindow* history() const { return history_.data(); }
  const RunState& run_state() const { return run_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The control that shows one integer option.
  struct OptionBinding {
    int32_t Settings::*member;
    std::variant<QCheckBox*, QButtonGroup*, QSpinBox*> control;
  };

  void BuildControls();
  QWidget* BuildFolderFrame();
  QVBoxLayout* BuildLeftColumn();
  QWidget* BuildGeneralTab();
  QWidget* BuildFileNameTab();
  QWidget* BuildID3TagTab();
  void SetTabOrder();
  void BindOptions();
  void Connect();
  void PlaceFromSettingsFile();
  // Shrinks the window to its screen (down to its smallest size) and moves
  // it until it is whole on it.
  void FitOnScreen();

  const OptionBinding& BindingOf(int32_t Settings::*member) const;
  // Shows `value` in the option's control (its handlers run as for a user's
  // change).
  void ShowOption(const OptionBinding& option, int32_t value);
  // Copies the option's control into the settings.
  void CopyOption(const OptionBinding& option);
  // Says the rule's message and makes its changes through the controls.
  void Apply(const RuleOutcome& rule);

  void ApplyPreset(int index);
  void OnCreateCSVFile();
  void OnConvertFilename();
  void OnConvertID3Tag();
  void OnConvertLevel(int index, Conversion conversion);
  void TickCheckOnlyBoxes();
  void OnPlan(std::shared_ptr<const ChangePlan> plan, bool open);
  // Why the dictionary cannot change names or tags with the options as
  // they are; empty when it can change both.
  std::u16string DictionaryNote() const;
  void SetBusy(bool busy);
  void Say(const QString& title, std::u16string_view text);

  AppState& app_;
  MainWindowSeams seams_;
  Controls c_;
  // Every integer option's control, in the order of the option table.
  std::vector<OptionBinding> options_;
  LogWindowHost log_;
  std::unique_ptr<GuiFrontEnd> front_end_;
  QPointer<HistoryWindow> history_;
  FrontEnd* previous_front_end_ = nullptr;
  RunState run_;
  std::shared_ptr<const ChangePlan> plan_;
  QPointer<ChangeTableWindow> changes_;
  bool busy_ = false;
  bool close_pending_ = false;
  bool refusing_romaji_ = false;
  // The preset button under the mouse or key was already selected when it
  // was pressed: its click applies the preset again.
  bool preset_repressed_ = false;
};

}  // namespace tarvel

#endif  // TARVEL_UI_MAIN_WINDOW_H_
