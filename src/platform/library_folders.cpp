#include "platform/library_folders.h"

#include <fcntl.h>

#include <cerrno>

namespace tarvel {

int LibraryFolders::Open(const std::string& folder) {
  if (folder_ && folder == path_) return folder_.get();
  folder_.reset();
  path_.clear();
  if (!root_tried_) {
    root_tried_ = true;
    root_ = disk_.OpenAt(AT_FDCWD, root_path_.empty() ? "." : root_path_.c_str(),
                         O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (!root_) root_error_ = errno;
  }
  if (!root_) {
    errno = root_error_;
    return -1;
  }
  if (folder.compare(0, root_path_.size(), root_path_) != 0) {
    errno = EXDEV;
    return -1;
  }
  const std::string relative =
      folder.size() > root_path_.size() ? folder.substr(root_path_.size()) : std::string(".");
  folder_ = disk_.OpenBeneath(root_.get(), relative.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (!folder_) return -1;
  path_ = folder;
  return folder_.get();
}

NameFolding LibraryFolders::Folding(const std::string& folder) {
  auto known = foldings_.find(folder);
  if (known != foldings_.end()) return known->second;
  const int fd = Open(folder);
  if (fd < 0) return {};
  const NameFolding folding = DetectNameFolding(disk_, fd);
  foldings_.emplace(folder, folding);
  return folding;
}

}  // namespace tarvel
