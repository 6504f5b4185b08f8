// The text of tarvel-cli --help, in the language of the locale: the usage,
// then every key --set takes with its values, default and meaning.
#ifndef TARVEL_CLI_HELP_TEXT_H_
#define TARVEL_CLI_HELP_TEXT_H_

#include <string>

#include "app/settings.h"

namespace tarvel {

// What the option `setting` of the settings table does, translated; null
// for an option this file does not describe yet.
const char* SettingMeaning(const IntSetting& setting);

// The keys of --set: PathDataFolder, then the integer options in the order
// of the settings table, each with its values, default and meaning.
std::string SettingKeysHelp();

// The whole of --help.
std::string HelpText();

}  // namespace tarvel

#endif  // TARVEL_CLI_HELP_TEXT_H_
