#include "cli/help_text.h"

#include "cli/cli_text.h"
#include "platform/text.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

constexpr const char* kUsage =
    N_("Usage: tarvel-cli [--quiet] [--settings FILE] [--preset NAME] [--set KEY=VALUE]...\n"
       "                  [--check-only] [FOLDER]\n"
       "       tarvel-cli [--quiet] [--settings FILE] --restore LIST.csv|KEPT-RUN\n"
       "                  [--library FOLDER]\n"
       "       tarvel-cli [--quiet] [--settings FILE] [--preset NAME] [--set KEY=VALUE]...\n"
       "                  --export-to DEST [FOLDER]\n"
       "       tarvel-cli [--quiet] [--settings FILE] [--preset NAME] [--set KEY=VALUE]...\n"
       "                  --iso FILE.iso [FOLDER]\n"
       "       tarvel-cli --history\n"
       "\n"
       "Converts the MP3 file names, folder names and ID3v1 tags under FOLDER (default: the\n"
       "data folder of the settings file) for players that cannot show full-width Japanese.\n"
       "list.csv, the record of every change, is written before anything changes.\n"
       "\n"
       "  --settings FILE   use this settings file instead of the program's own\n"
       "  --preset NAME     set the options of a player as the window's preset buttons do:\n"
       "                    z919 (Kenwood Z919), fcd7 (Kenwood f-CD7) or other; the --set\n"
       "                    options come after it\n"
       "  --set KEY=VALUE   override one option for this run (e.g. ConvertLevelFilename=2);\n"
       "                    the settings file is never written; the keys are listed below\n"
       "  --check-only      only list what would change (names and tags)\n"
       "  --export-to DEST  leave FOLDER as it is and write a converted copy of its MP3 files\n"
       "                    and folders into DEST (empty or missing; an export cut short is\n"
       "                    finished when started again), e.g. a USB stick for the car\n"
       "  --iso FILE.iso    leave FOLDER as it is and write the same converted copy into a CD\n"
       "                    image (ISO 9660 with Joliet and Rock Ridge names, at most 700 MB),\n"
       "                    replacing FILE.iso only once the new image is whole\n"
       "  --restore LIST    undo a run from its list.csv, or from a run kept in the history\n"
       "                    (a name that --history shows)\n"
       "  --library FOLDER  with --restore: the library of the list now lies at FOLDER\n"
       "                    (copied or moved, or its disk mounted elsewhere)\n"
       "  --history         list the runs kept in the history and the current list.csv of\n"
       "                    the program's list folder (name, time, counts, folder), marking\n"
       "                    the current one and those restored from, with the date\n"
       "  --quiet           no progress line on the terminal (the log is unchanged)\n"
       "  --help            show this text\n"
       "  --version         show the version\n"
       "\n"
       "Exit status: 0 the run reached its end, 1 a stage stopped it, a change that cannot be\n"
       "made was found before the first one (nothing changed), a character that cannot be\n"
       "made half-width turned it check-only, or a name that is not UTF-8 was left out,\n"
       "2 usage or start-up error, the folder is the root folder, the reading dictionary\n"
       "(MeCab) cannot be opened, romaji is chosen without Rome.csv, or another run or\n"
       "restore is working on the library.\n"
       "--restore: 0 every row is back, 1 a row was reported (missing, conflict, tag not\n"
       "restored), the list's undo record does not belong to it (bytes, modes and times not\n"
       "checked) or the restore stopped, 2 the list cannot be read, is in an encoding that\n"
       "cannot be told, reaches outside one library or through a symbolic link, its library\n"
       "folder does not exist, or another run or restore is working on the library.\n"
       "Whatever the command, the status is at least 1 when standard output could not be\n"
       "written (a full disk, a closed pipe).\n"
       "\n"
       "Messages follow the language of the locale (LC_ALL, LC_MESSAGES, LANG): Japanese\n"
       "for ja, English otherwise. The log keeps its Japanese texts under every locale.\n");

// The players' limits, told apart from the usage above.
constexpr const char* kLimitsHelp =
    N_("Before --export-to or --iso writes anything, the copy is checked against what the\n"
       "player reads (the Max... keys below, set by the presets): every folder too deep, name\n"
       "too long, folder with too many files, folder count and size over the limit is named,\n"
       "and nothing is written until none is left.\n"
       "  --split-folders   with --export-to or --iso: a folder holding more than\n"
       "                    MaxFilesInFolder files becomes the parts NAME-1, NAME-2 ... in\n"
       "                    its place, the files in their order, numbered and cut to length\n"
       "                    as duplicate names are (also the setting FlagSplitFolders=1)\n");

// What each integer option does, found by the option it belongs to.
struct Meaning {
  int32_t Settings::*member;
  const char* text;
};
constexpr Meaning kMeanings[] = {
    {&Settings::Player,
     N_("the player preset the options were last set from: 0 other, 1 Kenwood Z919, 2 Kenwood "
        "f-CD7")},
    {&Settings::FlagDisplayLog, N_("1: progress and problems go to the log; 0: only the messages")},
    {&Settings::FlagRenameSubfolders, N_("1: the scan descends into subfolders")},
    {&Settings::FlagRenameFolderName, N_("1: folder names are converted and renamed too")},
    {&Settings::FlagCreateCSVFile, N_("1: the run writes its list of changes, list.csv")},
    {&Settings::FlagPathSaveCSV,
     N_("where list.csv is written: 0 the program's own folder, 1 the data folder")},
    {&Settings::FlagConvertFilename, N_("1: file names are converted")},
    {&Settings::FlagCheckOnlyFilename,
     N_("1: file and folder names are only checked and listed, never renamed")},
    {&Settings::FlagLimit30Char,
     N_("1: a file name without its extension is cut to LengthName characters")},
    {&Settings::LengthName,
     N_("the length limit of FlagLimit30Char and of the numbering of duplicate names")},
    {&Settings::FlagDicEnabledFilename, N_("1: the substitutions of dic.csv apply to file names")},
    {&Settings::FlagDetectFullCharFilename,
     N_("1: a character left full-width in a file name turns the run check-only")},
    {&Settings::ConvertLevelFilename,
     N_("Japanese in file names: 0 no conversion, 1 half-width katakana, 2 romaji")},
    {&Settings::FlagConvertID3Tag,
     N_("1: the ID3v1 tag texts (title, artist, album) are converted")},
    {&Settings::FlagCheckOnlyID3Tag, N_("1: tags are only checked and listed, never written")},
    {&Settings::FlagDicEnabledID3Tag, N_("1: the substitutions of dic.csv apply to tag texts")},
    {&Settings::FlagDetectFullCharID3Tag,
     N_("1: a character left full-width in a tag text turns the run check-only")},
    {&Settings::ConvertLevelID3Tag,
     N_("Japanese in tag texts: 0 no conversion, 1 half-width katakana, 2 romaji")},
    {&Settings::ID3TagArtist,
     N_("where the new artist text comes from: 0 the current artist text, converted; 1 the file "
        "name without its extension; 2 the name of the folder that holds the file")},
    {&Settings::ID3TagAlbum, N_("the same for the album text")},
    {&Settings::ID3TagTitle, N_("the same for the title text")},
    {&Settings::MaxFolderDepth,
     N_("exports: how many folders deep the player reads (a folder at the top is 1 deep)")},
    {&Settings::MaxFolderCount, N_("exports: how many folders the player reads in all")},
    {&Settings::MaxFilesInFolder, N_("exports: how many files the player reads in one folder")},
    {&Settings::MaxNameLength, N_("exports: how many characters of a name the player takes")},
    {&Settings::MaxMegabytes,
     N_("exports: how many megabytes (MiB) the player's medium holds; 0 no limit")},
    {&Settings::FlagSplitFolders,
     N_("exports: 1 splits a folder with more than MaxFilesInFolder files into numbered parts")},
};

// "0 or 1", "0, 1 or 2", "1 to 50", translated.
std::string ValuesText(const IntSetting& s) {
  if (s.max - s.min > 2) {
    return Fill(Tr("{1} to {2}"), {std::to_string(s.min), std::to_string(s.max)});
  }
  std::string list = std::to_string(s.min);
  for (int32_t v = s.min + 1; v < s.max; ++v) list += ", " + std::to_string(v);
  return Fill(Tr("{1} or {2}"), {list, std::to_string(s.max)});
}

std::string KeyEntry(std::string_view key, std::string_view values, std::string_view meaning) {
  return "  " + std::string(key) + "  " + std::string(values) + "\n      " + std::string(meaning) +
         "\n";
}

}  // namespace

const char* SettingMeaning(const IntSetting& setting) {
  for (const Meaning& m : kMeanings) {
    if (m.member == setting.member) return Tr(m.text);
  }
  return nullptr;
}

std::string SettingKeysHelp() {
  std::string text = Tr("Keys of --set KEY=VALUE (the options of the settings file):\n");
  text += KeyEntry(Utf16ToUtf8(kPathDataFolderKey), Tr("a folder"),
                   Tr("the data folder: the root of the scan when no FOLDER is given"));
  for (const IntSetting& s : IntSettings()) {
    const char* meaning = SettingMeaning(s);
    const std::string values =
        Fill(Tr("{1}; default {2}"), {ValuesText(s), std::to_string(s.default_value)});
    text += KeyEntry(Utf16ToUtf8(s.key), values, meaning != nullptr ? meaning : "");
  }
  return text;
}

std::string HelpText() {
  return std::string(Tr(kUsage)) + "\n" + Tr(kLimitsHelp) + "\n" + SettingKeysHelp();
}

}  // namespace tarvel
