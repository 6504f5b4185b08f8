// Real song titles, album titles and artist names through the file-name
// chain with the default tables and MeCab: how many read as a Japanese reader
// expects. The rates may only go up; a change that makes readings worse fails.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "rules/chains.h"
#include "rules_test_support.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::RulesFixture;
using testing::U8;

// The rates measured when the corpus was written, in entries that read right.
constexpr int kLevel1Hits = 215;  // of 259
constexpr int kLevel2Hits = 98;   // of 109

struct CorpusEntry {
  int line = 0;
  std::u16string text, level1, level2;
};

std::vector<std::u16string> SplitTabs(const std::u16string& line) {
  std::vector<std::u16string> fields(1);
  for (char16_t c : line) {
    if (c == u'\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::vector<CorpusEntry> ReadCorpus() {
  std::ifstream in(TARVEL_SOURCE_DIR "/tests/rules/data/reading_corpus.tsv", std::ios::binary);
  EXPECT_TRUE(in) << "the corpus file cannot be read";
  std::vector<CorpusEntry> entries;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::optional<std::u16string> text = Utf8ToUtf16(line);
    EXPECT_TRUE(text.has_value()) << "line " << number << " is not UTF-8";
    if (!text) continue;
    std::vector<std::u16string> fields = SplitTabs(*text);
    EXPECT_TRUE(fields.size() == 2 || fields.size() == 3) << "line " << number;
    if (fields.size() < 2) continue;
    CorpusEntry entry{number, fields[0], ToHalfWidthKana(fields[1]), {}};
    if (fields.size() > 2) entry.level2 = fields[2];
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The name the file-name chain makes of TEXT.mp3 at the given level.
std::u16string Convert(RulesFixture& f, const std::u16string& text, int level) {
  f.app.settings.ConvertLevelFilename = level;
  std::u16string name = text + u".mp3";
  EXPECT_EQ(ConvertFileName(name, f.app), 1) << U8(text);
  return name;
}

TEST(ReadingCorpusTest, TitlesAndNamesReadAsAReaderExpects) {
  RulesFixture f;
  f.app.reading = testing::SharedMecab();
  if (f.app.reading == nullptr) GTEST_SKIP() << "MeCab with the UTF-8 IPA dictionary is missing";
  ASSERT_TRUE(testing::LoadDefaultTables(f.app));
  f.app.settings.FlagDicEnabledFilename = 1;
  f.app.settings.FlagDetectFullCharFilename = 1;

  const std::vector<CorpusEntry> entries = ReadCorpus();
  int level2_entries = 0;
  for (const CorpusEntry& e : entries) level2_entries += e.level2.empty() ? 0 : 1;
  ASSERT_GE(entries.size(), 200u);
  ASSERT_GE(level2_entries * 4, static_cast<int>(entries.size()));

  int level1_hits = 0, level2_hits = 0;
  std::string misses;
  for (const CorpusEntry& e : entries) {
    std::u16string got = Convert(f, e.text, 1);
    if (got == e.level1 + u".mp3") {
      ++level1_hits;
    } else {
      misses += "  line " + std::to_string(e.line) + ", level 1: " + U8(e.text) + " gave " +
                U8(got) + ", expected " + U8(e.level1) + ".mp3\n";
    }
    if (e.level2.empty()) continue;
    got = Convert(f, e.text, 2);
    if (got == e.level2 + u".mp3") {
      ++level2_hits;
    } else {
      misses += "  line " + std::to_string(e.line) + ", level 2: " + U8(e.text) + " gave " +
                U8(got) + ", expected " + U8(e.level2) + ".mp3\n";
    }
  }
  std::cout << "level 1: " << level1_hits << " of " << entries.size() << " read right ("
            << level1_hits * 1000 / static_cast<int>(entries.size()) / 10.0 << " %)\n"
            << "level 2: " << level2_hits << " of " << level2_entries << " read right ("
            << level2_hits * 1000 / level2_entries / 10.0 << " %)\n"
            << "misses:\n"
            << misses;
  RecordProperty("level1_hits", level1_hits);
  RecordProperty("level2_hits", level2_hits);
  EXPECT_GE(level1_hits, kLevel1Hits) << misses;
  EXPECT_GE(level2_hits, kLevel2Hits) << misses;
}

}  // namespace
}  // namespace tarvel
