// The player preset buttons of the main window: their captions and the note
// below them. What each preset sets lives in the core (app/presets.h).
#ifndef TARVEL_UI_PRESETS_H_
#define TARVEL_UI_PRESETS_H_

#include <string_view>

#include "app/presets.h"

namespace tarvel {

// The captions of the preset buttons by index.
std::u16string_view PresetCaption(int index);
// The label under the preset buttons.
inline constexpr char16_t kPresetNote[] =
    u"プリセット選択時はチェックのみになっていますので、確認後、はずしてください。";

}  // namespace tarvel

#endif  // TARVEL_UI_PRESETS_H_
