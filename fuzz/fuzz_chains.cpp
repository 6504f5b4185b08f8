// The three conversion chains on any text, with the real dictionary and
// romaji tables and a reading service with fixed readings (no dictionary of
// MeCab needed). The first byte picks the settings.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/tables.h"
#include "platform/text.h"
#include "rules/chains.h"
#include "rules/rules_test_support.h"

namespace {

struct Setup {
  Setup() {
    app.ui = &ui;
    app.reading = &reading;
    tarvel::LoadTable(std::filesystem::path(TARVEL_SOURCE_DIR "/data/dic.csv"), "dic.csv",
                      app.DicTable);
    tarvel::LoadTable(std::filesystem::path(TARVEL_SOURCE_DIR "/data/Rome.csv"), "Rome.csv",
                      app.RomeTable);
  }
  tarvel::SilentFrontEnd ui;
  tarvel::testing::FixedReadingService reading{
      {u"東京", u"トウキョウ"}, {u"夜", u"よる"}, {u"日本", u"にほん"}, {u"歌", u"うた"}};
  tarvel::AppState app;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvel;
  static Setup setup;
  if (size < 2) return 0;
  const uint8_t pick = data[0], more = data[1];
  Settings& s = setup.app.settings;
  s = Settings();
  s.FlagDisplayLog = pick & 1;
  s.FlagDicEnabledFilename = s.FlagDicEnabledID3Tag = (pick >> 1) & 1;
  s.FlagDetectFullCharFilename = s.FlagDetectFullCharID3Tag = (pick >> 2) & 1;
  s.ConvertLevelFilename = s.ConvertLevelID3Tag = ((pick >> 3) & 3) % 3;
  s.FlagLimit30Char = (pick >> 5) & 1;
  s.LengthName = 1 + more % 50;
  setup.reading.fail = (pick >> 6) & 1;
  const std::u16string input =
      Utf8ToUtf16Lossy(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2));

  std::u16string name = input;
  ConvertFileName(name, setup.app);
  std::u16string folder = input;
  ConvertFolderName(folder, setup.app);
  std::u16string tag = input;
  if (ConvertTagText(tag, setup.app) == 1 && tag.size() > kTagTextLength) __builtin_trap();
  return 0;
}
