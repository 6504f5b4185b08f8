// The rules that tie the options together and decide whether a conversion
// run may start, the same for every front end: romaji needs Rome.csv, a
// level of 0 turns the full-width check off, and no run starts without the
// reading service. The rules only say what to change and what to tell the
// user; the front end shows the message and carries the changes out (the
// window through its controls, whose handlers may follow up with rules of
// their own).
#ifndef TARVEL_APP_SETTINGS_RULES_H_
#define TARVEL_APP_SETTINGS_RULES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_folder.h"
#include "app/settings.h"
#include "platform/mecab_reading.h"

namespace tarvel {

inline constexpr char16_t kLevelZeroMessage[] =
    u"日本語を変換しない場合、全角の検出チェックは無効になります";
inline constexpr char16_t kRomajiRefusedMessage[] =
    u"ローマ字ファイルがないために、この変換は使用できません";
inline constexpr char16_t kReadingMissingMessage[] =
    u"読みの辞書（MeCab と IPA 辞書）を開けません。mecab-ipadic-utf8 をインストールしてください。";

// What a rule asks for: a message to show first (empty: none), then the
// changes in their order. Nothing at all when the rule does not apply.
struct RuleOutcome {
  std::u16string_view message;
  std::vector<SettingChange> changes;
  bool applies() const { return !message.empty() || !changes.empty(); }
};

// The two conversions whose options stand side by side.
enum class Conversion { kFileName, kID3Tag };

// Romaji (level 2) in either conversion while Rome.csv cannot be found: both
// levels go to 0 ("変換なし"), with kRomajiRefusedMessage.
RuleOutcome RomajiRule(const Settings& settings, bool rome_table_found);
// The same, looking for Rome.csv in `folder` only when a level is 2, and on
// disk at every call: a table added or removed while the program runs
// counts at once.
RuleOutcome RomajiRule(const Settings& settings, const AppFolder& folder);

// Level 0 ("変換なし") in `conversion`: its full-width check goes off (it
// would stop every Japanese name), with kLevelZeroMessage.
RuleOutcome LevelZeroRule(const Settings& settings, Conversion conversion);

// kReadingMissingMessage, with MeCab's reason (UTF-8) on a line of its own
// when there is one; nothing when `reading` can be opened.
std::optional<std::u16string> ReadingServiceRefusal(MecabReadingService& reading);

// Why a conversion run may not start: the reading service cannot be opened,
// or romaji is chosen without Rome.csv (kRomajiRefusedMessage). Nothing when
// it may start.
std::optional<std::u16string> ConversionRunRefusal(const Settings& settings,
                                                   const AppFolder& folder,
                                                   MecabReadingService& reading);

}  // namespace tarvel

#endif  // TARVEL_APP_SETTINGS_RULES_H_
