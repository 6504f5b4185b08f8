#include "run/iso_export.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/library_lock.h"
#include "platform/unique_fd.h"
#include "run/run_guard.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using Outcome = ImageReport::Outcome;

// A refusal names this many problems, then counts the rest.
constexpr size_t kProblemsShown = 10;

ImageReport Ended(ImageReport report, Outcome outcome, std::string detail) {
  report.outcome = outcome;
  report.detail = std::move(detail);
  return report;
}

std::string_view LastName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string ProblemText(const std::vector<ExportPlanProblem>& problems) {
  std::string text;
  for (size_t i = 0; i < problems.size() && i < kProblemsShown; ++i) {
    if (i > 0) text += '\n';
    text += problems[i].detail;
  }
  if (problems.size() > kProblemsShown) {
    text += "\n(and " + std::to_string(problems.size() - kProblemsShown) + " more)";
  }
  return text + "\nnothing was written";
}

// Where the image goes: a file (or no entry yet) in an existing folder
// outside the library. Empty when it can go there, else why not.
std::string PlaceProblem(const ExportPlan& plan, const std::string& file) {
  std::error_code ec;
  const fs::path library = fs::weakly_canonical(plan.library, ec);
  const fs::path target = fs::weakly_canonical(file, ec);
  if (!library.empty() && !target.empty() &&
      std::mismatch(library.begin(), library.end(), target.begin(), target.end()).first ==
          library.end()) {
    return file + " lies in the library " + plan.library +
           ", which an export never writes: choose a place outside it";
  }
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return file + " is not a file";
  }
  const fs::path folder = fs::path(file).parent_path();
  if (!fs::is_directory(folder, ec)) return "the folder " + folder.native() + " does not exist";
  return {};
}

IsoImageRequest MakeRequest(const ExportPlan& plan, int library_fd, const std::string& label,
                            uint64_t max_sectors) {
  IsoImageRequest job;
  job.source_dir_fd = library_fd;
  job.volume_id = label;
  job.max_sectors = max_sectors;
  job.entries.reserve(plan.items.size());
  for (const ExportItem& item : plan.items) {
    job.entries.push_back(
        {item.is_file, item.source, item.target, item.source_size, item.audio_size, item.tag});
  }
  return job;
}

Outcome OutcomeOf(IsoImageResult::Outcome outcome) {
  switch (outcome) {
    case IsoImageResult::Outcome::kWritten:
      return Outcome::kCompleted;
    case IsoImageResult::Outcome::kTooLarge:
    case IsoImageResult::Outcome::kNoRoom:
      return Outcome::kRefused;
    case IsoImageResult::Outcome::kFailed:
      return Outcome::kStopped;
  }
  return Outcome::kStopped;
}

}  // namespace

std::vector<ExportPlanProblem> CheckImagePlan(const ExportPlan& plan) {
  static constexpr std::string_view kForbidden = "*:;?\\";
  std::vector<ExportPlanProblem> problems;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const std::string_view name = LastName(plan.items[i].target);
    if (const size_t length = JolietLength(name); length > kJolietNameMax) {
      problems.push_back({i, "the name " + std::string(name) + " (in " + plan.items[i].target +
                                 ") has " + std::to_string(length) +
                                 " characters; a disc's Joliet names have at most " +
                                 std::to_string(kJolietNameMax)});
    } else if (name.find_first_of(kForbidden) != std::string_view::npos) {
      problems.push_back({i, "the name " + std::string(name) + " (in " + plan.items[i].target +
                                 ") holds a character a disc's Joliet names cannot: * : ; ? \\"});
    }
  }
  return problems;
}

ImageReport WriteImage(const ExportPlan& plan, const std::string& file, FrontEnd& ui, DiskOps& disk,
                       ImageOptions options) {
  ImageReport report;
  report.files = plan.file_count;
  report.folders = plan.folder_count;
  report.bytes = plan.byte_count;
  report.label = IsoVolumeLabel(LastName(plan.library));
  std::vector<ExportPlanProblem> problems = CheckExportPlan(plan);
  if (problems.empty()) problems = CheckImagePlan(plan);
  if (!problems.empty()) return Ended(report, Outcome::kRefused, ProblemText(problems));
  if (std::string why = PlaceProblem(plan, file); !why.empty()) {
    return Ended(report, Outcome::kInvalidFolder, why);
  }
  const UniqueFd library =
      disk.OpenAt(AT_FDCWD, plan.library.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!library) {
    return Ended(report, Outcome::kStopped,
                 "cannot open " + plan.library + ": " + std::strerror(errno));
  }
  const IsoImageRequest job = MakeRequest(plan, library.get(), report.label, options.max_sectors);
  const int64_t total = plan.file_count;
  const IsoImageResult result = WriteIsoImage(
      job, file,
      [&ui, total](int64_t files) {
        ui.ReportProgress(ProgressStage::kExport, files, total);
        ui.PumpEvents();
      },
      disk);
  report.image_size = result.image_size;
  if (result.outcome == IsoImageResult::Outcome::kWritten) {
    ui.ReportProgress(ProgressStage::kExport, total, total);
  }
  return Ended(report, OutcomeOf(result.outcome), result.detail);
}

ImageReport RunImageExport(AppState& app, const std::string& file, DiskOps& disk,
                           ImageOptions options) {
  ExportPlan plan;
  PlayerCheck player;
  ImageReport report = ReportOfPlan<ImageReport>(MakePlayerExportPlan(app, plan, player, disk));
  report.player = std::move(player);
  if (report.outcome != Outcome::kCompleted) return report;
  if (!report.player.violations.empty()) {
    report.files = plan.file_count;
    report.folders = plan.folder_count;
    report.bytes = plan.byte_count;
    std::string text = RefusalText(report.player);
    return Ended(std::move(report), Outcome::kRefused, std::move(text));
  }
  // No run or restore renames the library while the image reads it.
  RunGuard guard(app);
  LibraryLock lock;
  std::string why;
  if (!guard.acquired() || lock.Take(plan.library, &why) != LibraryLock::Status::kTaken) {
    return Ended(report, Outcome::kBusy, why);
  }
  ImageReport written = WriteImage(plan, file, *app.ui, disk, options);
  written.player = std::move(report.player);
  return written;
}

}  // namespace tarvel
