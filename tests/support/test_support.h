// Shared helpers of the test programs.
#ifndef TARVEL_TESTS_SUPPORT_TEST_SUPPORT_H_
#define TARVEL_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace tarvel::testing {

// A fresh temporary folder, removed (with everything in it) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A test fixture with its own temporary folder, and XDG_CONFIG_HOME,
// XDG_DATA_HOME and HOME pointed into it so that nothing touches the user's
// own settings.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::string saved_[3];
  bool had_[3] = {};
};

void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
std::string ReadBytes(const std::filesystem::path& path);
// Every entry under `root` but the rename list and its undo record
// ("list.csv", "list.csv.undo" at the top): relative path to its mode bits
// and kind, with a file's bytes; links are recorded as links, not followed.
// Two trees with the same snapshot are the same byte for byte.
std::map<std::string, std::string> ExactTree(const std::filesystem::path& root);
// The same with every entry's modification time, to the nanosecond.
std::map<std::string, std::string> ExactTreeWithTimes(const std::filesystem::path& root);

// Makes a folder one nothing can be written in, or writable again: by its
// immutable flag for root (which permission bits do not stop; writes then
// fail with EPERM), by its mode for an ordinary user (EACCES). False where
// the file system or the user cannot.
bool SetUnwritable(const std::filesystem::path& folder, bool on);

// UTF-16 text as UTF-8 for readable test failure output.
std::string U8(std::u16string_view text);

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_SUPPORT_TEST_SUPPORT_H_
