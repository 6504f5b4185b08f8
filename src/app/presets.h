// The player presets: for each player, the options it sets, in the order
// they are set, and the message that explains it. The window applies one
// when its preset button is chosen, tarvel-cli with --preset.
#ifndef TARVEL_APP_PRESETS_H_
#define TARVEL_APP_PRESETS_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "app/settings.h"

namespace tarvel {

// The presets' indexes (the value stored in Player).
inline constexpr int kPresetOther = 0;
inline constexpr int kPresetZ919 = 1;
inline constexpr int kPresetFCD7 = 2;
inline constexpr int kPresetCount = 3;

// The assignments of preset `index` in the order they are made (0 or 1 for a
// flag, a length, or the index of an option group's button); empty for an
// index outside 0 to 2. Options not listed keep their values.
std::span<const SettingChange> PresetAssignments(int index);
// The preset's explanation (CR LF between lines); empty outside 0 to 2.
std::u16string_view PresetMessage(int index);
// The title of the preset messages.
inline constexpr char16_t kPresetMessageTitle[] = u"この設定について";

// The names tarvel-cli takes for the presets ("z919", "fcd7", "other") by
// index; empty outside 0 to 2.
std::string_view PresetName(int index);
// The preset of that name (ASCII letters in either case), or nothing.
std::optional<int> FindPreset(std::string_view name);

// Sets Player to `index`, then makes the preset's assignments in order.
// Nothing happens for an index outside 0 to 2.
void ApplyPreset(Settings& settings, int index);

}  // namespace tarvel

#endif  // TARVEL_APP_PRESETS_H_
