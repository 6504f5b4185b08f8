#include "app/music_dictionary.h"

#include <cstdlib>

namespace tarvel {

std::string MusicDictionaryPath(const AppFolder& folder, const char* env) {
  if (env != nullptr) return env;
  if (auto found = folder.FindTable(kMusicDicFileName)) return found->native();
  return {};
}

std::string MusicDictionaryPath(const AppFolder& folder) {
  return MusicDictionaryPath(folder, std::getenv("TARVEL_MECAB_USERDIC"));
}

}  // namespace tarvel
