// The conversion pass: turns a freshly scanned entry table into a plan. It
// converts every row's new name and tag texts, numbers names that would
// collide, decides per row what is to be applied and counts the changes.
#ifndef TARVEL_RUN_CONVERSION_PASS_H_
#define TARVEL_RUN_CONVERSION_PASS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/entry_table.h"

namespace tarvel {

// Runs the three loops over rows 1..EntryCount: conversion (lets pending
// events run once per row), duplicates, flags and ChangeCount. Returns 1, or
// 0 after an unexpected error (a numbered name that cannot be built within
// LengthName, for instance), which ends the pass at once without a message;
// the rows keep what was set so far (on two threads, rows after the one
// that failed may have been converted too; nothing is said of them).
//
// When a chain found a character it could not make half-width, the pass
// turns the run into a check-only one after the conversion loop (both
// check-only settings become 1, the front end ticks their boxes once), so
// that no row is renamed or has its tag written. `switched_to_check_only`
// (when given) then tells whether the run was to change anything before.
//
// A table of kItemsForASecondThread rows or more is converted on two
// threads, the other one with a copy of the state and a reading service of
// its own (when app.reading can give one, see NewForAnotherThread). The
// rows, the log, the messages and the notices are those of one thread going
// through the rows in order: what is said is kept per part of the rows and
// passed on in their order after the loop; pending events run and progress
// is reported on the calling thread only.
int32_t ConvertEntries(AppState& app, RunState& run, bool* switched_to_check_only = nullptr);

// How the conversion loop is shared with a second thread: the rows go in
// parts of `rows_per_part` rows (0: all on the calling thread); each thread
// takes the next part not yet taken, or, with `alternate`, the calling
// thread the even parts and the other the odd ones (for tests, which must
// know that both threads had rows).
struct PassSchedule {
  int32_t rows_per_part = 0;
  bool alternate = false;
};
// The parts of ConvertEntries: small enough that the two threads end
// close together, large enough that taking one costs nothing.
inline constexpr int32_t kRowsPerPart = 256;

// ConvertEntries on the given schedule. A reading service that cannot be
// had twice, or a table of one part, keeps the loop on one thread.
int32_t ConvertEntriesScheduled(AppState& app, RunState& run, const PassSchedule& schedule,
                                bool* switched_to_check_only = nullptr);

// The name of the last folder of `path` (a trailing "/" dropped) as stored on
// disk; empty when nothing is there, when the lookup fails, and for the root
// folder, which has no name of its own.
std::u16string GetFolderName(std::u16string_view path);

// Numbers row i's NewName while another row (before i with its resolved name,
// after i as converted) has the same NewPath + NewName under text comparison.
// The last row is never renumbered. Each numbering appends the duplicate
// notice to the log whatever FlagDisplayLog says. Throws when a numbered name
// cannot be built.
//
// The rows whose names are to be compared are found through a hash index on
// the text-comparison key, kept up to date as names are resolved, so the cost
// per row does not grow with the size of the table. The index holds only the
// keys' hashes; a row found under a hash is compared by its full key.
class DuplicateResolver {
 public:
  // A key's hash. 32 bits are enough: two keys that share one are told
  // apart by the keys themselves, and a million rows have a few hundred such
  // pairs, while the index of a million rows is half the size.
  using KeyHash = uint32_t;

  explicit DuplicateResolver(const RunState& run);
  int32_t ResolveDuplicates(AppState& app, RunState& run, int32_t i);

 private:
  // The key of a folder path, kept while consecutive rows share it.
  struct PathKey {
    std::u16string path;
    std::u16string key;
  };
  static std::u16string Key(const FileEntry& row, std::u16string_view name, PathKey& memo);
  std::u16string Key(const FileEntry& row, std::u16string_view name) {
    return Key(row, name, path_key_);
  }
  // Sets the hashes of rows [from, to) of `run` (and their places in
  // by_hash_).
  void HashRows(const RunState& run, int32_t from, int32_t to);
  // True when a row other than i has the comparison key `key`.
  bool Taken(const RunState& run, int32_t i, const std::u16string& key, KeyHash hash);
  // True when `visit` is true for a row other than `except` whose key now
  // has the hash `hash`.
  template <typename Visit>
  bool AnyRowWithHash(KeyHash hash, int32_t except, Visit&& visit) const;

  PathKey path_key_;
  std::vector<KeyHash> row_hashes_;  // the hash of each row's key as it is now
  // (hash, row) of every row's first key, sorted; rows given a numbered name
  // since are found in moved_ under their new hash.
  std::vector<std::pair<KeyHash, int32_t>> by_hash_;
  std::unordered_multimap<KeyHash, int32_t> moved_;
};

// The next numbered form of `candidate`: "-" + number appended to the name
// (for a file, before its four-character extension, which becomes ".mp3"),
// the name cut so that it and the suffix fit in `length_name` characters.
// Throws std::invalid_argument when the suffix alone does not fit, or when a
// file name is shorter than its extension.
std::u16string MakeUniqueName(std::u16string_view candidate, int32_t number, int32_t length_name,
                              bool is_file = true);

// The duplicate notice for `name`.
std::u16string DuplicateNotice(std::u16string_view name);

}  // namespace tarvel

#endif  // TARVEL_RUN_CONVERSION_PASS_H_
