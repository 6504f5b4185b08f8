// tarvel-cli: the conversion run and the restore run of the window, for
// terminals, scripts and machines without a display.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/entry_table.h"
#include "app/music_dictionary.h"
#include "app/presets.h"
#include "app/settings.h"
#include "app/settings_rules.h"
#include "app/startup.h"
#include "cli/cli_front_end.h"
#include "cli/cli_text.h"
#include "cli/help_text.h"
#include "cli/terminal_progress.h"
#include "files/run_history.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "run/export_run.h"
#include "run/iso_export.h"
#include "run/restore_run.h"
#include "run/run_driver.h"

namespace tarvel {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitStopped = 1;
constexpr int kExitUsage = 2;

struct CliOptions {
  std::optional<std::string> settings_file;
  std::optional<std::string> preset;
  std::vector<std::string> sets;
  bool check_only = false;
  bool quiet = false;
  std::optional<std::string> restore_list;
  std::optional<std::string> library;
  std::optional<std::string> folder;
  std::optional<std::string> export_to;
  std::optional<std::string> iso;
  bool history = false;
  bool split_folders = false;
};

// `text` is already in the user's language.
void Error(const std::string& text) { std::fprintf(stderr, "tarvel-cli: %s\n", text.c_str()); }

// A message that comes from the core, in English: its marked texts are
// translated here.
void CoreError(const std::string& text) { Error(TranslateCoreText(text)); }

// The options that take no value, and what they turn on.
struct FlagOption {
  std::string_view name;
  bool CliOptions::*member;
};
constexpr FlagOption kFlagOptions[] = {
    {"--quiet", &CliOptions::quiet},
    {"--history", &CliOptions::history},
    {"--check-only", &CliOptions::check_only},
    {"--split-folders", &CliOptions::split_folders},
};

// The options that take a value ("--name VALUE" or "--name=VALUE"), and
// where it goes.
struct ValueOption {
  std::string_view name;
  void (*store)(CliOptions& options, std::string value);
};
constexpr ValueOption kValueOptions[] = {
    {"--settings", [](CliOptions& o, std::string v) { o.settings_file = std::move(v); }},
    {"--preset", [](CliOptions& o, std::string v) { o.preset = std::move(v); }},
    {"--set", [](CliOptions& o, std::string v) { o.sets.push_back(std::move(v)); }},
    {"--restore", [](CliOptions& o, std::string v) { o.restore_list = std::move(v); }},
    {"--library", [](CliOptions& o, std::string v) { o.library = std::move(v); }},
    {"--export-to", [](CliOptions& o, std::string v) { o.export_to = std::move(v); }},
    {"--iso", [](CliOptions& o, std::string v) { o.iso = std::move(v); }},
};

// Parses the option at argv[i] (moving i past its value). Returns an exit
// status when the program should end at once (help, version, usage errors).
std::optional<int> ParseOption(int argc, char** argv, int& i, CliOptions& options) {
  const std::string arg = argv[i];
  if (arg == "--help" || arg == "-h") {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (arg == "--version") {
    std::printf("tarvel-cli %s\n", TARVEL_CLI_VERSION);
    return kExitOk;
  }
  for (const FlagOption& flag : kFlagOptions) {
    if (arg != flag.name) continue;
    options.*flag.member = true;
    return std::nullopt;
  }
  for (const ValueOption& option : kValueOptions) {
    const std::string prefix = std::string(option.name) + "=";
    if (arg.starts_with(prefix)) {
      option.store(options, arg.substr(prefix.size()));
      return std::nullopt;
    }
    if (arg != option.name) continue;
    if (i + 1 >= argc) {
      Error(Fill(Tr("{1} needs a value"), {arg}));
      return kExitUsage;
    }
    option.store(options, argv[++i]);
    return std::nullopt;
  }
  Error(Fill(Tr("unknown option {1} (see --help)"), {EscapeBytes(arg)}));
  return kExitUsage;
}

// Refuses the options that do not go together.
std::optional<int> CheckCombination(const CliOptions& options) {
  const bool converts =
      options.folder || !options.sets.empty() || options.check_only || options.preset;
  if (options.history && (options.restore_list || converts)) {
    Error(Tr("--history takes no other option"));
    return kExitUsage;
  }
  if (options.restore_list && converts) {
    Error(Tr("--restore takes only the list (and --settings, --library)"));
    return kExitUsage;
  }
  if (options.export_to && (options.restore_list || options.history || options.check_only)) {
    Error("--export-to takes no --restore, --history or --check-only");
    return kExitUsage;
  }
  if (options.iso &&
      (options.export_to || options.restore_list || options.history || options.check_only)) {
    Error(Tr("--iso takes no --export-to, --restore, --history or --check-only"));
    return kExitUsage;
  }
  if (options.split_folders && !options.export_to && !options.iso) {
    Error(Tr("--split-folders goes with --export-to or --iso only"));
    return kExitUsage;
  }
  if (options.library && !options.restore_list) {
    Error(Tr("--library goes with --restore only"));
    return kExitUsage;
  }
  if (options.preset && !FindPreset(*options.preset)) {
    Error(Fill(Tr("unknown preset {1} (z919, fcd7 or other)"), {EscapeBytes(*options.preset)}));
    return kExitUsage;
  }
  return std::nullopt;
}

// Parses the arguments. Returns an exit status when the program should end
// at once (help, version, usage errors).
std::optional<int> ParseArguments(int argc, char** argv, CliOptions& options) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      if (auto status = ParseOption(argc, argv, i, options)) return status;
    } else if (options.folder) {
      Error(Tr("only one folder can be converted at a time (see --help)"));
      return kExitUsage;
    } else {
      options.folder = std::string(arg);
    }
  }
  return CheckCombination(options);
}

// The folder given with --library as the restore takes it: absolute (from
// the current folder), without "." or ".." segments, in UTF-16. Nothing,
// said on standard error, when it is no usable name.
std::optional<std::u16string> LibraryOption(const std::string& folder) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  if (ec || folder.empty()) {
    Error(Tr("--library needs a folder"));
    return std::nullopt;
  }
  std::optional<std::u16string> text = Utf8ToUtf16(absolute.lexically_normal().native());
  if (!text) Error(Fill(Tr("the folder name is not valid UTF-8: {1}"), {EscapeBytes(folder)}));
  return text;
}

// Says why the restore ended as kLibraryMissing.
void SayLibraryMissing(const RestoreReport& report, bool library_given) {
  if (library_given) {
    Error(Fill(Tr("{1} (given with --library)"), {TranslateCoreText(report.detail)}));
  } else {
    Error(Fill(Tr("{1}; if the library was copied or moved, give its new place with "
                  "--library FOLDER"),
               {TranslateCoreText(report.detail)}));
  }
}

// Says on standard error what the restore could not check or bring back.
void SayRestoreNotices(const RestoreReport& report) {
  if (report.unchecked) {
    Error(Fill(Tr("undo record not used ({1}, and no record kept in the history belongs to the "
                  "list): names and tag texts were restored, but the files' bytes, modes and "
                  "modification times could not be checked"),
               {TranslateCoreText(report.undo_notice)}));
  }
  if (!report.history_notice.empty()) CoreError(report.history_notice);
  for (const std::string& line : report.details.failed) {
    Error(Fill(Tr("not restored: {1}"), {TranslateCoreText(line)}));
  }
  for (const std::string& line : report.details.skipped) {
    Error(Fill(Tr("tag not restored: {1}"), {TranslateCoreText(line)}));
  }
  if (report.details.unreachable > 0) {
    Error(Fill(Tr("{1} rows lie in folders that were not found and were not restored"),
               {std::to_string(report.details.unreachable)}));
  }
}

// Undoes a run from the list at `list` (or the kept run of that name),
// whose library lies at `library` when one is given: 0 when every row is
// back, 1 when a row was reported or a step stopped the restore, 2 when the
// list cannot be read or its library is not there.
int Restore(AppState& app, CliFrontEnd& ui, std::string list,
            const std::optional<std::string>& library) {
  std::error_code ec;
  if (!std::filesystem::exists(list, ec) && list.find('/') == std::string::npos &&
      !app.folder.history_dir.empty() &&
      std::filesystem::exists(app.folder.history_dir / list / kHistoryListName, ec)) {
    list = (app.folder.history_dir / list / kHistoryListName).native();
  }
  auto path = Utf8ToUtf16(list);
  if (!path) {
    Error(Fill(Tr("the list name is not valid UTF-8: {1}"), {EscapeBytes(list)}));
    return kExitUsage;
  }
  std::u16string library_folder;
  if (library) {
    std::optional<std::u16string> folder = LibraryOption(*library);
    if (!folder) return kExitUsage;
    library_folder = *folder;
  }
  RunState run;
  RestoreReport report = RunRestore(app, run, *path, library_folder);
  ui.Finish();
  SayRestoreNotices(report);
  switch (report.outcome) {
    case RestoreReport::Outcome::kCompleted:
      return kExitOk;
    case RestoreReport::Outcome::kIncomplete:
      if (report.details.NotRestored() > 0) {
        Error(
            Fill(Tr("{1} rows were not restored"), {std::to_string(report.details.NotRestored())}));
      }
      return kExitStopped;
    case RestoreReport::Outcome::kStopped:
      if (!report.detail.empty()) CoreError(report.detail);
      return kExitStopped;
    case RestoreReport::Outcome::kListUnreadable:
      // The reader's reason names the file when it comes from the file system.
      if (report.detail.find(list) != std::string::npos) {
        Error(Fill(Tr("cannot read the list: {1}"), {TranslateCoreText(report.detail)}));
      } else if (report.detail.empty()) {
        Error(Fill(Tr("cannot read the list {1}"), {list}));
      } else {
        Error(Fill(Tr("cannot read the list {1}: {2}"), {list, TranslateCoreText(report.detail)}));
      }
      return kExitUsage;
    case RestoreReport::Outcome::kBusy:
      if (!report.detail.empty()) CoreError(report.detail);
      return kExitUsage;
    case RestoreReport::Outcome::kLibraryMissing:
      SayLibraryMissing(report, library.has_value());
      return kExitUsage;
  }
  return kExitUsage;
}

// Lists the kept runs, oldest first, then the current list: name (the
// current list's is its path), time, counts and folder, with marks for the
// current list and for lists restored from.
int History(const AppFolder& folder) {
  const std::vector<HistoryEntry> runs = ListRuns(folder, folder.list_dir / kRenameListName);
  if (runs.empty()) {
    std::printf(
        "%s\n",
        Fill(Tr("No runs are kept in {1}"), {EscapeBytes(folder.history_dir.native())}).c_str());
    return kExitOk;
  }
  for (const HistoryEntry& h : runs) {
    const std::string name =
        EscapeBytes(h.current ? h.list.native() : h.list.parent_path().filename().native());
    std::string marks;
    if (h.current) marks += std::string("  ") + Tr("[current]");
    if (!h.restored.empty()) marks += "  " + Fill(Tr("[restored {1}]"), {h.restored});
    std::string what = Tr("(not a readable list)");
    if (h.readable) {
      what = Fill(Tr("{1} rows, {2} renames, {3} tags  {4}"),
                  {std::to_string(h.rows), std::to_string(h.renames), std::to_string(h.tags),
                   Utf16ToUtf8(h.folder)});
    }
    std::printf("%s  %s  %s%s\n", name.c_str(), h.time.c_str(), what.c_str(), marks.c_str());
  }
  std::printf("%s\n", Fill(Tr("Kept in {1}; restore one with: tarvel-cli --restore NAME"),
                           {EscapeBytes(folder.history_dir.native())})
                          .c_str());
  return kExitOk;
}

// Start-up: the settings and the tables. An exit status when it failed.
std::optional<int> StartUp(AppState& app, CliFrontEnd& ui, const std::filesystem::path& exe,
                           const CliOptions& options) {
  std::optional<std::filesystem::path> settings_file;
  if (options.settings_file) settings_file = *options.settings_file;
  StartupResult startup = Startup(app, exe, settings_file);
  for (const auto& line : startup.notices) ui.AppendLog(line + u"\r\n");
  for (const std::string& line : startup.setting_notices) CoreError(line);
  if (startup.ok()) return std::nullopt;
  ui.ShowMessage(startup.message);
  if (!startup.detail.empty()) CoreError(startup.detail);
  if (startup.code == StartupResult::Code::kDictionaryMissing &&
      !app.folder.FindTable(kDicFileName)) {
    std::string folders;
    for (const std::filesystem::path& dir : app.folder.table_dirs) {
      folders += (folders.empty() ? "" : ", ") + EscapeBytes(dir.native());
    }
    Error(Fill(Tr("{1} was looked for in: {2}"), {kDicFileName, folders}));
  }
  return kExitUsage;
}

// The --set options, in order. An exit status for the first bad one.
std::optional<int> ApplySets(Settings& settings, const std::vector<std::string>& sets) {
  for (const std::string& set : sets) {
    auto text = Utf8ToUtf16(set);
    size_t eq = text ? text->find(u'=') : std::u16string::npos;
    if (eq == std::u16string::npos) {
      Error(Fill(Tr("--set needs KEY=VALUE, got {1}"), {EscapeBytes(set)}));
      return kExitUsage;
    }
    SetSettingResult r = SetSettingByName(settings, std::u16string_view(*text).substr(0, eq),
                                          std::u16string_view(*text).substr(eq + 1));
    if (!r.ok()) {
      CoreError(r.message);
      return kExitUsage;
    }
  }
  return std::nullopt;
}

// The options of the command line over those of the settings file: the
// preset, then --set (which may override what the preset set), then
// --check-only and the folder.
std::optional<int> ApplyOptions(Settings& settings, CliOptions& options) {
  if (options.preset) ApplyPreset(settings, *FindPreset(*options.preset));
  if (auto status = ApplySets(settings, options.sets)) return status;
  if (options.split_folders) settings.FlagSplitFolders = 1;
  if (options.check_only) {
    settings.FlagCheckOnlyFilename = 1;
    settings.FlagCheckOnlyID3Tag = 1;
  }
  if (!options.folder) return std::nullopt;
  // The list records full paths, so that a restore works from any working
  // folder: a relative FOLDER is taken from the current one.
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(*options.folder, ec);
  if (!ec) options.folder = absolute.native();
  auto folder = Utf8ToUtf16(*options.folder);
  if (!folder) {
    Error(Fill(Tr("the folder name is not valid UTF-8: {1}"), {EscapeBytes(*options.folder)}));
    return kExitUsage;
  }
  settings.PathDataFolder = *folder;
  return std::nullopt;
}

// A level of 0 turns that conversion's full-width check off, as choosing it
// in the window does: every Japanese name stays full-width at that level, so
// the check would turn each run into a check-only one. Said on standard error
// when a check was on.
void ApplyLevelZeroRules(Settings& settings) {
  for (Conversion conversion : {Conversion::kFileName, Conversion::kID3Tag}) {
    const RuleOutcome rule = LevelZeroRule(settings, conversion);
    bool changes = false;
    for (const SettingChange& change : rule.changes) {
      changes = changes || settings.*change.member != change.value;
    }
    if (!changes) continue;
    ApplyChanges(settings, rule.changes);
    Error(Utf16ToUtf8(rule.message));
  }
}

// Why the data folder `folder` cannot be used, naming it: not set, missing,
// not a folder or not reachable.
std::string DataFolderProblem(const std::u16string& folder) {
  if (folder.empty()) return Tr("no data folder is set: give FOLDER or set PathDataFolder");
  const std::string name = Utf16ToUtf8(folder);
  struct stat st {};
  std::string why;
  if (::stat(name.c_str(), &st) != 0) {
    const int err = errno;
    why = err == ENOENT ? Tr("it does not exist")
                        : Fill(Tr("it cannot be reached ({1})"), {std::strerror(err)});
  } else if (!S_ISDIR(st.st_mode)) {
    why = Tr("it is not a folder");
  } else if (::access(name.c_str(), R_OK | X_OK) != 0) {
    why = Fill(Tr("it cannot be read ({1})"), {std::strerror(errno)});
  } else {
    why = Tr("it cannot be used");
  }
  return Fill(Tr("the data folder {1} cannot be used: {2}"), {name, why});
}

// One conversion run: 0 when it reached its end, 1 when a stage stopped it
// or it was turned check-only, 2 when it may not or could not start.
int Convert(AppState& app, CliFrontEnd& ui, MecabReadingService& reading) {
  // The window refuses these before a run can be started; here they end the
  // program with the window's message.
  ApplyLevelZeroRules(app.settings);
  if (auto refusal = ConversionRunRefusal(app.settings, app.folder, reading)) {
    ui.ShowMessage(*refusal);
    return kExitUsage;
  }
  // The rows of a large run take tens of milliseconds to free, one text at
  // a time, just before the program ends and the system takes the memory
  // back at once: they are kept until then.
  static RunState* const kept_rows = new RunState;
  RunState& run = *kept_rows;
  RunReport report = RunConversion(app, run);
  ui.Finish();
  if (run.SkippedNameCount > 0) {
    Error(Fill(Tr("{1} names are not valid UTF-8 and were left out (see the log)"),
               {std::to_string(run.SkippedNameCount)}));
  }
  // Files that keep their tag are no failure: the run went on with the rest.
  for (const std::string& line : report.tags_left_alone) CoreError(line);
  switch (report.outcome) {
    case RunReport::Outcome::kCompleted:
      if (report.switched_to_check_only) {
        Error(
            Tr("a character could not be made half-width (see above), so the run only checked: "
               "nothing was changed"));
        return kExitStopped;
      }
      return run.SkippedNameCount > 0 ? kExitStopped : kExitOk;
    case RunReport::Outcome::kStopped:
      if (!report.detail.empty()) CoreError(report.detail);
      return kExitStopped;
    case RunReport::Outcome::kRefused:
      Error(Fill(Tr("{1}; nothing was changed"), {TranslateCoreText(report.detail)}));
      return kExitStopped;
    case RunReport::Outcome::kInvalidFolder:
      // The window's message says only that the folder is not usable.
      Error(report.detail.empty() ? DataFolderProblem(app.settings.PathDataFolder)
                                  : TranslateCoreText(report.detail));
      return kExitUsage;
    case RunReport::Outcome::kBusy:
      if (!report.detail.empty()) CoreError(report.detail);
      return kExitUsage;
  }
  return kExitUsage;
}

// Says how many full folders the export split into parts.
void SaySplit(const PlayerCheck& player) {
  if (player.folders_split == 0) return;
  std::printf("%s\n", Fill(Tr("{1} folders with too many files for the player split into parts"),
                           {GroupedNumber(player.folders_split)})
                          .c_str());
}

// Says how an export ended, and its exit status as for a run.
int ExportStatus(const ExportReport& report, const std::string& destination) {
  // A refused export wrote nothing: its reason alone is said.
  if (report.outcome == ExportReport::Outcome::kCompleted ||
      report.outcome == ExportReport::Outcome::kStopped) {
    std::printf(
        "Exported to %s: %lld files written, %lld already there, %lld folders made, %llu bytes\n",
        EscapeBytes(destination).c_str(), static_cast<long long>(report.files_written),
        static_cast<long long>(report.files_skipped), static_cast<long long>(report.folders_made),
        static_cast<unsigned long long>(report.bytes_written));
  }
  SaySplit(report.player);
  if (!report.detail.empty()) Error(report.detail);
  switch (report.outcome) {
    case ExportReport::Outcome::kCompleted:
      return kExitOk;
    case ExportReport::Outcome::kStopped:
    case ExportReport::Outcome::kRefused:
      return kExitStopped;
    case ExportReport::Outcome::kInvalidFolder:
    case ExportReport::Outcome::kBusy:
      return kExitUsage;
  }
  return kExitUsage;
}

// A converted copy of the library in `destination`, the library unchanged.
int Export(AppState& app, CliFrontEnd& ui, MecabReadingService& reading,
           const std::string& destination) {
  ApplyLevelZeroRules(app.settings);
  if (auto refusal = ConversionRunRefusal(app.settings, app.folder, reading)) {
    ui.ShowMessage(*refusal);
    return kExitUsage;
  }
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(destination, ec);
  if (ec || destination.empty()) {
    Error("--export-to needs a folder");
    return kExitUsage;
  }
  const ExportReport report = RunExport(app, absolute.lexically_normal().native());
  ui.Finish();
  return ExportStatus(report, absolute.lexically_normal().native());
}

// Says how the image ended, and its exit status as for an export.
int ImageStatus(const ImageReport& report, const std::string& file) {
  if (report.outcome == ImageReport::Outcome::kCompleted) {
    SaySplit(report.player);
    std::printf("%s\n",
                Fill(Tr("Image {1}: {2} files, {3} folders, {4} bytes of music; the "
                        "image takes {5} bytes, labelled {6}"),
                     {EscapeBytes(file), GroupedNumber(report.files), GroupedNumber(report.folders),
                      GroupedNumber(static_cast<int64_t>(report.bytes)),
                      GroupedNumber(static_cast<int64_t>(report.image_size)), report.label})
                    .c_str());
  }
  if (!report.detail.empty()) Error(report.detail);
  switch (report.outcome) {
    case ImageReport::Outcome::kCompleted:
      return kExitOk;
    case ImageReport::Outcome::kStopped:
    case ImageReport::Outcome::kRefused:
      return kExitStopped;
    case ImageReport::Outcome::kInvalidFolder:
    case ImageReport::Outcome::kBusy:
      return kExitUsage;
  }
  return kExitUsage;
}

// A CD image of the converted copy in `file`, the library unchanged.
int Image(AppState& app, CliFrontEnd& ui, MecabReadingService& reading, const std::string& file) {
  ApplyLevelZeroRules(app.settings);
  if (auto refusal = ConversionRunRefusal(app.settings, app.folder, reading)) {
    ui.ShowMessage(*refusal);
    return kExitUsage;
  }
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec).lexically_normal();
  if (ec || file.empty() || !absolute.has_filename()) {
    Error(Tr("--iso needs the name of an image file"));
    return kExitUsage;
  }
  const ImageReport report = RunImageExport(app, absolute.native());
  ui.Finish();
  return ImageStatus(report, absolute.native());
}

int Main(int argc, char** argv) {
  // The log of a large library is tens of megabytes: into a file or a pipe
  // it goes in large writes rather than one per page. A terminal keeps the
  // stream's own buffering, so that each line shows as it comes.
  if (::isatty(STDOUT_FILENO) != 1) {
    static char buffer[size_t{256} * 1024];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  if (auto exe = ExecutablePath()) SetUpMessages(*exe);
  CliOptions options;
  if (auto status = ParseArguments(argc, argv, options)) return *status;

  auto exe = ExecutablePath();
  if (!exe) {
    Error(Tr("cannot find the program's own folder (/proc/self/exe)"));
    return kExitUsage;
  }
  if (options.history) return History(FindAppFolder(*exe));
  // The progress line goes to standard error, and only to a terminal; it
  // outlives the front end that draws on it.
  std::optional<TerminalProgress> progress;
  if (!options.quiet && ::isatty(STDERR_FILENO) == 1) progress.emplace(STDERR_FILENO);
  CliFrontEnd ui;
  if (progress) ui.ShowProgressOn(&*progress, ::isatty(STDOUT_FILENO) == 1);
  AppState app;
  app.ui = &ui;
  if (auto status = StartUp(app, ui, *exe, options)) return *status;
  // The tagger is made on first use and kept; the music dictionary is found
  // where start-up found the tables.
  MecabReadingService reading(DefaultMecabDictionaryDir(), MusicDictionaryPath(app.folder));
  app.reading = &reading;
  if (auto status = ApplyOptions(app.settings, options)) return *status;
  if (options.restore_list) return Restore(app, ui, *options.restore_list, options.library);
  if (options.export_to) return Export(app, ui, reading, *options.export_to);
  if (options.iso) return Image(app, ui, reading, *options.iso);
  return Convert(app, ui, reading);
}

// The log on standard output is the user's record of what a run changed: a
// run whose log could not be written (a full disk) has not fully succeeded.
int FinishStandardOutput(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  const int err = errno;
  Error(err != 0 ? Fill(Tr("cannot write the log to standard output: {1}"), {std::strerror(err)})
                 : std::string(Tr("cannot write the log to standard output")));
  return status == kExitOk ? kExitStopped : status;
}

}  // namespace
}  // namespace tarvel

int main(int argc, char** argv) { return tarvel::FinishStandardOutput(tarvel::Main(argc, argv)); }
