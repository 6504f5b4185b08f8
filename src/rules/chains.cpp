#include "rules/chains.h"

#include <exception>
#include <string_view>

#include "app/report.h"
#include "platform/text.h"
#include "rules/kana_conversion.h"
#include "rules/repairs.h"
#include "rules/rule_log.h"
#include "rules/table_substitution.h"

namespace tarvel {
namespace {

constexpr std::u16string_view kDictionaryFailed = u"変換辞書による変換中に異常が発生しました。";
constexpr std::u16string_view kKanaFailed = u"漢字の再変換中に異常が発生しました。";
constexpr std::u16string_view kDetectionFailed =
    u"全角→半角変換できなかった文字の検出中に異常が発生しました。";
// The file and folder chains have always said 以上 here, the tag chain 異常;
// users and scripts know them by these words.
constexpr std::u16string_view kRomajiFailedName = u"ローマ字変換中に以上が発生しました。";
constexpr std::u16string_view kRomajiFailedTag = u"ローマ字変換中に異常が発生しました。";

void ReportFailure(AppState& app, std::u16string_view message) {
  std::u16string text(message);
  text += kCrLf;
  text += kAbortLine;
  if (app.settings.FlagDisplayLog == 1) {
    text += kCrLf;
    rules_internal::AppendLog(app, text);
  } else {
    ++app.rule_notices;
    app.ui->ShowMessage(text);
  }
}

// Runs one step on a copy of `text`, which takes the result only when the
// step succeeded: a step that fails part way (a runaway table row cut off,
// an error halfway through) leaves the text as the steps before it made it.
template <typename Step>
bool Commit(std::u16string& text, Step&& step) {
  std::u16string work = text;
  if (step(work) == 0) return false;
  text = std::move(work);
  return true;
}

// The steps both name chains and the tag chain share, in their order: the
// dictionary, the kana conversion and the full-width check. False (after the
// report) when one of them failed.
struct SharedGates {
  int dictionary;
  int level;
  int detect;
};

bool RunLeadingSteps(std::u16string& text, AppState& app, const SharedGates& gates,
                     bool* switch_to_check_only) {
  if (gates.dictionary == 1 &&
      !Commit(text, [&](std::u16string& t) { return ApplyDictionary(t, app); })) {
    ReportFailure(app, kDictionaryFailed);
    return false;
  }
  if (gates.level >= 1 &&
      !Commit(text, [&](std::u16string& t) { return ConvertKanjiToKana(t, app); })) {
    ReportFailure(app, kKanaFailed);
    return false;
  }
  bool found = false;
  if (gates.detect == 1 && DetectFullWidthChars(text, app, found) == 0) {
    ReportFailure(app, kDetectionFailed);
    return false;
  }
  if (found && switch_to_check_only != nullptr) *switch_to_check_only = true;
  return true;
}

bool RunRomaji(std::u16string& text, AppState& app, int level, std::u16string_view message) {
  if (level >= 2 && !Commit(text, [&](std::u16string& t) { return ConvertToRomaji(t, app); })) {
    ReportFailure(app, message);
    return false;
  }
  return true;
}

SharedGates FileNameGates(const Settings& s) {
  return {s.FlagDicEnabledFilename, s.ConvertLevelFilename, s.FlagDetectFullCharFilename};
}

}  // namespace

int ConvertFileName(std::u16string& name, AppState& app, bool* switch_to_check_only) {
  try {
    name = ToNfc(name);
    if (!RunLeadingSteps(name, app, FileNameGates(app.settings), switch_to_check_only)) return 0;
    // The repairs never fail; 0 means an unexpected error, which ends the
    // chain without a report.
    if (!Commit(name, [&](std::u16string& t) { return ReplaceInvalidChars(t, app); })) return 0;
    if (!Commit(name, [&](std::u16string& t) { return CheckExtension(t, app); })) return 0;
    if (!RunRomaji(name, app, app.settings.ConvertLevelFilename, kRomajiFailedName)) return 0;
    if (app.settings.FlagLimit30Char == 1 &&
        !Commit(name, [&](std::u16string& t) { return LimitFileNameLength(t, app); }))
      return 0;
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int ConvertFolderName(std::u16string& name, AppState& app, bool* switch_to_check_only) {
  try {
    name = ToNfc(name);
    if (!RunLeadingSteps(name, app, FileNameGates(app.settings), switch_to_check_only)) return 0;
    if (!Commit(name, [&](std::u16string& t) { return ReplaceInvalidCharsInFolderName(t, app); }))
      return 0;
    if (!RunRomaji(name, app, app.settings.ConvertLevelFilename, kRomajiFailedName)) return 0;
    if (app.settings.FlagLimit30Char == 1 &&
        !Commit(name, [&](std::u16string& t) { return LimitFolderNameLength(t, app); }))
      return 0;
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int ConvertTagText(std::u16string& text, AppState& app, bool* switch_to_check_only) {
  try {
    text = ToNfc(text);
    const Settings& s = app.settings;
    SharedGates gates{s.FlagDicEnabledID3Tag, s.ConvertLevelID3Tag, s.FlagDetectFullCharID3Tag};
    if (!RunLeadingSteps(text, app, gates, switch_to_check_only)) return 0;
    if (!RunRomaji(text, app, app.settings.ConvertLevelID3Tag, kRomajiFailedTag)) return 0;
    text.resize(CutPosition(text, kTagTextLength));
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace tarvel
