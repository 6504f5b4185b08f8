#include "ui/presets.h"

namespace tarvel {
namespace {

using C = PresetControl;

// Every preset turns on the conversion it is for and leaves the other one as
// its player needs it; the two players start in check-only mode so that the
// first run only reports.
constexpr PresetAssignment kOther[] = {
    {C::kConvertFilename, 1},
    {C::kConvertID3Tag, 1},
};
constexpr PresetAssignment kZ919[] = {
    {C::kConvertFilename, 1},        {C::kCheckOnlyFilename, 1},    {C::kDicEnabledFilename, 1},
    {C::kDetectFullCharFilename, 1}, {C::kLimit30Char, 1},          {C::kLengthName, 30},
    {C::kRenameFolderName, 1},       {C::kConvertLevelFilename, 1}, {C::kConvertID3Tag, 0},
};
constexpr PresetAssignment kFCD7[] = {
    {C::kConvertFilename, 0},  {C::kConvertID3Tag, 1},        {C::kCheckOnlyID3Tag, 1},
    {C::kDicEnabledID3Tag, 1}, {C::kDetectFullCharID3Tag, 1}, {C::kConvertLevelID3Tag, 1},
    {C::kID3TagArtist, 2},     {C::kID3TagAlbum, 1},          {C::kID3TagTitle, 0},
};

}  // namespace

std::u16string_view PresetCaption(int index) {
  switch (index) {
    case kPresetOther:
      return u"それ以外";
    case kPresetZ919:
      return u"Kenwood Z919";
    case kPresetFCD7:
      return u"Kenwood f-CD7";
  }
  return {};
}

std::span<const PresetAssignment> PresetAssignments(int index) {
  switch (index) {
    case kPresetOther:
      return kOther;
    case kPresetZ919:
      return kZ919;
    case kPresetFCD7:
      return kFCD7;
  }
  return {};
}

std::u16string_view PresetMessage(int index) {
  switch (index) {
    case kPresetOther:
      return u"各種設定を自由に設定できます";
    case kPresetZ919:
      return u"ライティングはRomeoで行ってください。";
    case kPresetFCD7:
      return u"この設定は、ID3Tagのアルバム名にMP3ファイルのあるフォルダ名が反映されます。"
             u"フォルダ名にはアーティストの名前を設定しておいてください。\r\n"
             u"f-"
             u"CD7の表示設定は、上段にID3Tagのアルバム名とアーティスト名を、下段にスペアナをお勧め"
             u"します。\r\n"
             u"また、ライティングはRomeoで行ってください。";
  }
  return {};
}

}  // namespace tarvel
