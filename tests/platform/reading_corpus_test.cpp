// Titles, artist names, numbers with counters, place names and mixed texts
// through the MeCab reading service: how many read as a Japanese reader
// expects, per kind of text. A kind that reads worse than it did fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/mecab_reading.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;

constexpr char kIpadic[] = "/var/lib/mecab/dic/ipadic-utf8";

// The entries of each kind that read right when last measured, less a
// little, so that a change which makes readings worse shows.
struct Floor {
  std::string_view category;
  int hits;
};
constexpr Floor kFloors[] = {
    {"title", 105}, {"artist", 74}, {"counter", 245}, {"place", 75}, {"mixed", 72},
};

struct CorpusEntry {
  int line = 0;
  std::u16string text, reading;
  std::string category;
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::vector<CorpusEntry> ReadCorpus() {
  std::ifstream in(TARVEL_SOURCE_DIR "/tests/platform/data/reading_corpus.tsv", std::ios::binary);
  EXPECT_TRUE(in) << "the corpus file cannot be read";
  std::vector<CorpusEntry> entries;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = SplitTabs(line);
    std::optional<std::u16string> text = Utf8ToUtf16(fields[0]);
    std::optional<std::u16string> reading =
        Utf8ToUtf16(fields.size() > 1 ? fields[1] : std::string());
    const bool known = std::any_of(std::begin(kFloors), std::end(kFloors), [&](const Floor& f) {
      return fields.size() == 3 && f.category == fields[2];
    });
    EXPECT_TRUE(text && reading && known) << "line " << number << " is not text, reading, kind";
    if (!text || !reading || !known) continue;
    entries.push_back({number, *text, *reading, fields[2]});
  }
  return entries;
}

TEST(ReadingCorpusTest, EachKindReadsAsAReaderExpects) {
  if (!std::filesystem::exists(std::filesystem::path(kIpadic) / "sys.dic")) {
    GTEST_SKIP() << "the UTF-8 IPA dictionary is not installed at " << kIpadic;
  }
  // As the programs read: with the music dictionary built beside them.
  MecabReadingService service(kIpadic, TARVEL_BINARY_DIR "/music.dic");
  ASSERT_TRUE(service.IsAvailable()) << service.LastError();
  const std::vector<CorpusEntry> entries = ReadCorpus();
  ASSERT_GE(entries.size(), 400u);

  std::map<std::string, std::pair<int, int>> score;  // hits, entries
  std::string misses;
  for (const CorpusEntry& e : entries) {
    const std::u16string got = HiraganaToKatakana(service.GetPhonetic(e.text).value_or(u"?"));
    auto& [hits, count] = score[e.category];
    ++count;
    if (got == e.reading) {
      ++hits;
    } else {
      misses += "  line " + std::to_string(e.line) + " (" + e.category + "): " + U8(e.text) +
                " gave " + U8(got) + ", expected " + U8(e.reading) + "\n";
    }
  }
  int all_hits = 0;
  for (const auto& [category, s] : score) {
    all_hits += s.first;
    std::cout << category << ": " << s.first << " of " << s.second << " ("
              << s.first * 1000 / s.second / 10.0 << " %)\n";
  }
  std::cout << "overall: " << all_hits << " of " << entries.size() << " ("
            << all_hits * 1000 / static_cast<int>(entries.size()) / 10.0 << " %)\nmisses:\n"
            << misses;
  for (const Floor& f : kFloors) {
    EXPECT_GE(score[std::string(f.category)].first, f.hits) << f.category;
  }
}

}  // namespace
}  // namespace tarvel
