// What the core asks of a front end (the window, the command line, a test).
// The core never opens a window itself.
#ifndef TARVEL_APP_FRONT_END_H_
#define TARVEL_APP_FRONT_END_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

struct ChangePlan;

// The stages of a run and of a restore whose progress a front end may show.
enum class ProgressStage {
  kScan,            // folders listed; the total is not known
  kConvert,         // rows of the entry table converted
  kWriteTags,       // rows gone through while writing tags
  kRenameFiles,     // rows gone through while renaming files
  kRenameFolders,   // rows gone through while renaming folders
  kRestoreFolders,  // the same three while a list is undone
  kRestoreFiles,
  kRestoreTags,
  kExport,  // files of an exported copy written or found already there
};
inline constexpr size_t kProgressStageCount = 9;
static_assert(static_cast<size_t>(ProgressStage::kExport) + 1 == kProgressStageCount);

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Appends text to the log as it stands (the caller supplies the CR LF line
  // ends).
  virtual void AppendLog(std::u16string_view text) = 0;
  // A modal message with the title "QX" and a single OK button; returns when
  // the user has closed it.
  virtual void ShowMessage(std::u16string_view text) = 0;
  // Brings the log window up.
  virtual void ShowLog() = 0;
  // Lets queued window events run (keeps the windows live during a run).
  virtual void PumpEvents() = 0;
  // Ticks the two check-only boxes of the main window (the settings are set by
  // the caller).
  virtual void TickCheckOnlyBoxes() = 0;
  // `done` of `total` items of `stage` are through (`total` 0: not known).
  // Called once per folder or row, so a front end that shows it limits its
  // own redraws.
  virtual void ReportProgress(ProgressStage /*stage*/, int64_t /*done*/, int64_t /*total*/) {}
  // Asked by a restore whose list names a library folder, `missing`, that
  // does not exist (the library was moved or its disk is mounted elsewhere):
  // the folder where that library lies now, or nothing to give up. A front
  // end that cannot ask answers nothing.
  virtual std::optional<std::u16string> AskLibraryFolder(std::u16string_view /*missing*/) {
    return std::nullopt;
  }
  // The plan of the run that just ended its conversion pass, for a front end
  // that shows it as a table; `open` asks to bring that table up (a
  // check-only run that found changes).
  virtual void ShowPlan(std::shared_ptr<const ChangePlan> /*plan*/, bool /*open*/) {}
  // True for a front end that does something with ShowPlan's plan. A run
  // makes no plan for the others: at 100,000 changes it is tens of
  // megabytes that nobody would look at.
  virtual bool WantsPlan() const { return false; }
};

// A front end that ignores everything: for benchmarks, for callers that only
// want the results, and the front end of a state no front end was wired into.
class SilentFrontEnd : public FrontEnd {
 public:
  void AppendLog(std::u16string_view) override {}
  void ShowMessage(std::u16string_view) override {}
  void ShowLog() override {}
  void PumpEvents() override {}
  void TickCheckOnlyBoxes() override {}

  // One shared instance; it holds no state, so any number of callers may use
  // it at once.
  static SilentFrontEnd* Shared() {
    static SilentFrontEnd instance;
    return &instance;
  }
};

// A front end that only records what it was asked to do; for tests and for
// callers that want to look at the messages afterwards.
class RecordingFrontEnd : public FrontEnd {
 public:
  void AppendLog(std::u16string_view text) override { log += text; }
  void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }
  void ShowLog() override { ++show_log_count; }
  void PumpEvents() override { ++pump_count; }
  void TickCheckOnlyBoxes() override { ++tick_count; }
  void ReportProgress(ProgressStage stage, int64_t done, int64_t /*total*/) override {
    last_progress[static_cast<size_t>(stage)] = done;
  }
  std::optional<std::u16string> AskLibraryFolder(std::u16string_view missing) override {
    library_questions.emplace_back(missing);
    return library_answer;
  }
  void ShowPlan(std::shared_ptr<const ChangePlan> shown, bool open) override {
    plan = std::move(shown);
    plan_opened = open;
  }
  bool WantsPlan() const override { return true; }

  std::u16string log;
  std::vector<std::u16string> messages;
  int show_log_count = 0;
  int pump_count = 0;
  int tick_count = 0;
  // The last count each stage reported, by ProgressStage (-1: none).
  std::array<int64_t, kProgressStageCount> last_progress = [] {
    std::array<int64_t, kProgressStageCount> none{};
    none.fill(-1);
    return none;
  }();
  // The folders AskLibraryFolder was asked about, and what it answers.
  std::vector<std::u16string> library_questions;
  std::optional<std::u16string> library_answer;
  // The last plan shown, and whether it was to be opened.
  std::shared_ptr<const ChangePlan> plan;
  bool plan_opened = false;
};

}  // namespace tarvel

#endif  // TARVEL_APP_FRONT_END_H_
