#include "files/iso_image.h"

#include <fcntl.h>
// The image is read from libisofs's own generator, without libburn.
#define LIBISOFS_WITHOUT_LIBBURN
#include <libisofs/libisofs.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "files/export_copy.h"
#include "platform/unique_fd.h"

// libisofs leaves the stream object's layout out of the header for C++ (its
// first member is called `class`); a program that brings its own kind of
// stream lays it out as the C declaration does.
struct iso_stream {
  IsoStreamIface* iface;
  int refcount;
  void* data;
};

namespace tarvel {
namespace {

// libisofs is set up once for the process: names handed to it are UTF-8
// whatever the locale says, and it prints nothing of its own (every
// failure reaches the caller as a result).
std::optional<std::string> LibraryReady() {
  static const std::optional<std::string> failure = []() -> std::optional<std::string> {
    const int ret = iso_init();
    if (ret < 0) return std::string("cannot start libisofs: ") + iso_error_to_msg(ret);
    char never[] = "NEVER";
    char print[] = "NEVER";
    char tag[] = "tarvel";
    iso_set_msgs_severities(never, print, tag);
    char utf8[] = "UTF-8";
    iso_set_local_charset(utf8, 0);
    return std::nullopt;
  }();
  return failure;
}

// What every file stream of one image shares: where the sources are, how
// many files have been begun, and the first failure.
struct StreamShared {
  DiskOps* disk = nullptr;
  int dir_fd = -1;
  std::atomic<int64_t> opened{0};

  void Fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    if (error.empty()) error = why;
  }
  std::string Error() {
    std::lock_guard<std::mutex> lock(mutex);
    return error;
  }

  std::mutex mutex;
  std::string error;
};

// One file's content: its source's first audio_size bytes, then its tag.
struct SourceStream {
  StreamShared* shared = nullptr;
  const IsoImageEntry* entry = nullptr;
  ino_t id = 0;  // unique in the image, so that libisofs never takes two files for one
  UniqueFd fd;
  uint64_t pos = 0;
};

SourceStream* Data(IsoStream* stream) { return static_cast<SourceStream*>(stream->data); }

int StreamOpen(IsoStream* stream) {
  SourceStream* s = Data(stream);
  if (s->fd) return static_cast<int>(ISO_FILE_ALREADY_OPENED);
  s->fd = s->shared->disk->OpenBeneath(s->shared->dir_fd, s->entry->source.c_str(),
                                       O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (!s->fd || s->shared->disk->FStat(s->fd.get(), &st) != 0) {
    s->shared->Fail("cannot read " + s->entry->source + ": " + std::strerror(errno));
    s->fd.reset();
    return static_cast<int>(ISO_FILE_ACCESS_DENIED);
  }
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != s->entry->source_size) {
    s->shared->Fail(s->entry->source + " has changed since the image was planned");
    s->fd.reset();
    return static_cast<int>(ISO_FILE_ERROR);
  }
  s->pos = 0;
  s->shared->opened.fetch_add(1);
  return ISO_SUCCESS;
}

int StreamClose(IsoStream* stream) {
  SourceStream* s = Data(stream);
  if (!s->fd) return static_cast<int>(ISO_FILE_NOT_OPENED);
  s->fd.reset();
  return ISO_SUCCESS;
}

off_t StreamSize(IsoStream* stream) { return static_cast<off_t>(Data(stream)->entry->size()); }

int StreamRead(IsoStream* stream, void* buffer, size_t count) {
  SourceStream* s = Data(stream);
  if (!s->fd) return static_cast<int>(ISO_FILE_NOT_OPENED);
  const IsoImageEntry& entry = *s->entry;
  if (s->pos >= entry.size()) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, entry.size() - s->pos));
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  if (s->pos < entry.audio_size) {
    done = static_cast<size_t>(std::min<uint64_t>(n, entry.audio_size - s->pos));
    const Transfer read =
        ReadAt(*s->shared->disk, s->fd.get(), out, done, static_cast<off_t>(s->pos));
    if (!read.ok()) {
      s->shared->Fail("cannot read " + entry.source + ": " +
                      (read.error != 0 ? std::strerror(read.error) : "shorter than it was"));
      return static_cast<int>(ISO_FILE_READ_ERROR);
    }
  }
  if (done < n) {
    const size_t in_tag = static_cast<size_t>(s->pos + done - entry.audio_size);
    std::memcpy(out + done, entry.tag.data() + in_tag, n - done);
  }
  s->pos += n;
  return static_cast<int>(n);
}

int StreamRepeatable(IsoStream*) { return 1; }

void StreamId(IsoStream* stream, unsigned int* fs_id, dev_t* dev_id, ino_t* ino_id) {
  *fs_id = 0x54564c31;  // none of libisofs's own file systems
  *dev_id = 0;
  *ino_id = Data(stream)->id;
}

void StreamFree(IsoStream* stream) { delete Data(stream); }

int StreamUpdateSize(IsoStream*) { return ISO_SUCCESS; }

IsoStreamIface kSourceStreamClass = {
    1,          {'u', 's', 'e', 'r'}, StreamOpen,       StreamClose,
    StreamSize, StreamRead,           StreamRepeatable, StreamId,
    StreamFree, StreamUpdateSize,     nullptr,          nullptr,
    nullptr};

// A new stream of one reference, owned by the caller.
IsoStream* NewStream(StreamShared& shared, const IsoImageEntry& entry, ino_t id) {
  auto* stream = static_cast<IsoStream*>(std::calloc(1, sizeof(IsoStream)));
  if (stream == nullptr) return nullptr;
  stream->iface = &kSourceStreamClass;
  stream->refcount = 1;
  stream->data = new SourceStream{&shared, &entry, id, UniqueFd(), 0};
  return stream;
}

struct ImageFree {
  void operator()(IsoImage* image) const { iso_image_unref(image); }
};
struct OptsFree {
  void operator()(IsoWriteOpts* opts) const { iso_write_opts_free(opts); }
};
// A running image generator: stopped (when not at its end) and freed.
struct SourceFree {
  void operator()(burn_source* source) const {
    source->cancel(source);
    source->free_data(source);
    std::free(source);
  }
};
using ImagePtr = std::unique_ptr<IsoImage, ImageFree>;
using SourcePtr = std::unique_ptr<burn_source, SourceFree>;

std::string IsoError(const std::string& what, int ret) {
  return what + ": " + iso_error_to_msg(ret);
}

// The folders and files of `job` in the image's tree, files weighted so
// that their contents follow the entries' order.
bool BuildTree(const IsoImageRequest& job, IsoImage* image, StreamShared& shared,
               std::string* error) {
  std::map<std::string, IsoDir*> folders{{std::string(), iso_image_get_root(image)}};
  int weight = static_cast<int>(std::min<size_t>(job.entries.size(), 1 << 30));
  for (size_t i = 0; i < job.entries.size(); ++i) {
    const IsoImageEntry& entry = job.entries[i];
    const size_t slash = entry.target.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : entry.target.substr(0, slash);
    const std::string name = entry.target.substr(slash == std::string::npos ? 0 : slash + 1);
    const auto folder = folders.find(parent);
    if (folder == folders.end()) {
      *error = "no folder holds " + entry.target + " in the image";
      return false;
    }
    int ret = 0;
    if (entry.is_file) {
      IsoStream* stream = NewStream(shared, entry, static_cast<ino_t>(i + 1));
      IsoFile* file = nullptr;
      ret = stream == nullptr
                ? static_cast<int>(ISO_OUT_OF_MEM)
                : iso_image_add_new_file(image, folder->second, name.c_str(), stream, &file);
      if (ret < 0 && stream != nullptr) iso_stream_unref(stream);
      if (ret >= 0) iso_node_set_sort_weight(reinterpret_cast<IsoNode*>(file), weight--);
    } else {
      IsoDir* dir = nullptr;
      ret = iso_image_add_new_dir(image, folder->second, name.c_str(), &dir);
      if (ret >= 0) folders[entry.target] = dir;
    }
    if (ret < 0) {
      *error = IsoError("cannot add " + entry.target + " to the image", ret);
      return false;
    }
  }
  return true;
}

// ISO 9660 names for any reader, the names themselves in Joliet (UTF-16)
// and Rock Ridge (UTF-8); every file read-only and owned by nobody in
// particular, as on a pressed disc.
std::unique_ptr<IsoWriteOpts, OptsFree> MakeOptions() {
  IsoWriteOpts* opts = nullptr;
  if (iso_write_opts_new(&opts, 0) < 0) return nullptr;
  std::unique_ptr<IsoWriteOpts, OptsFree> owned(opts);
  iso_write_opts_set_rockridge(opts, 1);
  iso_write_opts_set_joliet(opts, 1);
  iso_write_opts_set_joliet_utf16(opts, 1);
  iso_write_opts_set_sort_files(opts, 1);
  iso_write_opts_set_replace_mode(opts, 1, 1, 1, 1);
  char utf8[] = "UTF-8";
  iso_write_opts_set_output_charset(opts, utf8);
  return owned;
}

// Reads the whole image from `source` into `out`; false with `error` at
// the first failure, of a source file or of the image itself.
bool CopyImage(burn_source* source, uint64_t size, int out, DiskOps& disk, StreamShared& shared,
               const IsoProgress& progress, std::string* error) {
  std::vector<unsigned char> buffer(32 * kIsoSectorSize);
  uint64_t at = 0;
  int64_t shown = -1;
  while (at < size) {
    const int want = static_cast<int>(std::min<uint64_t>(buffer.size(), size - at));
    const int got = source->read_xt(source, buffer.data(), want);
    if (*error = shared.Error(); !error->empty()) return false;
    if (got <= 0) {
      *error =
          "the image ended after " + std::to_string(at) + " of " + std::to_string(size) + " bytes";
      return false;
    }
    const Transfer wrote =
        WriteAt(disk, out, buffer.data(), static_cast<size_t>(got), static_cast<off_t>(at));
    if (!wrote.ok()) {
      *error = std::string("cannot write the image: ") + std::strerror(wrote.error);
      return false;
    }
    at += static_cast<uint64_t>(got);
    if (const int64_t files = shared.opened.load(); files != shown && progress) {
      progress(files);
      shown = files;
    }
  }
  *error = shared.Error();
  return error->empty();
}

// Whether the folder of the image has room for `size` more bytes.
bool HasRoom(DiskOps& disk, int dir_fd, uint64_t size, IsoImageResult& result) {
  struct statfs room {};
  if (disk.FStatFs(dir_fd, &room) != 0) {
    result.outcome = IsoImageResult::Outcome::kFailed;
    result.detail = std::string("cannot learn the free space: ") + std::strerror(errno);
    return false;
  }
  const uint64_t block = room.f_frsize > 0 ? room.f_frsize : room.f_bsize;
  result.bytes_free = static_cast<uint64_t>(room.f_bavail) * block;
  if (size <= result.bytes_free) return true;
  result.outcome = IsoImageResult::Outcome::kNoRoom;
  result.detail = "not enough room for the image: " + std::to_string(size) + " bytes, " +
                  std::to_string(result.bytes_free) + " free; nothing was written";
  return false;
}

// Writes the image under a temporary name in `dir_fd`, then renames it to
// `name`; on failure the temporary is removed and `error` says why.
bool WriteInPlace(burn_source* source, uint64_t size, int dir_fd, const std::string& name,
                  DiskOps& disk, StreamShared& shared, const IsoProgress& progress,
                  std::string* error) {
  const std::string part = std::string(kExportPartPrefix) + name;
  // Made afresh: a part left by an image cut short is written over.
  UniqueFd out(
      ::openat(dir_fd, part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!out) {
    *error = "cannot create " + part + ": " + std::strerror(errno);
    return false;
  }
  bool ok = CopyImage(source, size, out.get(), disk, shared, progress, error);
  if (ok && disk.FSync(out.get()) != 0) {
    *error = std::string("cannot write the image: ") + std::strerror(errno);
    ok = false;
  }
  if (const int err = out.Close(); ok && err != 0) {
    *error = std::string("cannot write the image: ") + std::strerror(err);
    ok = false;
  }
  if (ok && disk.RenameAt(dir_fd, part.c_str(), dir_fd, name.c_str(), 0) != 0) {
    *error = "cannot put the image in place: " + std::string(std::strerror(errno));
    ok = false;
  }
  if (!ok) ::unlinkat(dir_fd, part.c_str(), 0);
  return ok;
}

IsoImageResult Failed(IsoImageResult result, std::string detail) {
  result.outcome = IsoImageResult::Outcome::kFailed;
  result.detail = std::move(detail);
  return result;
}

}  // namespace

IsoImageResult WriteIsoImage(const IsoImageRequest& job, const std::string& path,
                             const IsoProgress& progress, DiskOps& disk) {
  IsoImageResult result;
  if (auto failure = LibraryReady()) return Failed(result, *failure);
  StreamShared shared;
  shared.disk = &disk;
  shared.dir_fd = job.source_dir_fd;
  IsoImage* raw = nullptr;
  if (const int ret = iso_image_new(job.volume_id.c_str(), &raw); ret < 0) {
    return Failed(result, IsoError("cannot make an image", ret));
  }
  ImagePtr image(raw);
  std::string error;
  if (!BuildTree(job, image.get(), shared, &error)) return Failed(result, error);
  const auto opts = MakeOptions();
  burn_source* started = nullptr;
  const int ret = opts ? iso_image_create_burn_source(image.get(), opts.get(), &started) : -1;
  if (ret < 0) return Failed(result, IsoError("cannot lay out the image", ret));
  const SourcePtr source(started);
  result.image_size = static_cast<uint64_t>(source->get_size(source.get()));
  const uint64_t sectors = (result.image_size + kIsoSectorSize - 1) / kIsoSectorSize;
  if (sectors > job.max_sectors) {
    result.outcome = IsoImageResult::Outcome::kTooLarge;
    result.detail = "the image would take " + std::to_string(result.image_size) + " bytes (" +
                    std::to_string(sectors) + " sectors of 2048 bytes), more than the " +
                    std::to_string(job.max_sectors) + " sectors a CD holds; nothing was written";
    return result;
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const UniqueFd dir_fd = disk.OpenAt(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!dir_fd) return Failed(result, "cannot open " + folder + ": " + std::strerror(errno));
  if (!HasRoom(disk, dir_fd.get(), result.image_size, result)) return result;
  if (!WriteInPlace(source.get(), result.image_size, dir_fd.get(), path.substr(slash + 1), disk,
                    shared, progress, &error)) {
    return Failed(result, path + ": " + error);
  }
  return result;
}

std::string IsoVolumeLabel(std::string_view folder_name) {
  constexpr size_t kLabelMax = 32;
  std::string label;
  bool letter = false;
  for (const char c : folder_name) {
    const auto u = static_cast<unsigned char>(c);
    const bool alpha = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
    letter = letter || alpha;
    if (alpha || (u >= '0' && u <= '9')) {
      label += static_cast<char>(alpha && u >= 'a' ? u - 'a' + 'A' : u);
    } else if (!label.empty() && label.back() != '_') {
      label += '_';
    }
  }
  if (label.size() > kLabelMax) label.resize(kLabelMax);
  while (!label.empty() && label.back() == '_') label.pop_back();
  return letter ? label : std::string("TARVEL");
}

size_t JolietLength(std::string_view name) {
  size_t units = 0;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if ((u & 0xc0) != 0x80) ++units;  // each character's first byte
    if ((u & 0xf8) == 0xf0) ++units;  // four bytes: a surrogate pair
  }
  return units;
}

}  // namespace tarvel
