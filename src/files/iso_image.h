// A CD image of a converted copy of the library: an ISO 9660 file system
// with Joliet names (what car players show) and Rock Ridge names, written
// by libisofs. Each file's content is read straight from the library (its
// audio bytes as they are, then its new tag block), so no copy of the
// library is made on the way. The image is written under a temporary name
// beside its final one and renamed into place once whole and flushed: an
// image cut short never stands under the name, and an image already there
// is only ever replaced by a whole new one.
#ifndef TARVEL_FILES_ISO_IMAGE_H_
#define TARVEL_FILES_ISO_IMAGE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/disk_entry.h"
#include "platform/disk_ops.h"

namespace tarvel {

inline constexpr uint64_t kIsoSectorSize = 2048;
// What a 700 MB CD-R holds (80 minutes of 75 sectors a second).
inline constexpr uint64_t kCdSectors = 360000;
// The longest Joliet name, in UTF-16 units; libisofs would cut a longer one.
inline constexpr size_t kJolietNameMax = 64;

// One folder or file of the image.
struct IsoImageEntry {
  bool is_file = false;
  std::string source;        // files: below the library folder, UTF-8
  std::string target;        // in the image, UTF-8, "/" between names
  uint64_t source_size = 0;  // files: the size the source must still have
  uint64_t audio_size = 0;   // files: the bytes taken unchanged from its start
  TagBytes tag;              // files: written after them; empty for none
  uint64_t size() const { return audio_size + tag.size(); }
};

struct IsoImageRequest {
  int source_dir_fd = -1;  // the library folder
  std::string volume_id;   // at most 32 ASCII characters
  // Every folder before what it holds; files' contents are laid out in
  // this order.
  std::vector<IsoImageEntry> entries;
  // An image of more sectors is refused before anything is written.
  uint64_t max_sectors = kCdSectors;
};

struct IsoImageResult {
  enum class Outcome {
    kWritten,   // the image stands under its name
    kTooLarge,  // more than max_sectors: nothing written
    kNoRoom,    // too little free space beside the image: nothing written
    kFailed,    // a source or the image could not be read or written: no image left
  };
  Outcome outcome = Outcome::kWritten;
  std::string detail;       // English, naming the file at fault
  uint64_t image_size = 0;  // bytes, once the layout is known
  uint64_t bytes_free = 0;  // kNoRoom: what the folder has
};

// Called on the caller's thread, as the image grows, with the files begun
// so far.
using IsoProgress = std::function<void(int64_t files)>;

// Writes `job` into the image `path` (absolute, UTF-8). Sources are read
// and the image written through `disk`.
IsoImageResult WriteIsoImage(const IsoImageRequest& job, const std::string& path,
                             const IsoProgress& progress, DiskOps& disk = SystemDiskOps());

// The volume label of a library folder named `folder_name`: its ASCII
// letters and digits in capitals, "_" for each run of anything else, at
// most 32 characters; "TARVEL" when it has no ASCII letter.
std::string IsoVolumeLabel(std::string_view folder_name);

// The length of a UTF-8 name in UTF-16 units, as Joliet stores it.
size_t JolietLength(std::string_view name);

}  // namespace tarvel

#endif  // TARVEL_FILES_ISO_IMAGE_H_
