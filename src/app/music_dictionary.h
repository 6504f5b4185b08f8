// Where the reading service finds the music dictionary: a MeCab user
// dictionary of artist names, titles and the words they use, built from
// data/music_dic.csv and loaded with the IPA dictionary.
#ifndef TARVEL_APP_MUSIC_DICTIONARY_H_
#define TARVEL_APP_MUSIC_DICTIONARY_H_

#include <string>
#include <string_view>

#include "app/app_folder.h"

namespace tarvel {

// The name of the compiled music dictionary, installed with the tables.
inline constexpr std::string_view kMusicDicFileName = "music.dic";

// The user dictionary for the reading service. `env` is the value of
// $TARVEL_MECAB_USERDIC (null when unset): a path in it wins, and an empty
// value means none. Otherwise music.dic from the first of the folder's table
// folders that has it (beside the program in portable mode; the user's own
// folder, then the installed data folder otherwise), or none: an empty
// string, with which the service reads with the system dictionary alone.
std::string MusicDictionaryPath(const AppFolder& folder, const char* env);
// The same with this process's environment.
std::string MusicDictionaryPath(const AppFolder& folder);

}  // namespace tarvel

#endif  // TARVEL_APP_MUSIC_DICTIONARY_H_
