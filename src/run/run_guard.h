// The guard that keeps two runs (conversion or restore) from working at once,
// in this program and, through the library's lock, in any other.
#ifndef TARVEL_RUN_RUN_GUARD_H_
#define TARVEL_RUN_RUN_GUARD_H_

#include <string>
#include <string_view>

#include "app/app_state.h"
#include "platform/library_lock.h"

namespace tarvel {

// Shown when another run or restore already works on the library.
inline constexpr std::u16string_view kLibraryBusyMessage =
    u"このフォルダでは別の変換または復元が実行中です。";

// Keeps a second run (or a restore) from starting while one is in progress;
// the front ends let window events through during a run.
class RunGuard {
 public:
  explicit RunGuard(AppState& app) : app_(app), acquired_(!app.run_in_progress) {
    if (acquired_) app_.run_in_progress = true;
  }
  ~RunGuard() {
    if (acquired_) app_.run_in_progress = false;
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;
  bool acquired() const { return acquired_; }

  // Takes the lock of the library at `folder` for the rest of the run, so
  // that no other process runs on it meanwhile. When it cannot be taken,
  // shows why in a message and returns false with the reason (UTF-8) in
  // `detail`.
  bool LockLibrary(std::u16string_view folder, std::string* detail);

 private:
  AppState& app_;
  bool acquired_;
  LibraryLock library_lock_;
};

}  // namespace tarvel

#endif  // TARVEL_RUN_RUN_GUARD_H_
