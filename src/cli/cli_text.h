// The language of tarvel-cli's own messages (help, errors, --history, the
// progress line): Japanese when the locale's messages are Japanese, English
// otherwise, through the GNU gettext catalogue "tarvel-cli". The log keeps
// its own Japanese texts whatever the locale.
#ifndef TARVEL_CLI_CLI_TEXT_H_
#define TARVEL_CLI_CLI_TEXT_H_

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarvel {

// The gettext domain of tarvel-cli.
inline constexpr const char* kTextDomain = "tarvel-cli";

// The folder that holds the catalogues (<dir>/ja/LC_MESSAGES/tarvel-cli.mo)
// for the program at `exe`: "locale" beside it (the build tree, an unpacked
// folder), else the installed one seen from the program's folder, else the
// installed one as configured.
std::filesystem::path CatalogueFolder(const std::filesystem::path& exe);

// Takes the language of messages (and of the system's error texts) from the
// environment (LC_ALL, LC_MESSAGES, LANG) and opens the catalogue. Only the
// message and character-type parts of the locale are set: numbers, sorting
// and the rest of the program behave alike under every locale.
void SetUpMessages(const std::filesystem::path& exe);

// The translation of `msgid`, or `msgid` itself.
const char* Tr(const char* msgid);
// The form of `one` / `many` that goes with `n`, translated.
const char* TrN(const char* one, const char* many, unsigned long n);

// `pattern` with {1}, {2}, ... replaced by the arguments, so that a
// translation can put them in its own order.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args);

// A message of the core (English, built from texts marked with N_) with
// every marked text in it translated. A marked text counts only where it
// stands as a phrase of its own (not inside a longer word), so that a file
// name that happens to hold one is mostly left alone.
std::string TranslateCoreText(std::string_view text);

// The columns `text` (UTF-8) takes on a terminal: one for ASCII, two for
// anything else (Japanese is full width).
size_t DisplayColumns(std::string_view text);
// `text` cut to at most `columns` columns, never inside a character.
std::string CutToColumns(std::string_view text, size_t columns);

}  // namespace tarvel

#endif  // TARVEL_CLI_CLI_TEXT_H_
