// The 22 options that steer every run, named exactly as their keys in the
// "Option" section of the settings file, and their loading and saving.
#ifndef TARVEL_APP_SETTINGS_H_
#define TARVEL_APP_SETTINGS_H_

#include <cstdint>
#include <string>

namespace tarvel {

struct Settings {
  std::u16string PathDataFolder;  // root of the scan
  int32_t Player = 1;
  int32_t FlagDisplayLog = 1;
  int32_t FlagRenameSubfolders = 1;
  int32_t FlagRenameFolderName = 1;
  int32_t FlagCreateCSVFile = 1;
  int32_t FlagPathSaveCSV = 0;
  int32_t FlagConvertFilename = 1;
  int32_t FlagCheckOnlyFilename = 1;
  int32_t FlagLimit30Char = 1;
  int32_t LengthName = 30;
  int32_t FlagDicEnabledFilename = 1;
  int32_t FlagDetectFullCharFilename = 1;
  int32_t ConvertLevelFilename = 1;
  int32_t FlagConvertID3Tag = 1;
  int32_t FlagCheckOnlyID3Tag = 1;
  int32_t FlagDicEnabledID3Tag = 1;
  int32_t FlagDetectFullCharID3Tag = 1;
  int32_t ConvertLevelID3Tag = 1;
  int32_t ID3TagArtist = 0;
  int32_t ID3TagAlbum = 0;
  int32_t ID3TagTitle = 0;
};

}  // namespace tarvel

#endif  // TARVEL_APP_SETTINGS_H_
