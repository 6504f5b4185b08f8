#include "app/disk_entry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tarvel {
namespace {

// An entry that names its row, so that a test sees which entry moved where.
DiskEntry Marked(size_t row) {
  DiskEntry e;
  e.ino = row * 10 + 1;
  return e;
}

std::vector<size_t> Rows(const DiskEntryRows& table) {
  std::vector<size_t> rows;
  for (const auto& [row, e] : table) {
    EXPECT_EQ(e.ino, row * 10 + 1) << "row " << row << " holds another row's entry";
    rows.push_back(row);
  }
  return rows;
}

std::vector<size_t> Span(size_t from, size_t to, size_t step = 1) {
  std::vector<size_t> rows;
  for (size_t r = from; r < to; r += step) rows.push_back(r);
  return rows;
}

// Small tables put rows in by row; large ones are built in order, in pieces
// and with rows merged in. Every way ends sorted, each row once, each row
// with its own entry, across chunk boundaries.
TEST(DiskEntryRowsTest, EveryWayOfFillingKeepsRowsSortedAndOwnEntries) {
  const struct {
    const char* name;
    std::vector<size_t> inserted;  // by emplace, in this order
    std::vector<size_t> appended;  // then a second table appended
    std::vector<size_t> merged;    // then a third merged in
    size_t truncated_to;           // then cut (SIZE_MAX: not cut)
    std::vector<size_t> expected;
  } kCases[] = {
      {"reversed inserts", {9, 7, 2, 1}, {}, {}, SIZE_MAX, {1, 2, 7, 9}},
      {"a row inserted twice keeps one", {4, 4, 1, 4}, {}, {}, SIZE_MAX, {1, 4}},
      {"many reversed inserts",
       [] {
         auto r = Span(1, 600);
         return std::vector<size_t>(r.rbegin(), r.rend());
       }(),
       {},
       {},
       SIZE_MAX,
       Span(1, 600)},
      {"halves appended", Span(0, 300), Span(300, 900), {}, SIZE_MAX, Span(0, 900)},
      {"appended to empty", {}, Span(5, 800, 3), {}, SIZE_MAX, Span(5, 800, 3)},
      {"halves joined, then cut", Span(0, 300), Span(300, 900), {}, 400, Span(0, 400)},
      {"halves joined, then cut in the first", Span(0, 300), Span(300, 900), {}, 290, Span(0, 290)},
      {"halves joined, then merged into",
       Span(0, 600, 2),
       Span(600, 700),
       {1, 299, 650},
       SIZE_MAX,
       [] {
         auto r = Span(0, 600, 2);
         r.insert(r.begin() + 1, 1);
         r.insert(r.begin() + 151, 299);
         for (size_t row : Span(600, 700)) r.push_back(row);
         return r;
       }()},
      {"few merged into many",
       Span(0, 1000, 2),
       {},
       {1, 513, 999, 5001},
       SIZE_MAX,
       [] {
         auto r = Span(0, 1000, 2);
         r.insert(r.begin() + 1, 1);
         r.insert(r.begin() + 258, 513);
         r.push_back(999);
         r.push_back(5001);
         return r;
       }()},
      {"merged rows both hold keep one",
       Span(0, 600),
       {},
       {0, 256, 599, 600},
       SIZE_MAX,
       Span(0, 601)},
      {"merged into empty", {}, {}, {3, 8}, SIZE_MAX, {3, 8}},
      {"cut inside a chunk", Span(0, 700), {}, {}, 300, Span(0, 300)},
      {"cut on a chunk boundary", Span(0, 700), {}, {}, 512, Span(0, 512)},
      {"cut to nothing", Span(0, 20), {}, {}, 0, {}},
      {"cut to one", Span(0, 700), {}, {}, 1, {0}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DiskEntryRows table;
    for (size_t row : c.inserted) table.emplace(row, Marked(row));
    DiskEntryRows later;
    for (size_t row : c.appended) later.append(row, Marked(row));
    table.append(std::move(later));
    EXPECT_TRUE(later.empty());
    DiskEntryRows few;
    for (size_t row : c.merged) few.append(row, Marked(row));
    table.merge(std::move(few));
    EXPECT_TRUE(few.empty());
    if (c.truncated_to != SIZE_MAX) table.truncate(c.truncated_to);
    EXPECT_EQ(Rows(table), c.expected);
    EXPECT_EQ(table.size(), c.expected.size());
    // The table still grows after whatever was done to it, into new chunks.
    const size_t beyond = c.expected.empty() ? 1 : c.expected.back() + 1;
    const std::vector<size_t> more = Span(beyond, beyond + 2 * DiskEntryRows::kChunkRows);
    for (size_t row : more) table.append(row, Marked(row));
    EXPECT_EQ(table.size(), c.expected.size() + more.size());
    size_t found = 0;
    for (size_t row : more) found += table.count(row) == 1 && table.at(row).ino == row * 10 + 1;
    EXPECT_EQ(found, more.size());
  }
}

TEST(DiskEntryRowsTest, LookupsFindOnlyRowsThatAreThere) {
  DiskEntryRows table;
  for (size_t row : Span(10, 3000, 10)) table.append(row, Marked(row));
  const DiskEntryRows& read = table;
  const struct {
    size_t row;
    bool there;
    size_t lower_bound;  // 0: none
  } kCases[] = {
      {0, false, 10},      {10, true, 10},     {11, false, 20},
      {2555, false, 2560}, {2560, true, 2560}, {1991, false, 2000},
      {2990, true, 2990},  {2991, false, 0},   {5000, false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(read.count(c.row), c.there ? 1u : 0u);
    EXPECT_EQ(read.find(c.row) != read.end(), c.there);
    if (c.there) {
      EXPECT_EQ(read.find(c.row)->second.ino, c.row * 10 + 1);
      EXPECT_EQ(read.at(c.row).ino, c.row * 10 + 1);
    } else {
      EXPECT_THROW(read.at(c.row), std::out_of_range);
    }
    auto at = read.lower_bound(c.row);
    EXPECT_EQ(at == read.end() ? 0 : at->first, c.lower_bound);
  }
}

TEST(TagBytesTest, HoldsNothingOrExactlyOneBlock) {
  const std::string tag = "TAG" + std::string(125, '\xff');
  const struct {
    const char* name;
    std::string bytes;
    bool accepted;
  } kCases[] = {
      {"nothing", "", true},
      {"a whole block", tag, true},
      {"a byte short", tag.substr(1), false},
      {"a byte over", tag + "x", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TagBytes block = std::string("TAG") + std::string(125, 'a');
    if (!c.accepted) {
      EXPECT_THROW(block.assign(c.bytes.data(), c.bytes.size()), std::length_error);
      EXPECT_EQ(block.view(), "TAG" + std::string(125, 'a'));  // left as it was
      continue;
    }
    block.assign(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(block, c.bytes);
    EXPECT_EQ(block.size(), c.bytes.size());
    EXPECT_EQ(block.empty(), c.bytes.empty());
    EXPECT_EQ(std::string(block.begin(), block.end()), c.bytes);
    EXPECT_EQ(block, TagBytes(c.bytes));
  }
}

}  // namespace
}  // namespace tarvel
