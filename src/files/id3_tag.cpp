#include "files/id3_tag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/disk_ops.h"
#include "platform/text.h"
#include "platform/translatable.h"
#include "platform/unique_fd.h"

namespace tarvel {
namespace {

struct FieldPlace {
  size_t offset;
  size_t width;
};
constexpr FieldPlace kHeader{0, 3};
constexpr FieldPlace kTitle{3, 30};
constexpr FieldPlace kArtist{33, 30};
constexpr FieldPlace kAlbum{63, 30};
constexpr FieldPlace kYear{93, 4};
constexpr FieldPlace kComment{97, 30};
constexpr size_t kGenreOffset = 127;

// First byte of a two-byte character in code page 932.
bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Length of the longest prefix of `bytes` that ends on a character boundary
// and is at most `limit` bytes long. Walks from the start, since a byte in the
// lead range can just as well be the second byte of the character before it.
size_t BoundaryAtOrBefore(std::string_view bytes, size_t limit) {
  size_t i = 0;
  while (i < bytes.size()) {
    size_t step = IsLeadByte(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
    if (i + step > limit || i + step > bytes.size()) break;
    i += step;
  }
  return i;
}

// One text field of the block as the program keeps it: up to the first NUL,
// without a dangling half character at its end (written by tools that cut
// by bytes), without leading and trailing spaces, decoded from code page 932.
void DecodeField(const char* block, FieldPlace place, std::u16string& out) {
  std::string_view bytes(block + place.offset, place.width);
  size_t nul = bytes.find('\0');
  if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  bytes = bytes.substr(0, BoundaryAtOrBefore(bytes, bytes.size()));
  // A space byte is never the second byte of a character, so trimming the
  // bytes trims the text.
  while (!bytes.empty() && bytes.front() == ' ') bytes.remove_prefix(1);
  while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
  if (IsAscii(bytes)) {
    out.assign(bytes.begin(), bytes.end());  // code page 932 keeps ASCII as it is
  } else {
    out = DecodeCp932(bytes);
    size_t cut = out.find(u'\0');
    if (cut != std::u16string::npos) out.resize(cut);
  }
}

bool Fail(TagIoStatus* status, TagIoError error, int sys_errno) {
  if (status != nullptr) {
    status->error = error;
    status->sys_errno = sys_errno;
  }
  return false;
}

bool HasTagHeader(const char* block) { return std::memcmp(block, "TAG", 3) == 0; }

// Opens an existing file of at least 128 bytes and learns how it is.
// O_NONBLOCK keeps a FIFO or device that happens to carry an MP3 name from
// blocking the open. A file is never written through a link: one put in its
// place after the scan would send the tag into whatever it points at.
UniqueFd OpenRegular(DiskOps& disk, int dir_fd, const std::string& path, int mode,
                     TagIoStatus* status, struct stat& st) {
  if (path.find('\0') != std::string::npos) {
    Fail(status, TagIoError::kOpen, EINVAL);
    return UniqueFd();
  }
  // Reading a tag does not count as using the file: O_NOATIME keeps the scan
  // from dirtying every inode of the library (and from the writeback that
  // follows). Only the file's owner may ask for it; others open plainly.
  const int flags = mode | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (mode == O_RDONLY ? 0 : O_NOFOLLOW);
  UniqueFd fd = disk.OpenAt(dir_fd, path.c_str(), flags | O_NOATIME);
  if (!fd && errno == EPERM) fd = disk.OpenAt(dir_fd, path.c_str(), flags);
  if (!fd) {
    Fail(status, TagIoError::kOpen, errno);
    return fd;
  }
  if (disk.FStat(fd.get(), &st) != 0) {
    Fail(status, TagIoError::kStat, errno);
    return UniqueFd();
  }
  // Only a plain file holds a tag, never a device that carries an MP3 name.
  if (!S_ISREG(st.st_mode)) {
    if (mode == O_RDONLY) {
      Fail(status, S_ISDIR(st.st_mode) ? TagIoError::kRead : TagIoError::kStat,
           S_ISDIR(st.st_mode) ? EISDIR : ESPIPE);
    } else {
      Fail(status, TagIoError::kOpen, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    return UniqueFd();
  }
  if (st.st_size < static_cast<off_t>(kTagBlockSize)) {
    Fail(status, TagIoError::kTooShort, 0);
    return UniqueFd();
  }
  return fd;
}

// Opens `path` for writing, without following a link. With `make_writable`,
// a file whose owner has no write permission gets it first; only on that
// path is the file looked up by name a second time.
UniqueFd OpenForWriting(DiskOps& disk, int dir_fd, const std::string& path, bool make_writable,
                        TagIoStatus* status, struct stat& st) {
  UniqueFd fd = OpenRegular(disk, dir_fd, path, O_RDWR, status, st);
  if (fd || !make_writable || status->error != TagIoError::kOpen || status->sys_errno != EACCES) {
    return fd;
  }
  // A file the owner may not read either (mode 000) is opened for reading
  // and writing too, since the old block is read before the new one goes in.
  constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
  struct stat named;
  if (disk.FStatAt(dir_fd, path.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(named.st_mode) || (named.st_mode & kOwnerReadWrite) == kOwnerReadWrite) {
    return fd;
  }
  if (disk.FChmodAt(dir_fd, path.c_str(), (named.st_mode & 07777) | kOwnerReadWrite) != 0) {
    Fail(status, TagIoError::kOpen, errno);
    return fd;
  }
  *status = TagIoStatus{};
  return OpenRegular(disk, dir_fd, path, O_RDWR, status, st);
}

// Reads the last 128 bytes of a file of `size` bytes into `block`.
bool ReadLastBlock(DiskOps& disk, int fd, off_t size, char* block, TagIoStatus* status) {
  const Transfer read =
      ReadAt(disk, fd, block, kTagBlockSize, size - static_cast<off_t>(kTagBlockSize));
  if (!read.ok()) return Fail(status, TagIoError::kRead, read.error);  // 0: shrank meanwhile
  return true;
}

// Decodes every field of a 128-byte block into `Tag`.
void DecodeBlock(const char* block, ID3TagData& Tag) {
  DecodeField(block, kHeader, Tag.Header);
  DecodeField(block, kTitle, Tag.Title);
  DecodeField(block, kArtist, Tag.Artist);
  DecodeField(block, kAlbum, Tag.Album);
  DecodeField(block, kYear, Tag.Year);
  DecodeField(block, kComment, Tag.Comment);
  Tag.Genre = static_cast<unsigned char>(block[kGenreOffset]);
}

// The 128 bytes of `Tag` as written to disk; false for a genre out of range.
bool BuildBlock(const ID3TagData& Tag, std::string& block, TagIoStatus* status) {
  if (Tag.Genre < 0 || Tag.Genre > 255) return Fail(status, TagIoError::kBadGenre, 0);
  block.clear();
  block.reserve(kTagBlockSize);
  block += "TAG";
  block += FitTagField(Tag.Title, kTitle.width);
  block += FitTagField(Tag.Artist, kArtist.width);
  block += FitTagField(Tag.Album, kAlbum.width);
  block += FitTagField(Tag.Year, kYear.width);
  block += FitTagField(Tag.Comment, kComment.width);
  block += static_cast<char>(static_cast<unsigned char>(Tag.Genre));
  return true;
}

// The block that gives a file the texts `Title`, `Artist` and `Album`. A
// file without a tag (`old_block` is then its last audio bytes) gets one
// with no year, comment or genre of its own rather than bytes of its audio
// data. A tag keeps the bytes of its year, comment and genre exactly, so an
// ID3v1.1 track number at the end of the comment survives too, and a field
// whose text does not change keeps its bytes: its padding (NULs or spaces),
// its leading spaces, and characters outside code page 932 that another
// program wrote in its own code page.
std::string UpdatedBlock(const char* old_block, std::u16string_view Title,
                         std::u16string_view Artist, std::u16string_view Album) {
  ID3TagData tag;
  tag.Genre = kNoGenre;
  tag.Title.assign(Title);
  tag.Artist.assign(Artist);
  tag.Album.assign(Album);
  std::string block;
  BuildBlock(tag, block, nullptr);  // kNoGenre is in range
  if (!HasTagHeader(old_block)) return block;
  block.replace(kYear.offset, kTagBlockSize - kYear.offset, old_block + kYear.offset,
                kTagBlockSize - kYear.offset);
  for (auto [place, text] :
       {std::pair{kTitle, Title}, std::pair{kArtist, Artist}, std::pair{kAlbum, Album}}) {
    std::u16string now;
    DecodeField(old_block, place, now);
    if (now == text)
      block.replace(place.offset, place.width, old_block + place.offset, place.width);
  }
  return block;
}

// Writes `block` over the old tag when the file has one, else after the
// audio data, and closes `fd`. A write that fails or comes up short puts the
// file back as it was: the old tag bytes again, the old size, so that a full
// disk leaves no fragment of a tag behind.
bool WriteBlockAndClose(DiskOps& disk, UniqueFd fd, off_t size, bool over_old_tag,
                        const std::string& block, const char* old_block, TagIoStatus* status) {
  const off_t offset = over_old_tag ? size - static_cast<off_t>(kTagBlockSize) : size;
  const Transfer written = WriteAt(disk, fd.get(), block.data(), kTagBlockSize, offset);
  bool ok = written.ok();
  if (!ok) {
    Fail(status, TagIoError::kWrite, written.error);
    if (over_old_tag && written.done > 0) {
      WriteAt(disk, fd.get(), old_block, kTagBlockSize, offset);
    }
    disk.FTruncate(fd.get(), size);
  }
  if (const int err = fd.Close(); err != 0 && ok) ok = Fail(status, TagIoError::kWrite, err);
  return ok;
}

// Whether `now` has the size and last 128 bytes `expected` describes (as
// far as it knows them).
bool SameBytes(const DiskEntry& expected, const DiskEntry& now) {
  if (expected.size != now.size) return false;
  if (expected.has_block) {
    if (expected.had_tag != now.had_tag) return false;
    if (expected.had_tag) return expected.block == now.block;
  }
  return !expected.has_last || (now.has_last && expected.last_hash == now.last_hash);
}

// Whether `now` is still the file and the bytes `expected` describes: its
// size and last bytes and, where the file system keeps inode numbers, its
// inode. Elsewhere (exFAT after a cache drop) the number is no evidence.
bool SameFileAndBytes(const DiskEntry& expected, const DiskEntry& now) {
  if (expected.inode_kept && (expected.dev != now.dev || expected.ino != now.ino)) return false;
  return SameBytes(expected, now);
}

}  // namespace

bool HasRunBytes(const DiskEntry& recorded, const DiskEntry& now) {
  if (SameBytes(recorded, now)) return true;
  if (!recorded.has_block) return false;
  const uint64_t after = recorded.size + (recorded.had_tag ? 0 : kTagBlockSize);
  if (now.size != after || !now.had_tag) return false;
  return !recorded.has_after || (now.has_last && now.last_hash == recorded.after_hash);
}

uint64_t UpdatedBlockHash(const DiskEntry& entry, std::u16string_view Title,
                          std::u16string_view Artist, std::u16string_view Album) {
  // A file without a tag gets a fresh one whatever its last bytes are.
  char none[kTagBlockSize] = {};
  const char* old_block = entry.had_tag ? entry.block.data() : none;
  return LastBytesHash(UpdatedBlock(old_block, Title, Artist, Album));
}

std::string UpdatedTagBlock(const char* last, std::u16string_view Title, std::u16string_view Artist,
                            std::u16string_view Album) {
  return UpdatedBlock(last, Title, Artist, Album);
}

bool CaptureDiskEntry(DiskOps& disk, int fd, const struct stat& st, DiskEntry& entry, char* last,
                      TagIoStatus* status) {
  entry.is_file = true;
  entry.dev = st.st_dev;
  entry.ino = st.st_ino;
  entry.mode = st.st_mode & 07777;
  entry.size = static_cast<uint64_t>(st.st_size);
  entry.mtime = FileTime{st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)};
  entry.has_mtime = true;
  entry.had_tag = false;
  entry.has_last = false;
  entry.block.clear();
  entry.has_block = false;
  char own[kTagBlockSize];
  if (last == nullptr) last = own;
  if (st.st_size >= static_cast<off_t>(kTagBlockSize)) {
    if (!ReadLastBlock(disk, fd, st.st_size, last, status)) return false;
    entry.had_tag = HasTagHeader(last);
    if (entry.had_tag) entry.block.assign(last, kTagBlockSize);
    entry.last_hash = LastBytesHash(std::string_view(last, kTagBlockSize));
    entry.has_last = true;
  }
  entry.has_block = true;
  return true;
}

namespace {

// Opens the plain file `path` for reading, without following a link. A file
// its owner may not read (mode 000) is made readable for the open and gets
// its mode back at once, so that what a run is about to change can be kept
// first; `st` then holds its own mode.
UniqueFd OpenToCapture(DiskOps& disk, int dir_fd, const std::string& path, struct stat& st) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  UniqueFd fd = disk.OpenAt(dir_fd, path.c_str(), kFlags);
  if (!fd) {
    if (errno != EACCES || disk.FStatAt(dir_fd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || (st.st_mode & S_IRUSR) != 0 || st.st_uid != ::geteuid()) {
      return fd;
    }
    const mode_t mode = st.st_mode & 07777;
    if (disk.FChmodAt(dir_fd, path.c_str(), mode | S_IRUSR) != 0) return fd;
    fd = disk.OpenAt(dir_fd, path.c_str(), kFlags);
    if (!fd || disk.FChmod(fd.get(), mode) != 0) {
      const int error = fd ? errno : EACCES;
      disk.FChmodAt(dir_fd, path.c_str(), mode);
      errno = error;
      return UniqueFd();
    }
  }
  if (disk.FStat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  return fd;
}

}  // namespace

bool CaptureFileAt(DiskOps& disk, int dir_fd, const std::string& path, DiskEntry& entry) {
  struct stat st;
  UniqueFd fd = OpenToCapture(disk, dir_fd, path, st);
  if (!fd) return false;
  return CaptureDiskEntry(disk, fd.get(), st, entry, nullptr, nullptr);
}

std::string DescribeTagIoStatus(const TagIoStatus& status) {
  std::string text;
  switch (status.error) {
    case TagIoError::kNone:
      return "no error";
    case TagIoError::kOpen:
      text = N_("cannot open the file");
      break;
    case TagIoError::kStat:
      text = N_("cannot learn the file size");
      break;
    case TagIoError::kTooShort:
      text = N_("the file is shorter than 128 bytes");
      break;
    case TagIoError::kRead:
      text = N_("cannot read the tag block");
      break;
    case TagIoError::kNoTag:
      text = N_("the file has no ID3v1 tag");
      break;
    case TagIoError::kBadGenre:
      text = N_("the genre number is outside 0..255");
      break;
    case TagIoError::kWrite:
      text = N_("cannot write the tag block");
      break;
    case TagIoError::kChanged:
      text = N_("the file's size has changed since the run");
      break;
    case TagIoError::kChangedSinceRead:
      text = N_("the file has changed since it was read");
      break;
    case TagIoError::kChangedSinceRun:
      text = N_("the file's tag has changed since the run");
      break;
    case TagIoError::kOutsideLibrary:
      text = N_("its folder is reached through a link or lies outside the library");
      break;
  }
  if (status.sys_errno != 0) {
    text += ": ";
    text += std::strerror(status.sys_errno);
  }
  return text;
}

std::u16string CutAtNull(std::u16string_view Text) {
  return std::u16string(Text.substr(0, Text.find(u'\0')));
}

std::string FitTagField(std::u16string_view text, size_t width) {
  std::string bytes = EncodeCp932(text);
  if (bytes.size() > width) bytes.resize(BoundaryAtOrBefore(bytes, width));
  bytes.resize(width, ' ');
  return bytes;
}

int32_t ReadID3TagAt(int dir_fd, const std::string& path, ID3TagData& Tag, TagIoStatus* status,
                     DiskEntry* seen, DiskOps& disk) {
  if (status != nullptr) *status = TagIoStatus{};
  if (seen != nullptr) seen->has_block = false;
  struct stat st;
  UniqueFd fd = OpenRegular(disk, dir_fd, path, O_RDONLY, status, st);
  if (!fd) return 0;
  char block[kTagBlockSize];
  DiskEntry facts;
  if (!CaptureDiskEntry(disk, fd.get(), st, facts, block, status)) return 0;
  if (seen != nullptr) *seen = std::move(facts);
  DecodeBlock(block, Tag);
  if (Tag.Header != u"TAG") {
    Fail(status, TagIoError::kNoTag, 0);
    return 0;
  }
  return 1;
}

int32_t ReadID3Tag(std::u16string_view FileName, ID3TagData& Tag, TagIoStatus* status) {
  return ReadID3TagAt(AT_FDCWD, Utf16ToUtf8(FileName), Tag, status);
}

int32_t WriteID3Tag(std::u16string_view FileName, const ID3TagData& Tag, TagIoStatus* status) {
  if (status != nullptr) *status = TagIoStatus{};
  // The whole block is built before the file is touched, so nothing is
  // written when a field cannot be made.
  std::string block;
  if (!BuildBlock(Tag, block, status)) return 0;
  DiskOps& disk = SystemDiskOps();
  struct stat st;
  UniqueFd fd = OpenRegular(disk, AT_FDCWD, Utf16ToUtf8(FileName), O_RDWR, status, st);
  if (!fd) return 0;
  char old_block[kTagBlockSize];
  if (!ReadLastBlock(disk, fd.get(), st.st_size, old_block, status)) return 0;
  return WriteBlockAndClose(disk, std::move(fd), st.st_size, HasTagHeader(old_block), block,
                            old_block, status)
             ? 1
             : 0;
}

int32_t UpdateID3TagTexts(std::u16string_view FileName, std::u16string_view Title,
                          std::u16string_view Artist, std::u16string_view Album, bool make_writable,
                          TagIoStatus* status) {
  return UpdateID3TagTextsAt(AT_FDCWD, Utf16ToUtf8(FileName), Title, Artist, Album, make_writable,
                             status, nullptr);
}

int32_t UpdateID3TagTextsAt(int dir_fd, const std::string& path, std::u16string_view Title,
                            std::u16string_view Artist, std::u16string_view Album,
                            bool make_writable, TagIoStatus* status, const DiskEntry* expected,
                            DiskOps& disk) {
  TagIoStatus own;
  if (status == nullptr) status = &own;
  *status = TagIoStatus{};
  struct stat st;
  UniqueFd fd = OpenForWriting(disk, dir_fd, path, make_writable, status, st);
  if (!fd) return 0;
  char old_block[kTagBlockSize];
  DiskEntry now;
  if (!CaptureDiskEntry(disk, fd.get(), st, now, old_block, status)) return 0;
  // The undo record holds what the file was when the run looked at it; a
  // file that has changed since (another program wrote it, or another file
  // took its name) is not written, or the record would give back the wrong
  // bytes.
  if (expected != nullptr && expected->has_block && !SameFileAndBytes(*expected, now)) {
    Fail(status, TagIoError::kChangedSinceRead, 0);
    return 0;
  }
  // A privileged user can open a file whose owner has no write permission;
  // it still ends up writable, like every file written here.
  if (make_writable && (st.st_mode & S_IWUSR) == 0 &&
      disk.FChmod(fd.get(), (st.st_mode & 07777) | S_IWUSR) != 0) {
    Fail(status, TagIoError::kOpen, errno);
    return 0;
  }
  return WriteBlockAndClose(disk, std::move(fd), st.st_size, now.had_tag,
                            UpdatedBlock(old_block, Title, Artist, Album), old_block, status)
             ? 1
             : 0;
}

namespace {

// Whether the last 128 bytes `last` are the block the run wrote, as far as
// the record knows it.
bool IsRunsBlock(const DiskEntry& entry, const char* last) {
  return !entry.has_after ||
         LastBytesHash(std::string_view(last, kTagBlockSize)) == entry.after_hash;
}

// Puts the entry's 128 bytes back over the file's last 128 bytes: only when
// the file still has its size and ends in the block the run wrote (or in the
// old one already).
bool PutBackBlock(DiskOps& disk, int fd, uint64_t now, const DiskEntry& entry,
                  TagIoStatus* status) {
  if (now != entry.size) return Fail(status, TagIoError::kChanged, 0);
  char last[kTagBlockSize];
  if (!ReadLastBlock(disk, fd, static_cast<off_t>(now), last, status)) return false;
  if (std::memcmp(last, entry.block.data(), kTagBlockSize) == 0) return true;
  if (!IsRunsBlock(entry, last)) return Fail(status, TagIoError::kChangedSinceRun, 0);
  const off_t at = static_cast<off_t>(now - kTagBlockSize);
  const Transfer written = WriteAt(disk, fd, entry.block.data(), kTagBlockSize, at);
  if (written.ok()) return true;
  WriteAt(disk, fd, last, kTagBlockSize, at);
  return Fail(status, TagIoError::kWrite, written.error);
}

// Cuts off the tag a run appended to a file of `entry.size` bytes, and
// nothing else: only when the file is exactly 128 bytes longer and ends in
// the block the run wrote.
bool CutAppendedTag(DiskOps& disk, int fd, uint64_t now, const DiskEntry& entry,
                    TagIoStatus* status) {
  if (now == entry.size) return true;
  if (now != entry.size + kTagBlockSize) return Fail(status, TagIoError::kChanged, 0);
  char last[kTagBlockSize];
  if (!ReadLastBlock(disk, fd, static_cast<off_t>(now), last, status)) return false;
  if (!HasTagHeader(last)) return Fail(status, TagIoError::kChanged, 0);
  if (!IsRunsBlock(entry, last)) return Fail(status, TagIoError::kChangedSinceRun, 0);
  if (disk.FTruncate(fd, static_cast<off_t>(entry.size)) != 0) {
    return Fail(status, TagIoError::kWrite, errno);
  }
  return true;
}

// Opens the plain file `path` for reading and writing, without following a
// link; a file its owner may not read or write gets u+rw for the open (the
// mode comes back after the write).
UniqueFd OpenToRestore(DiskOps& disk, int dir_fd, const std::string& path, TagIoStatus* status) {
  constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
  struct stat st;
  if (disk.FStatAt(dir_fd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail(status, TagIoError::kOpen, errno);
    return UniqueFd();
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(status, TagIoError::kOpen, S_ISLNK(st.st_mode) ? ELOOP : EINVAL);
    return UniqueFd();
  }
  // A file shorter than a tag is opened all the same: a run that appended
  // one to it left it longer.
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  UniqueFd fd = disk.OpenAt(dir_fd, path.c_str(), kFlags);
  if (!fd && errno == EACCES && (st.st_mode & kOwnerReadWrite) != kOwnerReadWrite &&
      disk.FChmodAt(dir_fd, path.c_str(), (st.st_mode & 07777) | kOwnerReadWrite) == 0) {
    fd = disk.OpenAt(dir_fd, path.c_str(), kFlags);
  }
  if (!fd) Fail(status, TagIoError::kOpen, errno);
  return fd;
}

}  // namespace

int32_t RestoreFileAt(int dir_fd, const std::string& path, const DiskEntry& entry,
                      TagIoStatus* status, DiskOps& disk) {
  TagIoStatus own;
  if (status == nullptr) status = &own;
  *status = TagIoStatus{};
  if (entry.has_block && entry.had_tag && entry.size < kTagBlockSize) {
    Fail(status, TagIoError::kRead, EINVAL);  // no tag block to put back
    return 0;
  }
  UniqueFd fd = OpenToRestore(disk, dir_fd, path, status);
  if (!fd) return 0;
  struct stat st;
  bool ok = true;
  if (disk.FStat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    ok = Fail(status, TagIoError::kStat, errno);
    st.st_mode = 0;
  }
  if (ok && entry.has_block) {
    const uint64_t now = static_cast<uint64_t>(st.st_size);
    ok = entry.had_tag ? PutBackBlock(disk, fd.get(), now, entry, status)
                       : CutAppendedTag(disk, fd.get(), now, entry, status);
  }
  // The mode comes back after the bytes, also when they could not: a file
  // made writable for the write is read-only again. The time comes back
  // last, since writing the bytes set it to now.
  if (((st.st_mode & 07777) != entry.mode || !ok) &&
      disk.FChmod(fd.get(), entry.mode & 07777) != 0 && ok) {
    ok = Fail(status, TagIoError::kWrite, errno);
  }
  if (ok && entry.has_mtime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {entry.mtime.sec, entry.mtime.nsec}};
    if (disk.FUtimens(fd.get(), times) != 0) ok = Fail(status, TagIoError::kWrite, errno);
  }
  if (const int err = fd.Close(); err != 0 && ok) ok = Fail(status, TagIoError::kWrite, err);
  return ok ? 1 : 0;
}

int32_t RestoreID3BlockAt(int dir_fd, const std::string& path, uint64_t size, bool had_tag,
                          std::string_view block, uint32_t mode, TagIoStatus* status,
                          DiskOps& disk) {
  if (had_tag && block.size() != kTagBlockSize) {
    if (status != nullptr) *status = TagIoStatus{TagIoError::kRead, EINVAL};
    return 0;
  }
  DiskEntry entry;
  entry.size = size;
  entry.mode = mode;
  entry.has_block = true;
  entry.had_tag = had_tag;
  if (had_tag) entry.block.assign(block.data(), block.size());
  return RestoreFileAt(dir_fd, path, entry, status, disk);
}

int32_t RestoreID3Block(std::u16string_view FileName, uint64_t size, bool had_tag,
                        std::string_view block, uint32_t mode, TagIoStatus* status) {
  return RestoreID3BlockAt(AT_FDCWD, Utf16ToUtf8(FileName), size, had_tag, block, mode, status);
}

}  // namespace tarvel
