#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvel {
namespace {

EntryKind KindFromMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kSymlink;
  return EntryKind::kOther;
}

}  // namespace

bool NameLess(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return a.size() < b.size();
  auto x = static_cast<unsigned char>(a[i]);
  auto y = static_cast<unsigned char>(b[i]);
  // UTF-8 byte order is code-point order. UTF-16 differs from it in one
  // place only: a character above U+FFFF (lead byte F0..F4, a surrogate pair
  // D800..DFFF in UTF-16) sorts before U+E000..U+FFFF (lead byte EE or EF).
  // Both bytes start a character here, since the names agree up to them.
  bool x_supp = x >= 0xF0 && x <= 0xF4;
  bool y_supp = y >= 0xF0 && y <= 0xF4;
  bool x_high = x == 0xEE || x == 0xEF;
  bool y_high = y == 0xEE || y == 0xEF;
  if (x_supp && y_high) return true;
  if (y_supp && x_high) return false;
  return x < y;
}

void DirectoryListing::Close() {
  if (dir_ != nullptr) ::closedir(static_cast<DIR*>(dir_));
  dir_ = nullptr;
  fd_ = -1;
}

int DirectoryListing::Read(const std::string& path, bool follow_link, bool keep_open) {
  Close();
  names_.clear();
  entries_.clear();
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd;
  if (follow_link) {
    fd = ::open(path.c_str(), flags);
  } else {
    // A trailing "/" would make the system follow a link at the end after
    // all, so it goes before the open.
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    fd = ::open(path.substr(0, end).c_str(), flags | O_NOFOLLOW);
  }
  if (fd < 0) return errno;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    int error = errno;
    ::close(fd);
    return error;
  }
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (d == nullptr) {
      error = errno;
      break;
    }
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    EntryKind kind;
    switch (d->d_type) {
      case DT_REG:
        kind = EntryKind::kFile;
        break;
      case DT_DIR:
        kind = EntryKind::kFolder;
        break;
      case DT_LNK:
        kind = EntryKind::kSymlink;
        break;
      case DT_UNKNOWN: {
        // Some file systems do not fill d_type; ask for the entry itself.
        struct stat st;
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
          kind = KindFromMode(st.st_mode);
        } else {
          kind = EntryKind::kOther;  // vanished meanwhile
        }
        break;
      }
      default:
        kind = EntryKind::kOther;
    }
    size_t length = std::strlen(name);
    entries_.push_back({static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(length), kind});
    names_.append(name, length);
  }
  if (error != 0 || !keep_open) {
    ::closedir(dir);
  } else {
    dir_ = dir;
    fd_ = fd;
  }
  if (error != 0) {
    names_.clear();
    entries_.clear();
    return error;
  }
  std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
    return NameLess(std::string_view(names_).substr(a.offset, a.length),
                    std::string_view(names_).substr(b.offset, b.length));
  });
  return 0;
}

int FolderHandle::Open(const std::string& path) {
  if (fd_ >= 0 && path == path_) return fd_;
  Close();
  // Only for looking entries up: the folder itself is neither read nor
  // changed through it.
  fd_ = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd_ >= 0) path_ = path;
  return fd_;
}

void FolderHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace tarvel
