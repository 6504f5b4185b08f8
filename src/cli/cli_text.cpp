#include "cli/cli_text.h"

#include <libintl.h>

#include <algorithm>
#include <clocale>
#include <regex>
#include <system_error>
#include <vector>

namespace tarvel {
namespace {

// The texts the core marks with N_, as po/tarvel-cli.pot lists them
// (generated from it at build time).
constexpr const char* kCoreTexts[] = {
#include "core_texts.inc"
};

// The core's texts, longest first, so that a phrase is translated before a
// shorter one inside it could be.
const std::vector<std::string_view>& CoreTextsLongestFirst() {
  static const std::vector<std::string_view> texts = [] {
    std::vector<std::string_view> v(std::begin(kCoreTexts), std::end(kCoreTexts));
    std::stable_sort(v.begin(), v.end(),
                     [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
    return v;
  }();
  return texts;
}

bool BoundsPhrase(char c) {
  return std::string_view(" ()[]:;,.\"'\n").find(c) != std::string_view::npos;
}

// True when `phrase` at `at` of `text` is not part of a longer word.
bool StandsAlone(std::string_view text, size_t at, size_t size) {
  const bool starts = at == 0 || BoundsPhrase(text[at - 1]) || BoundsPhrase(text[at]);
  const size_t end = at + size;
  const bool ends = end == text.size() || BoundsPhrase(text[end]) || BoundsPhrase(text[end - 1]);
  return starts && ends;
}

// The ranges of values the core names ("1 to 50", "0, 1 or 2") in the
// words of the help text. Only numbers count, so names are left alone.
std::string TranslateValueLists(const std::string& text) {
  static const std::regex kList(R"((^|[^\w/])(\d+(?:, \d+)*) (to|or) (\d+)\b)");
  std::string out;
  size_t done = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kList);
       it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    const bool range = m[3] == "to";
    if (range && m[2].str().find(',') != std::string::npos) continue;
    out.append(text, done, static_cast<size_t>(m.position(0)) - done);
    out += m[1].str();
    out += Fill(Tr(range ? "{1} to {2}" : "{1} or {2}"), {m[2].str(), m[4].str()});
    done = static_cast<size_t>(m.position(0) + m.length(0));
  }
  out.append(text, done, std::string::npos);
  return out;
}

}  // namespace

std::filesystem::path CatalogueFolder(const std::filesystem::path& exe) {
  const std::filesystem::path dir = exe.parent_path();
  std::error_code ec;
  if (std::filesystem::is_directory(dir / "locale", ec)) return dir / "locale";
  const std::filesystem::path moved = (dir / TARVEL_INSTALL_LOCALEDIR_FROM_BIN).lexically_normal();
  if (std::filesystem::is_directory(moved, ec)) return moved;
  return TARVEL_INSTALL_LOCALEDIR;
}

void SetUpMessages(const std::filesystem::path& exe) {
  std::setlocale(LC_MESSAGES, "");
  std::setlocale(LC_CTYPE, "");
  bindtextdomain(kTextDomain, CatalogueFolder(exe).c_str());
  // The log and every message go out as UTF-8, whatever the locale's own
  // character set.
  bind_textdomain_codeset(kTextDomain, "UTF-8");
}

const char* Tr(const char* msgid) { return dgettext(kTextDomain, msgid); }

const char* TrN(const char* one, const char* many, unsigned long n) {
  return dngettext(kTextDomain, one, many, n);
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const bool mark = pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}' &&
                      pattern[i + 1] >= '1' && pattern[i + 1] <= '9';
    const size_t index = mark ? static_cast<size_t>(pattern[i + 1] - '1') : 0;
    if (mark && index < args.size()) {
      out += *(args.begin() + index);
      i += 2;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

std::string TranslateCoreText(std::string_view text) {
  std::string out(text);
  for (std::string_view phrase : CoreTextsLongestFirst()) {
    const std::string msgid(phrase);
    const std::string_view translated = Tr(msgid.c_str());
    if (translated == phrase) continue;
    for (size_t at = out.find(phrase); at != std::string::npos; at = out.find(phrase, at)) {
      if (!StandsAlone(out, at, phrase.size())) {
        ++at;
        continue;
      }
      out.replace(at, phrase.size(), translated);
      at += translated.size();
    }
  }
  return TranslateValueLists(out);
}

size_t DisplayColumns(std::string_view text) {
  size_t columns = 0;
  for (unsigned char c : text) {
    if (c < 0x80) {
      ++columns;
    } else if (c >= 0xC0) {
      columns += 2;  // the first byte of a character; the others add nothing
    }
  }
  return columns;
}

std::string CutToColumns(std::string_view text, size_t columns) {
  size_t used = 0;
  size_t end = 0;
  while (end < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[end]);
    size_t bytes = 1;
    if (c >= 0xF0) {
      bytes = 4;
    } else if (c >= 0xE0) {
      bytes = 3;
    } else if (c >= 0xC0) {
      bytes = 2;
    }
    const size_t width = c < 0x80 ? 1 : 2;
    if (used + width > columns) break;
    used += width;
    end = std::min(text.size(), end + bytes);
  }
  return std::string(text.substr(0, end));
}

}  // namespace tarvel
