// Running tarvel-cli from the tests on libraries built in temporary folders.
#ifndef TARVEL_TESTS_CLI_CLI_SUPPORT_H_
#define TARVEL_TESTS_CLI_CLI_SUPPORT_H_

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvel::testing {

struct CliResult {
  int status = -1;
  std::string out;  // standard output (UTF-8)
  std::string err;  // standard error
};

// Runs `program` with `args` (each passed as one argument), standard output
// and error captured through files in `scratch`.
CliResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& scratch);

// Every entry under `root` (relative path → file bytes, or "<dir>" for a
// folder), for comparing a whole tree before and after a run.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

// tarvel-cli of this build.
inline const std::filesystem::path kCliProgram = TARVEL_BINARY_DIR "/tarvel-cli";

// A temporary folder with a library in `music_` and a settings file of the
// test's own, with what the end-to-end tests do to it.
class CliLibraryTest : public TempDirTest {
 protected:
  // The settings file of the test, as arguments, followed by `extra`.
  std::vector<std::string> Args(const std::vector<std::string>& extra = {});
  // A real run on the library (list in the library, names and tags
  // applied), through `program` (tarvel-cli, or a wrapper given
  // `before_args` that starts it).
  CliResult Convert(const std::filesystem::path& program = kCliProgram,
                    std::vector<std::string> before_args = {});
  CliResult Restore(const std::filesystem::path& list);
  // The library without the run's list and undo record.
  std::map<std::string, std::string> Tree();

  std::filesystem::path music_;
  std::map<std::string, std::string> before_;
};

// The decoded title, artist and album of the file's ID3v1 block, joined by
// "|"; empty when the file has no tag.
std::string TagTexts(const std::filesystem::path& file);

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_CLI_CLI_SUPPORT_H_
