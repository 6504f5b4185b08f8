#include "rules/repairs.h"

#include <unicode/utf16.h>

#include <algorithm>
#include <exception>
#include <string_view>

#include "platform/text.h"
#include "rules/rule_log.h"

namespace tarvel {
namespace {

using rules_internal::AppendLog;

constexpr std::u16string_view kContinueAction = u"　修正して処理を続行します。";
constexpr std::u16string_view kLimitAction = u"　長さを制限して処理を続行します。";

// A name this short cannot hold ".mp3" and a base name.
constexpr size_t kShortestName = 4;

void LogRepair(AppState& app, std::u16string_view message, std::u16string_view name_before,
               std::u16string_view action = kContinueAction) {
  std::u16string entry(message);
  entry += u"\r\n　ファイル名　：　";
  entry += name_before;
  entry += u"\r\n";
  entry += action;
  entry += u"\r\n";
  AppendLog(app, entry, action == kLimitAction ? kNoticeShortened : kNoticeRepaired);
}

// True (and the name replaced) when the name is too short to be a file name.
bool RepairShortName(std::u16string& name, AppState& app) {
  if (name.size() > kShortestName) return false;
  LogRepair(app, u"異常に短いファイル名を検出しました。", name);
  name = kUnknownFileName;
  return true;
}

// The eleven characters a CD-R's file system refuses, and the control
// characters (U+0000 to U+001F, U+007F), which it cannot hold either.
bool IsInvalidChar(char16_t c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case u'\\':
    case u'/':
    case u':':
    case u',':
    case u';':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
      return true;
    default:
      return false;
  }
}

void BlankInvalidChars(std::u16string& name, AppState& app) {
  const size_t n = name.size();
  for (size_t i = 0; i < n; ++i) {
    if (!IsInvalidChar(name[i])) continue;
    LogRepair(app, u"CDRに焼けない文字を検出しました。", name);
    name[i] = u' ';
  }
}

size_t LengthSetting(const AppState& app) {
  return static_cast<size_t>(std::max(app.settings.LengthName, 0));
}

}  // namespace

size_t CutPosition(std::u16string_view text, size_t length) {
  if (length >= text.size()) return text.size();
  if (length > 0 && U16_IS_LEAD(text[length - 1]) && U16_IS_TRAIL(text[length])) return length - 1;
  return length;
}

int ReplaceInvalidChars(std::u16string& name, AppState& app) {
  try {
    if (RepairShortName(name, app)) return 1;
    BlankInvalidChars(name, app);
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int ReplaceInvalidCharsInFolderName(std::u16string& name, AppState& app) {
  try {
    BlankInvalidChars(name, app);
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int CheckExtension(std::u16string& name, AppState& app) {
  try {
    if (RepairShortName(name, app)) return 1;
    const size_t n = name.size();
    for (size_t i = 0; i < n; ++i) {  // i is the 0-based position of a full stop
      if (name[i] != u'.') continue;
      if (n - i - 1 < 3) {
        LogRepair(app, u"異常なファイル名を検出しました。", name);
        name = kUnknownFileName;
        return 1;
      }
      std::u16string_view rest = std::u16string_view(name).substr(i);
      if (TextEquals(rest, u".mp3")) return 1;
      if (TextEquals(rest.substr(1, 3), u"mp3")) {
        LogRepair(app, u"不正な拡張子を検出しました。", name);
        name.resize(i + 4);
        return 1;
      }
      LogRepair(app, u"不正なファイル名を検出しました。", name);
      name[i] = u' ';
    }
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int LimitFileNameLength(std::u16string& name, AppState& app) {
  try {
    if (RepairShortName(name, app)) return 1;
    const size_t base_length = name.size() - 4;
    if (!TextEquals(std::u16string_view(name).substr(base_length), u".mp3")) {
      LogRepair(app, u"異常なファイル名を検出しました。", name);
      name = kUnknownFileName;
      return 1;
    }
    const size_t limit = LengthSetting(app);
    if (base_length > limit) {
      LogRepair(app, u"長すぎるファイル名を検出しました。", name, kLimitAction);
      name.resize(CutPosition(name, limit));
      name += u".mp3";
    }
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int LimitFolderNameLength(std::u16string& name, AppState& app) {
  try {
    const size_t limit = LengthSetting(app);
    if (name.size() <= limit) return 1;
    std::u16string entry = u"長すぎるフォルダ名を検出しました。\r\n　フォルダ名　：　";
    entry += name;
    entry += u"\r\n";
    entry += kLimitAction;
    entry += u"\r\n";
    AppendLog(app, entry, kNoticeShortened);
    name.resize(CutPosition(name, limit));
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace tarvel
