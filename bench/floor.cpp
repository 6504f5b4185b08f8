#include "floor.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace tarvel::bench {
namespace {

bool IsMp3(const char* name) {
  std::size_t n = std::strlen(name);
  return n > 4 && ::strcasecmp(name + n - 4, ".mp3") == 0;
}

struct Walker {
  bool write = false;
  FloorCounts counts;
  // Folders to rename after the files, relative to the root, each after
  // the folders that hold it (they are renamed from the end of the list).
  std::vector<std::string> folders;

  void Walk(int dir_fd, const std::string& relative) {
    DIR* dir = ::fdopendir(dir_fd);
    if (dir == nullptr) return;
    ++counts.folders;
    std::vector<std::string> files, subfolders;
    while (dirent* e = ::readdir(dir)) {
      if (e->d_name[0] == '.' &&
          (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) {
        continue;
      }
      if (e->d_type == DT_DIR) {
        subfolders.emplace_back(e->d_name);
      } else if (e->d_type == DT_REG && IsMp3(e->d_name)) {
        files.emplace_back(e->d_name);
      }
    }
    char block[128];
    for (const std::string& name : files) {
      int fd = ::openat(dir_fd, name.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;
      struct stat st {};
      ::fstat(fd, &st);
      if (st.st_size >= 128 && ::pread(fd, block, sizeof block, st.st_size - 128) == 128 && write) {
        block[3] = 'x';
        if (::pwrite(fd, block, sizeof block, st.st_size - 128) != 128) continue;
      }
      ::close(fd);
      ++counts.files;
      if (write) ::renameat2(dir_fd, name.c_str(), dir_fd, (name + "~").c_str(), RENAME_NOREPLACE);
    }
    for (const std::string& name : subfolders) {
      int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;
      std::string path = relative.empty() ? name : relative + "/" + name;
      if (write) folders.push_back(path);
      Walk(fd, path);
    }
    ::closedir(dir);
  }
};

FloorCounts Run(const std::filesystem::path& root, bool write) {
  Walker walker;
  walker.write = write;
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  walker.Walk(fd, "");
  // Folders deepest first: the reverse of the order in which the walk met
  // them, so that every path still names the folder when its turn comes.
  for (auto it = walker.folders.rbegin(); it != walker.folders.rend(); ++it) {
    ::renameat2(fd, it->c_str(), fd, (*it + "~").c_str(), RENAME_NOREPLACE);
  }
  ::close(fd);
  return walker.counts;
}

}  // namespace

FloorCounts PlanFloor(const std::filesystem::path& root) { return Run(root, false); }

FloorCounts RealRunFloor(const std::filesystem::path& root) { return Run(root, true); }

}  // namespace tarvel::bench
