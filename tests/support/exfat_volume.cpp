#include "support/exfat_volume.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tarvel::testing {
namespace {

// Runs `command` through the shell, its output thrown away; true on status 0.
bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The first line `command` prints, or "" when it fails.
std::string FirstLine(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return {};
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = ::pclose(pipe);
  if (!got || status != 0) return {};
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Quote(const std::filesystem::path& path) { return "'" + path.native() + "'"; }

}  // namespace

ExfatVolume::ExfatVolume(uint64_t megabytes)
    : image_(dir_.path() / "stick.img"), mount_point_(dir_.path() / "stick") {
  if (::geteuid() != 0) {
    why_ = "mounting an exFAT volume needs root";
    return;
  }
  std::filesystem::create_directory(mount_point_);
  if (!Run("truncate -s " + std::to_string(megabytes) + "M " + Quote(image_)) ||
      !Run("mkfs.exfat " + Quote(image_))) {
    why_ = "cannot make an exFAT image (is exfatprogs installed?)";
    return;
  }
  loop_ = FirstLine("losetup -f --show " + Quote(image_));
  if (loop_.empty()) {
    why_ = "no loop device is free or loop devices are not allowed here";
    return;
  }
  Mount();
}

ExfatVolume::~ExfatVolume() {
  Unmount();
  if (!loop_.empty()) Run("losetup -d " + loop_);
}

bool ExfatVolume::Mount() {
  mounted_ = Run("mount.exfat-fuse " + loop_ + " " + Quote(mount_point_));
  if (!mounted_) why_ = "mount.exfat-fuse failed (is exfat-fuse installed, /dev/fuse usable?)";
  return mounted_;
}

void ExfatVolume::Unmount() {
  if (!mounted_) return;
  ::sync();
  mounted_ = !Run("umount " + Quote(mount_point_));
}

bool ExfatVolume::Remount() {
  Unmount();
  if (mounted_) {
    why_ = "cannot unmount the exFAT volume (still in use?)";
    return false;
  }
  return Mount();
}

}  // namespace tarvel::testing
