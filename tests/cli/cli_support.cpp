#include "cli/cli_support.h"

#include <sys/wait.h>

#include <cstdlib>

#include "files/id3_tag.h"
#include "platform/text.h"

namespace tarvel::testing {
namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q.push_back(c);
    }
  }
  return q + "'";
}

}  // namespace

CliResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& scratch) {
  std::string command = Quote(program.native());
  for (const std::string& a : args) command += " " + Quote(a);
  std::filesystem::path out = scratch / ".cli-out", err = scratch / ".cli-err";
  command += " >" + Quote(out.native()) + " 2>" + Quote(err.native()) + " </dev/null";
  CliResult result;
  int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadBytes(out);
  result.err = ReadBytes(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return result;
}

std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    std::string rel = std::filesystem::relative(it->path(), root).native();
    tree[rel] = it->is_directory() && !it->is_symlink() ? "<dir>" : ReadBytes(it->path());
  }
  return tree;
}

std::string TagTexts(const std::filesystem::path& file) {
  ID3TagData tag;
  auto name = Utf8ToUtf16(file.native());
  if (!name || ReadID3Tag(*name, tag) != 1) return {};
  return Utf16ToUtf8(tag.Title) + "|" + Utf16ToUtf8(tag.Artist) + "|" + Utf16ToUtf8(tag.Album);
}

std::vector<std::string> CliLibraryTest::Args(const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"--settings", (dir() / "tarvel.ini").native()};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

CliResult CliLibraryTest::Convert(const std::filesystem::path& program,
                                  std::vector<std::string> before_args) {
  for (const std::string& a :
       Args({"--set", "FlagPathSaveCSV=1", "--set", "FlagCheckOnlyFilename=0", "--set",
             "FlagCheckOnlyID3Tag=0", music_.native()})) {
    before_args.push_back(a);
  }
  return RunProgram(program, before_args, dir());
}

CliResult CliLibraryTest::Restore(const std::filesystem::path& list) {
  return RunProgram(kCliProgram, Args({"--restore", list.native()}), dir());
}

std::map<std::string, std::string> CliLibraryTest::Tree() {
  auto tree = Snapshot(music_);
  tree.erase("list.csv");
  tree.erase("list.csv.undo");
  return tree;
}

}  // namespace tarvel::testing
