// A case-insensitive exFAT volume, mounted through FUSE on a loop device as
// the USB sticks users carry to their cars are. Mounting it needs root and
// the exFAT tools; where that is not possible `ok()` is false and `why()`
// says why, so that a test can skip with the reason.
#ifndef TARVEL_TESTS_SUPPORT_EXFAT_VOLUME_H_
#define TARVEL_TESTS_SUPPORT_EXFAT_VOLUME_H_

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace tarvel::testing {

class ExfatVolume {
 public:
  explicit ExfatVolume(uint64_t megabytes = 32);
  ~ExfatVolume();
  ExfatVolume(const ExfatVolume&) = delete;
  ExfatVolume& operator=(const ExfatVolume&) = delete;

  bool ok() const { return mounted_; }
  const std::string& why() const { return why_; }
  // Where the volume is mounted.
  const std::filesystem::path& path() const { return mount_point_; }

  // Unmounts the volume and mounts it again, as when a stick is pulled out
  // and plugged in. The same files come back, but their inode numbers are
  // handed out afresh in the order they are looked up.
  // False (with `why()`) when it could not be mounted again.
  bool Remount();

 private:
  bool Mount();
  void Unmount();

  TempDir dir_;
  std::filesystem::path image_;
  std::filesystem::path mount_point_;
  std::string loop_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_SUPPORT_EXFAT_VOLUME_H_
