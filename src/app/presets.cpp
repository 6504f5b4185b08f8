#include "app/presets.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace tarvel {
namespace {

using S = Settings;

// Every preset turns on the conversion it is for and leaves the other one as
// its player needs it; the two players start in check-only mode so that the
// first run only reports. Full-width detection comes before the level, so
// that no level rule speaks while a preset is set.
//
// The limits of what a player reads come last. Nothing more is known of
// these players than that they read discs written with Joliet names, so
// each takes what car players of their kind commonly read: folders 8 deep,
// 255 folders, 255 files in a folder, 64 characters in a name (Joliet's
// own limit). The two car players read a CD, so their copy must fit the
// 700 MB of a CD-R; "other" may be a player that reads a stick, so it sets
// no size (the image's own check still keeps an image to a CD).
constexpr SettingChange kOther[] = {
    {&S::FlagConvertFilename, 1}, {&S::FlagConvertID3Tag, 1},  {&S::MaxFolderDepth, 8},
    {&S::MaxFolderCount, 255},    {&S::MaxFilesInFolder, 255}, {&S::MaxNameLength, 64},
    {&S::MaxMegabytes, 0},
};
constexpr SettingChange kZ919[] = {
    {&S::FlagConvertFilename, 1},    {&S::FlagCheckOnlyFilename, 1},
    {&S::FlagDicEnabledFilename, 1}, {&S::FlagDetectFullCharFilename, 1},
    {&S::FlagLimit30Char, 1},        {&S::LengthName, 30},
    {&S::FlagRenameFolderName, 1},   {&S::ConvertLevelFilename, 1},
    {&S::FlagConvertID3Tag, 0},      {&S::MaxFolderDepth, 8},
    {&S::MaxFolderCount, 255},       {&S::MaxFilesInFolder, 255},
    {&S::MaxNameLength, 64},         {&S::MaxMegabytes, 700},
};
constexpr SettingChange kFCD7[] = {
    {&S::FlagConvertFilename, 0},
    {&S::FlagConvertID3Tag, 1},
    {&S::FlagCheckOnlyID3Tag, 1},
    {&S::FlagDicEnabledID3Tag, 1},
    {&S::FlagDetectFullCharID3Tag, 1},
    {&S::ConvertLevelID3Tag, 1},
    {&S::ID3TagArtist, 2},
    {&S::ID3TagAlbum, 1},
    {&S::ID3TagTitle, 0},
    {&S::MaxFolderDepth, 8},
    {&S::MaxFolderCount, 255},
    {&S::MaxFilesInFolder, 255},
    {&S::MaxNameLength, 64},
    {&S::MaxMegabytes, 700},
};

constexpr std::string_view kNames[kPresetCount] = {"other", "z919", "fcd7"};

bool InRange(int index) { return index >= 0 && index < kPresetCount; }

}  // namespace

std::span<const SettingChange> PresetAssignments(int index) {
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

std::string_view PresetName(int index) { return InRange(index) ? kNames[index] : ""; }

std::optional<int> FindPreset(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (int i = 0; i < kPresetCount; ++i) {
    if (kNames[i] == folded) return i;
  }
  return std::nullopt;
}

void ApplyPreset(Settings& settings, int index) {
  if (!InRange(index)) return;
  settings.Player = index;
  ApplyChanges(settings, PresetAssignments(index));
}

}  // namespace tarvel
