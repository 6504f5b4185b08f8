// The INI reader and the settings loader on any file: reading must never
// fail badly, and a value read back after Set must be the value set.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "fuzz_support.h"
#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvel;
  const std::filesystem::path path = fuzz::ScratchFile("settings.ini", data, size);
  std::vector<std::string> notices;
  std::string error;
  Settings settings = LoadSettings(path, u"/music", &error, &notices);
  if (settings.LengthName < 1 || settings.LengthName > 50) __builtin_trap();

  IniFile ini = IniFile::Load(path);
  (void)ini.ReadInt(u"Option", u"Player", 1);
  (void)ini.ReadString(u"LogWindow", u"Top", u"");
  if (ini.Set(u"Option", u"FlagDisplayLog", u"0")) {
    if (ini.ReadString(u"Option", u"FlagDisplayLog", u"x") != u"0") __builtin_trap();
  }
  return 0;
}
