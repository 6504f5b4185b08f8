#include "app/settings_rules.h"

#include "platform/text.h"

namespace tarvel {
namespace {

bool ChoosesRomaji(const Settings& s) {
  return s.ConvertLevelFilename == 2 || s.ConvertLevelID3Tag == 2;
}

}  // namespace

RuleOutcome RomajiRule(const Settings& settings, bool rome_table_found) {
  if (rome_table_found || !ChoosesRomaji(settings)) return {};
  return {kRomajiRefusedMessage,
          {{&Settings::ConvertLevelFilename, 0}, {&Settings::ConvertLevelID3Tag, 0}}};
}

RuleOutcome RomajiRule(const Settings& settings, const AppFolder& folder) {
  if (!ChoosesRomaji(settings)) return {};
  return RomajiRule(settings, folder.FindTable(kRomeFileName).has_value());
}

RuleOutcome LevelZeroRule(const Settings& settings, Conversion conversion) {
  const bool names = conversion == Conversion::kFileName;
  const int32_t level = names ? settings.ConvertLevelFilename : settings.ConvertLevelID3Tag;
  if (level != 0) return {};
  return {
      kLevelZeroMessage,
      {{names ? &Settings::FlagDetectFullCharFilename : &Settings::FlagDetectFullCharID3Tag, 0}}};
}

std::optional<std::u16string> ReadingServiceRefusal(MecabReadingService& reading) {
  if (reading.IsAvailable()) return std::nullopt;
  std::u16string text = kReadingMissingMessage;
  if (auto why = Utf8ToUtf16(reading.LastError()); why && !why->empty()) text += u"\r\n" + *why;
  return text;
}

std::optional<std::u16string> ConversionRunRefusal(const Settings& settings,
                                                   const AppFolder& folder,
                                                   MecabReadingService& reading) {
  if (auto refusal = ReadingServiceRefusal(reading)) return refusal;
  if (RuleOutcome romaji = RomajiRule(settings, folder); romaji.applies()) {
    return std::u16string(romaji.message);
  }
  return std::nullopt;
}

}  // namespace tarvel
