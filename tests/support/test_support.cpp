#include "support/test_support.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace tarvel::testing {
namespace {
constexpr const char* kEnvNames[3] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"};

std::filesystem::path MakeTemp() {
  std::string templ = (std::filesystem::temp_directory_path() / "tarvel-test-XXXXXX").native();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return templ;
}

// Gives back write permission everywhere so that a test that made files
// read-only can still be cleaned up.
void MakeWritable(const std::filesystem::path& root) {
  std::error_code ec;
  ::chmod(root.c_str(), 0755);
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink()) ::chmod(it->path().c_str(), it->is_directory() ? 0755 : 0644);
  }
}
}  // namespace

TempDir::TempDir() : path_(MakeTemp()) {}

TempDir::~TempDir() {
  MakeWritable(path_);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempDirTest::SetUp() {
  dir_ = MakeTemp();
  for (int i = 0; i < 3; ++i) {
    const char* v = ::getenv(kEnvNames[i]);
    had_[i] = v != nullptr;
    saved_[i] = v ? v : "";
  }
  std::filesystem::create_directories(dir_ / "xdg-config");
  std::filesystem::create_directories(dir_ / "xdg-data");
  std::filesystem::create_directories(dir_ / "home");
  ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg-config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir_ / "xdg-data").c_str(), 1);
  ::setenv("HOME", (dir_ / "home").c_str(), 1);
}

void TempDirTest::TearDown() {
  for (int i = 0; i < 3; ++i) {
    if (had_[i]) {
      ::setenv(kEnvNames[i], saved_[i].c_str(), 1);
    } else {
      ::unsetenv(kEnvNames[i]);
    }
  }
  MakeWritable(dir_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.native());
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }

namespace {

std::map<std::string, std::string> Tree(const std::filesystem::path& root, bool with_times) {
  std::map<std::string, std::string> out;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::filesystem::path& p = it->path();
    const std::string rel = std::filesystem::relative(p, root).native();
    if (rel == "list.csv" || rel == "list.csv.undo") continue;
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) continue;
    std::string value = std::to_string(st.st_mode & 07777);
    if (with_times) {
      value += " @" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    if (S_ISLNK(st.st_mode)) {
      value += " link";
    } else if (S_ISDIR(st.st_mode)) {
      value += " dir";
    } else {
      value += " " + ReadBytes(p);
    }
    out[rel] = value;
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> ExactTree(const std::filesystem::path& root) {
  return Tree(root, false);
}

std::map<std::string, std::string> ExactTreeWithTimes(const std::filesystem::path& root) {
  return Tree(root, true);
}

bool SetUnwritable(const std::filesystem::path& folder, bool on) {
  if (::geteuid() != 0) return ::chmod(folder.c_str(), on ? 0555 : 0755) == 0;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}

}  // namespace tarvel::testing
