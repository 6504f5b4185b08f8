// The road of a CD image of the converted copy: the export plan, its checks
// and those of a disc (Joliet names, the size of a CD, the room beside the
// image), then the image itself, written from the library without changing
// it.
#ifndef TARVEL_RUN_ISO_EXPORT_H_
#define TARVEL_RUN_ISO_EXPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "files/iso_image.h"
#include "platform/disk_ops.h"
#include "run/export_plan.h"
#include "run/export_run.h"
#include "run/player_limits.h"

namespace tarvel {

// What a disc image cannot hold of a plan that CheckExportPlan takes: a
// name longer than Joliet's 64 UTF-16 characters (never cut: the player
// would show another name than the change table), or holding a character
// Joliet forbids (* / : ; ? \), which would be replaced. Empty when the
// image can be written.
std::vector<ExportPlanProblem> CheckImagePlan(const ExportPlan& plan);

struct ImageReport {
  using Outcome = ExportReport::Outcome;
  // kRefused: the plan's names, the size of a CD or the room beside the
  // image; kInvalidFolder also for an image path in the library, or one
  // whose folder does not exist. Nothing is written unless kCompleted.
  Outcome outcome = Outcome::kCompleted;
  std::string detail;  // English, naming the file at fault
  int64_t files = 0;   // the plan's files, folders and their bytes
  int64_t folders = 0;
  uint64_t bytes = 0;
  uint64_t image_size = 0;  // known once laid out, also when refused for its size
  std::string label;        // the volume label
  PlayerCheck player;       // as for an export to a folder
};

struct ImageOptions {
  uint64_t max_sectors = kCdSectors;  // of kIsoSectorSize bytes
};

// Writes `plan` into the image `file` (absolute, UTF-8), replacing one
// there only when the new one is whole. Progress goes to `ui`
// (ProgressStage::kExport, files).
ImageReport WriteImage(const ExportPlan& plan, const std::string& file, FrontEnd& ui,
                       DiskOps& disk = SystemDiskOps(), ImageOptions options = {});

// The image of the library app.settings.PathDataFolder, converted as a run
// would, the library left as it is; refused, as an export is, when it
// breaks a limit of the player.
ImageReport RunImageExport(AppState& app, const std::string& file, DiskOps& disk = SystemDiskOps(),
                           ImageOptions options = {});

}  // namespace tarvel

#endif  // TARVEL_RUN_ISO_EXPORT_H_
