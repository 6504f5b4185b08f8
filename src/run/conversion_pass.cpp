#include "run/conversion_pass.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "app/report.h"
#include "platform/reading_service.h"
#include "platform/text.h"
#include "platform/two_threads.h"
#include "rules/chains.h"
#include "rules/repairs.h"

namespace tarvel {
namespace {

// The source of a new tag text: 1 the file name as found without its last
// four characters, 2 the name of the folder that holds the file, anything
// else the text read from the tag.
void TakeTagSource(int32_t source, const FileEntry& row, SharedText& text,
                   const SharedText& folder_name) {
  if (source == 1) {
    // A name shorter than its extension (a file called "mp3") gives an empty
    // text rather than ending the pass.
    size_t keep = row.OldName.size() >= 4 ? row.OldName.size() - 4 : 0;
    text = row.OldName.view().substr(0, CutPosition(row.OldName, keep));
  } else if (source == 2) {
    text = folder_name;
  }
}

// Runs `convert` on the text of `text` and keeps what it made, in a buffer
// no larger than the text; a text it leaves as it was keeps its buffer,
// which it may share with the old text of its row.
template <typename Convert>
void ConvertShared(SharedText& text, Convert convert) {
  std::u16string converted = text.str();
  convert(converted);
  if (text != converted) text = converted;
}

// The last tag text converted for one field and what it became. The rows of
// an album follow each other and mostly share their artist and album, so a
// text equal to the last one is taken from here, as long as no conversion
// has said anything since (which could have changed a setting).
// The texts that come from here share one buffer across the rows that take
// them, and keep the old text's buffer when nothing changed.
class TagMemo {
 public:
  void Convert(SharedText& text, AppState& app, bool& switch_to_check_only) {
    if (valid_ && notices_ == app.rule_notices && text == input_) {
      if (!unchanged_) text = output_;
      app.row_notices |= row_notices_;
      return;
    }
    const uint64_t before = app.rule_notices;
    const uint8_t row_before = app.row_notices;
    app.row_notices = 0;
    input_ = text;
    ConvertShared(text, [&](std::u16string& t) { ConvertTagText(t, app, &switch_to_check_only); });
    row_notices_ = app.row_notices;
    app.row_notices |= row_before;
    valid_ = app.rule_notices == before;
    if (valid_) {
      output_ = text;
      unchanged_ = output_ == input_;
      notices_ = before;
    }
  }

 private:
  bool valid_ = false;
  uint64_t notices_ = 0;
  bool unchanged_ = false;   // output_ is input_ (a text taken from here keeps its buffer)
  uint8_t row_notices_ = 0;  // what the conversion of input_ said about its row
  SharedText input_;
  SharedText output_;
};

}  // namespace

std::u16string DuplicateNotice(std::u16string_view name) {
  std::u16string text = u"重複したファイル名を検出しました。";
  text += kCrLf;
  text += u"　ファイル名　：　";
  text += name;
  text += kCrLf;
  text += u"　重複番号を付加して処理を続行します。";
  text += kCrLf;
  return text;
}

std::u16string GetFolderName(std::u16string_view path) {
  std::u16string p(path);
  if (p.size() > 1 && p.back() == u'/') p.pop_back();
  if (p.empty()) return {};
  std::string bytes = Utf16ToUtf8(p);
  struct stat st {};
  if (::stat(bytes.c_str(), &st) != 0) return {};
  std::filesystem::path fs_path(bytes);
  std::string name = fs_path.filename().native();
  if (name == "." || name == ".." || name.empty()) {
    // "music/." and the like: the folder's own name.
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(fs_path, ec);
    if (ec) return {};
    name = real.filename().native();
  }
  if (name.empty()) return {};  // the root folder
  auto text = Utf8ToUtf16(name);
  return text ? *text : std::u16string();
}

std::u16string MakeUniqueName(std::u16string_view candidate, int32_t number, int32_t length_name,
                              bool is_file) {
  std::u16string suffix = u"-" + DecimalText(number);
  if (length_name < static_cast<int32_t>(suffix.size())) {
    throw std::invalid_argument("the duplicate number does not fit in LengthName");
  }
  std::u16string base(candidate);
  if (is_file) {
    if (base.size() < 4) throw std::invalid_argument("a file name shorter than its extension");
    base.resize(base.size() - 4);
  }
  size_t budget = static_cast<size_t>(length_name) - suffix.size();
  if (base.size() + suffix.size() > static_cast<size_t>(length_name)) {
    base.resize(CutPosition(base, budget));
  }
  base += suffix;
  if (is_file) base += u".mp3";
  return base;
}

namespace {
DuplicateResolver::KeyHash HashKey(const std::u16string& key) {
  const uint64_t hash = std::hash<std::u16string>{}(key);
  return static_cast<DuplicateResolver::KeyHash>(hash ^ (hash >> 32));
}
}  // namespace

DuplicateResolver::DuplicateResolver(const RunState& run) {
  const int32_t count = std::max(run.EntryCount, 0);
  row_hashes_.resize(static_cast<size_t>(count) + 1);
  by_hash_.resize(static_cast<size_t>(count));
  // The keys of a large table are made on two threads, each half in its own
  // rows' places (rows count from 1).
  RunInHalves(static_cast<size_t>(count), [&](size_t from, size_t to) {
    HashRows(run, static_cast<int32_t>(from) + 1, static_cast<int32_t>(to) + 1);
  });
  std::sort(by_hash_.begin(), by_hash_.end());
}

void DuplicateResolver::HashRows(const RunState& run, int32_t from, int32_t to) {
  PathKey memo;
  for (int32_t j = from; j < to; ++j) {
    const FileEntry& row = run.EntryTable[j];
    row_hashes_[j] = HashKey(Key(row, row.NewName, memo));
    by_hash_[j - 1] = {row_hashes_[j], j};
  }
}

template <typename Visit>
bool DuplicateResolver::AnyRowWithHash(KeyHash hash, int32_t except, Visit&& visit) const {
  // An entry whose row has moved to another hash since is passed over.
  auto first = std::lower_bound(by_hash_.begin(), by_hash_.end(),
                                std::pair<KeyHash, int32_t>(hash, INT32_MIN));
  for (auto it = first; it != by_hash_.end() && it->first == hash; ++it) {
    if (it->second != except && row_hashes_[it->second] == hash && visit(it->second)) return true;
  }
  auto [from, to] = moved_.equal_range(hash);
  for (auto it = from; it != to; ++it) {
    if (it->second != except && row_hashes_[it->second] == hash && visit(it->second)) return true;
  }
  return false;
}

// Paths end in "/", which never combines with what follows, so the key of
// path + name is the key of the path followed by the key of the name; the
// path's key is kept while consecutive rows share a folder.
std::u16string DuplicateResolver::Key(const FileEntry& row, std::u16string_view name,
                                      PathKey& memo) {
  if (row.NewPath != memo.path || memo.key.empty()) {
    memo.path = row.NewPath;
    memo.key = ComparisonKey(row.NewPath);
  }
  if (!row.NewPath.empty() && row.NewPath.back() == u'/') {
    return memo.key + ComparisonKey(name);
  }
  return ComparisonKey(row.NewPath + std::u16string(name));
}

bool DuplicateResolver::Taken(const RunState& run, int32_t i, const std::u16string& key,
                              KeyHash hash) {
  return AnyRowWithHash(hash, i, [&](int32_t other) {
    const FileEntry& row = run.EntryTable[other];
    return Key(row, row.NewName) == key;
  });
}

int32_t DuplicateResolver::ResolveDuplicates(AppState& app, RunState& run, int32_t i) {
  if (i == run.EntryCount) return 1;
  // Most rows share their key's hash with no other row: they need no key.
  KeyHash hash = row_hashes_[i];
  if (!AnyRowWithHash(hash, i, [](int32_t) { return true; })) return 1;
  FileEntry& row = run.EntryTable[i];
  const std::u16string shown = row.NewName.str();
  std::u16string candidate = row.NewName.str();
  std::u16string key = Key(row, candidate);
  int32_t number = 1;
  while (Taken(run, i, key, hash)) {
    app.ui->AppendLog(DuplicateNotice(shown));
    row.Notices |= kNoticeNumbered;
    ++number;
    candidate = MakeUniqueName(candidate, number, app.settings.LengthName, row.IsFile == 1);
    key = Key(row, candidate);
    hash = HashKey(key);
  }
  if (candidate != row.NewName) {
    if (hash != row_hashes_[i]) {
      row_hashes_[i] = hash;
      moved_.emplace(hash, i);
    }
    row.NewName = candidate;
  }
  return 1;
}

namespace {

// The name of the folder that holds the rows of one folder, looked up once
// per folder: the rows of a folder follow each other.
class FolderNameMemo {
 public:
  const SharedText& For(std::u16string_view path) {
    if (!known_ || path_ != path) {
      path_ = path;
      name_ = GetFolderName(path);
      known_ = true;
    }
    return name_;
  }

 private:
  bool known_ = false;
  std::u16string path_;
  SharedText name_;
};

// The conversion of the rows' tag texts, with one memo per field.
struct TagConversion {
  FolderNameMemo folder;
  TagMemo artist, album, title;

  void Convert(AppState& app, FileEntry& row, bool& switch_to_check_only) {
    const Settings& s = app.settings;
    static const SharedText kNoFolder;
    const bool needs_folder = s.ID3TagArtist == 2 || s.ID3TagAlbum == 2 || s.ID3TagTitle == 2;
    const SharedText& folder_name = needs_folder ? folder.For(row.OldPath) : kNoFolder;
    TakeTagSource(s.ID3TagArtist, row, row.NewArtist, folder_name);
    TakeTagSource(s.ID3TagAlbum, row, row.NewAlbum, folder_name);
    TakeTagSource(s.ID3TagTitle, row, row.NewTitle, folder_name);
    artist.Convert(row.NewArtist, app, switch_to_check_only);
    album.Convert(row.NewAlbum, app, switch_to_check_only);
    title.Convert(row.NewTitle, app, switch_to_check_only);
  }
};

// Converts a row's new name and tag texts, keeping what the rules said of
// it with the row.
void ConvertRow(AppState& app, FileEntry& row, TagConversion& tags, bool& switch_to_check_only) {
  const Settings& s = app.settings;
  app.row_notices = 0;
  if (row.IsFile != 1) {
    if (s.FlagConvertFilename == 1 && s.FlagRenameFolderName == 1) {
      ConvertShared(row.NewName,
                    [&](std::u16string& t) { ConvertFolderName(t, app, &switch_to_check_only); });
    }
  } else {
    if (s.FlagConvertFilename == 1) {
      ConvertShared(row.NewName,
                    [&](std::u16string& t) { ConvertFileName(t, app, &switch_to_check_only); });
    }
    if (s.FlagConvertID3Tag == 1) tags.Convert(app, row, switch_to_check_only);
  }
  row.Notices = app.row_notices;
}

// The first loop on one thread: every row's new name and tag texts. Sets
// `switch_to_check_only` when a chain asked for it.
void ConvertRows(AppState& app, RunState& run, bool& switch_to_check_only) {
  TagConversion tags;
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    app.ui->PumpEvents();
    app.ui->ReportProgress(ProgressStage::kConvert, i, run.EntryCount);
    ConvertRow(app, run.EntryTable[i], tags, switch_to_check_only);
  }
}

// What the rules say while converting one part of the rows, kept in order
// until the parts before it are through: log text (consecutive pieces
// joined) and messages.
class KeptFrontEnd : public FrontEnd {
 public:
  void AppendLog(std::u16string_view text) override {
    if (said_.empty() || said_.back().message) said_.push_back({false, {}});
    said_.back().text += text;
  }
  void ShowMessage(std::u16string_view text) override {
    said_.push_back({true, std::u16string(text)});
  }
  void ShowLog() override {}
  void PumpEvents() override {}
  void TickCheckOnlyBoxes() override {}

  // Says everything kept to `ui`, in the order it was said.
  void PassOn(FrontEnd& ui) const {
    for (const Said& said : said_) {
      if (said.message) {
        ui.ShowMessage(said.text);
      } else {
        ui.AppendLog(said.text);
      }
    }
  }

 private:
  struct Said {
    bool message;
    std::u16string text;
  };
  std::vector<Said> said_;
};

// One part of the rows as converted: what was said, how many notices, and
// whether a chain asked for the check-only switch.
struct PartOutput {
  KeptFrontEnd said;
  uint64_t notices = 0;
  bool switch_to_check_only = false;
  bool failed = false;               // the conversion of a row threw; the rows after it were left
  std::atomic<bool> through{false};  // the rest is set and stays so
};

// The conversion loop shared by two threads, each with a state of its own
// (the calling thread the program's, the other a copy with a reading service
// of its own). The rows go in parts; a thread converts the next part not yet
// taken, so that a thread the system holds back does not hold the other
// one up. The calling thread passes on what the parts said in the order of
// the rows as they are through, so the log and the notices read as if one
// thread had gone through them.
class SharedLoop {
 public:
  SharedLoop(RunState& run, const PassSchedule& schedule)
      : run_(run),
        schedule_(schedule),
        parts_((run.EntryCount + schedule.rows_per_part - 1) / schedule.rows_per_part) {}

  // Converts parts until none is left; `thread` is 0 for the calling thread,
  // 1 for the other; `each_row` is called after every row.
  void Work(AppState& app, int thread, const std::function<void()>& each_row,
            const std::function<void()>& each_part) {
    TagConversion tags;
    for (int32_t part = Take(thread); part >= 0; part = Take(thread)) {
      ConvertPart(app, part, tags, each_row);
      each_part();
    }
  }
  int32_t RowsDone() const { return rows_done_.load(std::memory_order_relaxed); }

  // Passes on to `ui`, in the order of the rows, what the parts that are
  // through said, up to one that failed (one thread would have stopped
  // there); a part's text is let go once said. Calling thread only.
  void PassOnReady(FrontEnd& ui) {
    while (passed_ < parts_.size() && !stopped_ &&
           parts_[passed_].through.load(std::memory_order_acquire)) {
      PartOutput& part = parts_[passed_++];
      part.said.PassOn(ui);
      part.said = KeptFrontEnd();
      notices_ += part.notices;
      switch_ = switch_ || part.switch_to_check_only;
      stopped_ = part.failed;
    }
  }

  // After both threads: passes on what is left and sets the notices' count.
  // Throws when a part failed.
  void Finish(AppState& app, uint64_t notices_before, bool& switch_to_check_only) {
    PassOnReady(*app.ui);
    app.rule_notices = notices_before + notices_;
    switch_to_check_only = switch_to_check_only || switch_;
    if (stopped_) throw std::runtime_error("the conversion of a row failed");
  }

 private:
  // The next part for `thread`, or -1: none is left, or every part before
  // one that failed is taken.
  int32_t Take(int thread) {
    int32_t part;
    if (schedule_.alternate) {
      part = thread + 2 * taken_[thread]++;
    } else {
      part = next_.fetch_add(1, std::memory_order_relaxed);
    }
    if (part >= static_cast<int32_t>(parts_.size())) return -1;
    return part < first_failed_.load(std::memory_order_acquire) ? part : -1;
  }

  void ConvertPart(AppState& app, int32_t part, TagConversion& tags,
                   const std::function<void()>& each_row) {
    PartOutput& out = parts_[static_cast<size_t>(part)];
    FrontEnd* const ui = app.ui;
    app.ui = &out.said;
    const uint64_t before = app.rule_notices;
    const int32_t first = part * schedule_.rows_per_part + 1;
    const int32_t last = std::min(run_.EntryCount, first + schedule_.rows_per_part - 1);
    try {
      for (int32_t i = first; i <= last; ++i) {
        ConvertRow(app, run_.EntryTable[i], tags, out.switch_to_check_only);
        rows_done_.fetch_add(1, std::memory_order_relaxed);
        each_row();
      }
    } catch (const std::exception&) {
      out.failed = true;
      int32_t seen = first_failed_.load();
      while (part < seen && !first_failed_.compare_exchange_weak(seen, part)) {
      }
    }
    out.notices = app.rule_notices - before;
    app.ui = ui;
    out.through.store(true, std::memory_order_release);
  }

  RunState& run_;
  const PassSchedule schedule_;
  std::vector<PartOutput> parts_;
  std::atomic<int32_t> next_{0};
  int32_t taken_[2] = {0, 0};  // parts each thread has taken (alternate)
  std::atomic<int32_t> first_failed_{INT32_MAX};
  std::atomic<int32_t> rows_done_{0};
  // What has been passed on (calling thread only).
  size_t passed_ = 0;
  uint64_t notices_ = 0;
  bool switch_ = false;
  bool stopped_ = false;
};

// The first loop on two threads (see SharedLoop). Throws when a row's
// conversion failed, after what came before it has been said.
void ConvertRowsOnTwoThreads(AppState& app, RunState& run, const PassSchedule& schedule,
                             std::unique_ptr<ReadingService> second_reading,
                             bool& switch_to_check_only) {
  SharedLoop loop(run, schedule);
  AppState second(app);
  second.reading = second_reading.get();
  FrontEnd& ui = *app.ui;
  const uint64_t notices_before = app.rule_notices;
  auto show_progress = [&] {
    ui.PumpEvents();
    ui.ReportProgress(ProgressStage::kConvert, loop.RowsDone(), run.EntryCount);
  };
  // The log follows the rows as far as they are through, and what is said
  // does not pile up.
  auto pass_on = [&] { loop.PassOnReady(ui); };
  RunInTwoParts([&] { loop.Work(app, 0, show_progress, pass_on); },
                [&] {
                  loop.Work(
                      second, 1, [] {}, [] {});
                },
                [&] {
                  show_progress();
                  pass_on();
                });
  loop.Finish(app, notices_before, switch_to_check_only);
}

// The first loop, on two threads when the schedule asks for it and the
// reading service can be had twice.
void ConvertAllRows(AppState& app, RunState& run, const PassSchedule& schedule,
                    bool& switch_to_check_only) {
  std::unique_ptr<ReadingService> second_reading;
  bool shared = schedule.rows_per_part > 0 && schedule.rows_per_part < run.EntryCount;
  if (shared && app.reading != nullptr) {
    second_reading = app.reading->NewForAnotherThread();
    shared = second_reading != nullptr;
  }
  if (!shared) {
    ConvertRows(app, run, switch_to_check_only);
    return;
  }
  ConvertRowsOnTwoThreads(app, run, schedule, std::move(second_reading), switch_to_check_only);
}

// Turns the run into a check-only one and ticks the front end's boxes. True
// when the run was to change names or tags before.
bool SwitchToCheckOnly(AppState& app) {
  Settings& s = app.settings;
  const bool was_applying = s.FlagCheckOnlyFilename != 1 || s.FlagCheckOnlyID3Tag != 1;
  s.FlagCheckOnlyFilename = 1;
  s.FlagCheckOnlyID3Tag = 1;
  app.ui->TickCheckOnlyBoxes();
  return was_applying;
}

// The third loop: what is to be applied to each row, and ChangeCount.
void PlanRows(const Settings& s, RunState& run) {
  run.ChangeCount = 0;
  for (int32_t i = 1; i <= run.EntryCount; ++i) {
    FileEntry& row = run.EntryTable[i];
    bool name_changed = row.NewPath != row.OldPath || row.NewName != row.OldName;
    bool rename = name_changed && s.FlagConvertFilename == 1 && s.FlagCheckOnlyFilename != 1;
    bool changed;
    if (row.IsFile != 1) {
      changed = name_changed && s.FlagRenameFolderName == 1;
      row.RenameFlag = changed && s.FlagConvertFilename == 1 && s.FlagCheckOnlyFilename != 1;
    } else {
      row.RenameFlag = rename ? 1 : 0;
      bool tag_changed = row.NewArtist != row.OldArtist || row.NewTitle != row.OldTitle ||
                         row.NewAlbum != row.OldAlbum;
      row.TagFlag = tag_changed && s.FlagConvertID3Tag == 1 && s.FlagCheckOnlyID3Tag != 1 ? 1 : 0;
      changed = name_changed || tag_changed;
    }
    if (changed) ++run.ChangeCount;
  }
}

}  // namespace

int32_t ConvertEntries(AppState& app, RunState& run, bool* switched_to_check_only) {
  PassSchedule schedule;
  if (SecondThreadPays(static_cast<size_t>(std::max(run.EntryCount, 0)))) {
    schedule.rows_per_part = kRowsPerPart;
  }
  return ConvertEntriesScheduled(app, run, schedule, switched_to_check_only);
}

int32_t ConvertEntriesScheduled(AppState& app, RunState& run, const PassSchedule& schedule,
                                bool* switched_to_check_only) {
  bool switch_requested = false;
  bool converted = true;
  try {
    ConvertAllRows(app, run, schedule, switch_requested);
  } catch (const std::exception&) {
    converted = false;
  }
  // Every reading is made: the dictionary goes until the next pass, and the
  // rest of a run (the list, the record, the changes) runs without it.
  if (app.reading != nullptr) app.reading->Rest();
  // A check-only switch asked for before a failure still holds: the log
  // already says that the run goes on as a check-only one.
  const bool switched = switch_requested && SwitchToCheckOnly(app);
  if (switched_to_check_only != nullptr) *switched_to_check_only = switched;
  if (!converted) return 0;
  try {
    DuplicateResolver resolver(run);
    for (int32_t i = 1; i <= run.EntryCount; ++i) resolver.ResolveDuplicates(app, run, i);
    // The check-only switch holds for every row of the run.
    PlanRows(app.settings, run);
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace tarvel
