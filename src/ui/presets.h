// The player presets of the main window: which controls each of the three
// buttons sets, in which order, and the message that explains it.
#ifndef TARVEL_UI_PRESETS_H_
#define TARVEL_UI_PRESETS_H_

#include <span>
#include <string_view>

namespace tarvel {

// The option controls a preset can set.
enum class PresetControl {
  kConvertFilename,         // check box
  kCheckOnlyFilename,       // check box
  kDicEnabledFilename,      // check box
  kDetectFullCharFilename,  // check box
  kLimit30Char,             // check box
  kLengthName,              // number box
  kRenameFolderName,        // check box
  kConvertLevelFilename,    // option group index
  kConvertID3Tag,           // check box
  kCheckOnlyID3Tag,         // check box
  kDicEnabledID3Tag,        // check box
  kDetectFullCharID3Tag,    // check box
  kConvertLevelID3Tag,      // option group index
  kID3TagArtist,            // option group index
  kID3TagAlbum,             // option group index
  kID3TagTitle,             // option group index
};

// One assignment: a check box takes 0 or 1, the number box a length, an
// option group the index of the button to select.
struct PresetAssignment {
  PresetControl control;
  int value;
};

// The preset buttons' indexes (the value stored in Player).
inline constexpr int kPresetOther = 0;
inline constexpr int kPresetZ919 = 1;
inline constexpr int kPresetFCD7 = 2;
inline constexpr int kPresetCount = 3;

// The captions of the preset buttons by index.
std::u16string_view PresetCaption(int index);
// The assignments of preset `index` in the order they are made; empty for an
// index outside 0 to 2. Controls not listed keep their values.
std::span<const PresetAssignment> PresetAssignments(int index);
// The preset's explanation (CR LF between lines); empty outside 0 to 2.
std::u16string_view PresetMessage(int index);
// The title of the preset messages.
inline constexpr char16_t kPresetMessageTitle[] = u"この設定について";
// The label under the preset buttons.
inline constexpr char16_t kPresetNote[] =
    u"プリセット選択時はチェックのみになっていますので、確認後、はずしてください。";

}  // namespace tarvel

#endif  // TARVEL_UI_PRESETS_H_
