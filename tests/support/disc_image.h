// Reading a CD image back in the tests: through xorriso, which may be
// missing, into a plain tree of folders and bytes.
#ifndef TARVEL_TESTS_SUPPORT_DISC_IMAGE_H_
#define TARVEL_TESTS_SUPPORT_DISC_IMAGE_H_

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/test_support.h"

namespace tarvel::testing {

inline bool HaveXorriso() { return std::system("command -v xorriso >/dev/null 2>&1") == 0; }

// What a shell command prints on its standard output.
inline std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

inline std::string Quoted(const std::filesystem::path& path) { return "'" + path.native() + "'"; }

// Every folder and file below `root`: relative path to "<folder>" or the
// file's bytes.
inline std::map<std::string, std::string> ContentTree(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).native();
    tree[relative] = entry.is_directory() ? "<folder>" : ReadBytes(entry.path());
  }
  return tree;
}

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_SUPPORT_DISC_IMAGE_H_
