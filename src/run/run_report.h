// What a conversion run tells its front end when it is over.
#ifndef TARVEL_RUN_RUN_REPORT_H_
#define TARVEL_RUN_RUN_REPORT_H_

#include <string>
#include <vector>

namespace tarvel {

struct RunReport {
  enum class Outcome {
    kCompleted,      // the run reached its end (also "nothing to change")
    kStopped,        // a stage failed and ended the run
    kRefused,        // a check before the first change found a change that cannot be
                     // made: nothing was changed and no list written
    kInvalidFolder,  // the data folder names nothing, or is the root folder
    kBusy,           // another run or restore is in progress
  };
  Outcome outcome = Outcome::kCompleted;
  // list.csv was written, at `list_path`.
  bool list_written = false;
  std::u16string list_path;
  // Why a stage failed or the run was refused, naming the file or folder
  // (UTF-8); empty otherwise.
  std::string detail;
  // One line (UTF-8) for each file whose tag the run left alone although its
  // texts changed: too short to hold a tag, or a second name of a file whose
  // tag is written through its first. Such rows have TagFlag 0 in the list.
  std::vector<std::string> tags_left_alone;
  // A character the full-width check could not convert turned a run that
  // was to change names or tags into a check-only one: nothing it was asked
  // to change was changed.
  bool switched_to_check_only = false;
};

}  // namespace tarvel

#endif  // TARVEL_RUN_RUN_REPORT_H_
