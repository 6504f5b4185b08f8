// What a conversion run tells its front end when it is over.
#ifndef TARVEL_RUN_RUN_REPORT_H_
#define TARVEL_RUN_RUN_REPORT_H_

#include <string>

namespace tarvel {

struct RunReport {
  enum class Outcome {
    kCompleted,      // the run reached its end (also "nothing to change")
    kStopped,        // a stage failed and ended the run
    kInvalidFolder,  // the data folder names nothing
    kBusy,           // another run or restore is in progress
  };
  Outcome outcome = Outcome::kCompleted;
  // list.csv was written, at `list_path`.
  bool list_written = false;
  std::u16string list_path;
  // Why a stage failed, naming the file or folder (UTF-8); empty otherwise.
  std::string detail;
  // A character the full-width check could not convert turned a run that
  // was to change names or tags into a check-only one: nothing it was asked
  // to change was changed.
  bool switched_to_check_only = false;
};

}  // namespace tarvel

#endif  // TARVEL_RUN_RUN_REPORT_H_
