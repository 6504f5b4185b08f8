#include "files/id3_tag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace tarvel {
namespace {

constexpr size_t kBlockSize = 128;

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
  bool ascii = true;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
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

// Opens an existing file and learns its length. O_NONBLOCK keeps a FIFO or
// device that happens to carry an MP3 name from blocking the open.
// With `file_mode` (writing only), the file's mode bits are passed back.
int OpenRegular(int dir_fd, const std::string& path, int mode, TagIoStatus* status, off_t* size,
                mode_t* file_mode = nullptr, struct stat* seen = nullptr) {
  if (path.find('\0') != std::string::npos) {
    Fail(status, TagIoError::kOpen, EINVAL);
    return -1;
  }
  // Reading a tag does not count as using the file: O_NOATIME keeps the scan
  // from dirtying every inode of the library (and from the writeback that
  // follows). Only the file's owner may ask for it; others open plainly.
  // A file is never written through a link: one put in its place after the
  // scan would send the tag into whatever it points at.
  const int flags = mode | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (mode == O_RDONLY ? 0 : O_NOFOLLOW);
  int fd = ::openat(dir_fd, path.c_str(), flags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = ::openat(dir_fd, path.c_str(), flags);
  if (fd < 0) {
    Fail(status, TagIoError::kOpen, errno);
    return -1;
  }
  off_t length;
  if (mode == O_RDONLY && seen == nullptr) {
    // Reading needs the length only; lseek is cheaper than fstat, and on a
    // pipe or terminal it fails, on a folder the read does.
    length = ::lseek(fd, 0, SEEK_END);
    if (length < 0) {
      Fail(status, TagIoError::kStat, errno);
      ::close(fd);
      return -1;
    }
  } else {
    // Only a plain file may be written to, never a device that carries an
    // MP3 name.
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      Fail(status, TagIoError::kStat, errno);
      ::close(fd);
      return -1;
    }
    if (!S_ISREG(st.st_mode)) {
      Fail(status, TagIoError::kOpen, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
      ::close(fd);
      return -1;
    }
    length = st.st_size;
    if (file_mode != nullptr) *file_mode = st.st_mode;
    if (seen != nullptr) *seen = st;
  }
  if (length < static_cast<off_t>(kBlockSize)) {
    Fail(status, TagIoError::kTooShort, 0);
    ::close(fd);
    return -1;
  }
  *size = length;
  return fd;
}

// Reads the last 128 bytes into `block`.
bool ReadLastBlock(int fd, off_t size, char* block, TagIoStatus* status) {
  size_t done = 0;
  while (done < kBlockSize) {
    ssize_t n = ::pread(fd, block + done, kBlockSize - done,
                        size - static_cast<off_t>(kBlockSize) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(status, TagIoError::kRead, errno);
    if (n == 0) return Fail(status, TagIoError::kRead, 0);  // shrank meanwhile
    done += static_cast<size_t>(n);
  }
  return true;
}

bool HasTagHeader(const char* block) { return std::memcmp(block, "TAG", 3) == 0; }

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
  block.reserve(kBlockSize);
  block += "TAG";
  block += FitTagField(Tag.Title, kTitle.width);
  block += FitTagField(Tag.Artist, kArtist.width);
  block += FitTagField(Tag.Album, kAlbum.width);
  block += FitTagField(Tag.Year, kYear.width);
  block += FitTagField(Tag.Comment, kComment.width);
  block += static_cast<char>(static_cast<unsigned char>(Tag.Genre));
  return true;
}

TagWriteFault g_write_fault = nullptr;

// One pwrite of the block. A test's fault hook makes it write 96 bytes at
// most and then fail as a full disk does.
ssize_t WriteSome(int fd, const char* data, size_t length, off_t offset, bool& faulted) {
  if (faulted) {
    errno = ENOSPC;
    return -1;
  }
  if (g_write_fault != nullptr && g_write_fault()) {
    faulted = true;
    return ::pwrite(fd, data, std::min<size_t>(length, 96), offset);
  }
  return ::pwrite(fd, data, length, offset);
}

// Writes `block` over the old tag when the file has one, else after the
// audio data, and closes `fd`. A write that fails or comes up short puts the
// file back as it was: the old tag bytes again, the old size, so that a full
// disk leaves no fragment of a tag behind.
bool WriteBlockAndClose(int fd, off_t size, bool over_old_tag, const std::string& block,
                        const char* old_block, TagIoStatus* status) {
  off_t offset = over_old_tag ? size - static_cast<off_t>(kBlockSize) : size;
  size_t done = 0;
  bool ok = true;
  bool faulted = false;
  while (done < kBlockSize) {
    ssize_t n = WriteSome(fd, block.data() + done, kBlockSize - done,
                          offset + static_cast<off_t>(done), faulted);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = Fail(status, TagIoError::kWrite, n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (!ok) {
    if (over_old_tag && done > 0) {
      [[maybe_unused]] ssize_t back = ::pwrite(fd, old_block, kBlockSize, offset);
    }
    [[maybe_unused]] int cut = ::ftruncate(fd, size);
  }
  if (::close(fd) != 0 && ok) ok = Fail(status, TagIoError::kWrite, errno);
  return ok;
}

}  // namespace

void SetTagWriteFault(TagWriteFault fault) { g_write_fault = fault; }

bool HasTagWriteFault() { return g_write_fault != nullptr; }

std::string DescribeTagIoStatus(const TagIoStatus& status) {
  std::string text;
  switch (status.error) {
    case TagIoError::kNone:
      return "no error";
    case TagIoError::kOpen:
      text = "cannot open the file";
      break;
    case TagIoError::kStat:
      text = "cannot learn the file size";
      break;
    case TagIoError::kTooShort:
      text = "the file is shorter than 128 bytes";
      break;
    case TagIoError::kRead:
      text = "cannot read the tag block";
      break;
    case TagIoError::kNoTag:
      text = "the file has no ID3v1 tag";
      break;
    case TagIoError::kBadGenre:
      text = "the genre number is outside 0..255";
      break;
    case TagIoError::kWrite:
      text = "cannot write the tag block";
      break;
    case TagIoError::kChanged:
      text = "the file's size has changed since the run";
      break;
    case TagIoError::kChangedSinceRead:
      text = "the file has changed since it was read";
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
                     DiskEntry* seen) {
  if (status != nullptr) *status = TagIoStatus{};
  if (seen != nullptr) seen->has_block = false;
  off_t size = 0;
  struct stat st;
  int fd = OpenRegular(dir_fd, path, O_RDONLY, status, &size, nullptr, seen ? &st : nullptr);
  if (fd < 0) return 0;
  char block[kBlockSize];
  bool read = ReadLastBlock(fd, size, block, status);
  ::close(fd);
  if (!read) return 0;
  if (seen != nullptr) {
    seen->is_file = true;
    seen->dev = st.st_dev;
    seen->ino = st.st_ino;
    seen->mode = st.st_mode & 07777;
    seen->size = static_cast<uint64_t>(size);
    seen->has_block = true;
    seen->had_tag = HasTagHeader(block);
    if (seen->had_tag) {
      seen->block.assign(block, kBlockSize);
    } else {
      seen->block.clear();
    }
  }

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

  off_t size = 0;
  int fd = OpenRegular(AT_FDCWD, Utf16ToUtf8(FileName), O_RDWR, status, &size);
  if (fd < 0) return 0;
  char old_block[kBlockSize];
  if (!ReadLastBlock(fd, size, old_block, status)) {
    ::close(fd);
    return 0;
  }
  return WriteBlockAndClose(fd, size, HasTagHeader(old_block), block, old_block, status) ? 1 : 0;
}

int32_t UpdateID3TagTexts(std::u16string_view FileName, std::u16string_view Title,
                          std::u16string_view Artist, std::u16string_view Album, bool make_writable,
                          TagIoStatus* status) {
  return UpdateID3TagTextsAt(AT_FDCWD, Utf16ToUtf8(FileName), Title, Artist, Album, make_writable,
                             status, nullptr);
}

int32_t UpdateID3TagTextsAt(int dir_fd, const std::string& path, std::u16string_view Title,
                            std::u16string_view Artist, std::u16string_view Album,
                            bool make_writable, TagIoStatus* status, const DiskEntry* expected) {
  TagIoStatus own;
  if (status == nullptr) status = &own;
  *status = TagIoStatus{};
  off_t size = 0;
  mode_t file_mode = 0;
  struct stat opened;
  int fd = OpenRegular(dir_fd, path, O_RDWR, status, &size, &file_mode, &opened);
  if (fd < 0 && make_writable && status->error == TagIoError::kOpen &&
      status->sys_errno == EACCES) {
    // Most likely the owner's write permission is off: add it and try again.
    // Only on this path is the file looked up by name a second time.
    struct stat st;
    if (::fstatat(dir_fd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & S_IWUSR) == 0) {
      if (::fchmodat(dir_fd, path.c_str(), (st.st_mode & 07777) | S_IWUSR, 0) != 0) {
        Fail(status, TagIoError::kOpen, errno);
        return 0;
      }
      *status = TagIoStatus{};
      fd = OpenRegular(dir_fd, path, O_RDWR, status, &size, &file_mode, &opened);
    }
  }
  if (fd < 0) return 0;
  char old_block[kBlockSize];
  if (!ReadLastBlock(fd, size, old_block, status)) {
    ::close(fd);
    return 0;
  }
  // The undo record holds what the file was when the run looked at it; a
  // file that has changed since (another program wrote it, or another file
  // took its name) is not written, or the record would give back the wrong
  // bytes.
  if (expected != nullptr && expected->has_block &&
      (expected->dev != static_cast<uint64_t>(opened.st_dev) ||
       expected->ino != static_cast<uint64_t>(opened.st_ino) ||
       expected->size != static_cast<uint64_t>(size) ||
       expected->had_tag != HasTagHeader(old_block) ||
       (expected->had_tag && (expected->block.size() != kBlockSize ||
                              std::memcmp(expected->block.data(), old_block, kBlockSize) != 0)))) {
    Fail(status, TagIoError::kChangedSinceRead, 0);
    ::close(fd);
    return 0;
  }
  // A privileged user can open a file whose owner has no write permission;
  // it still ends up writable, like every file written here.
  if (make_writable && (file_mode & S_IWUSR) == 0 &&
      ::fchmod(fd, (file_mode & 07777) | S_IWUSR) != 0) {
    Fail(status, TagIoError::kOpen, errno);
    ::close(fd);
    return 0;
  }
  // A file without a tag gets a new one with no year, comment or genre of
  // its own rather than bytes of its audio data or another file's values.
  // A tag keeps the bytes of its year, comment and genre exactly, so an
  // ID3v1.1 track number at the end of the comment survives too.
  const bool has_tag = HasTagHeader(old_block);
  ID3TagData tag;
  tag.Genre = kNoGenre;
  tag.Title.assign(Title);
  tag.Artist.assign(Artist);
  tag.Album.assign(Album);
  std::string block;
  if (!BuildBlock(tag, block, status)) {
    ::close(fd);
    return 0;
  }
  if (has_tag) {
    block.replace(kYear.offset, kBlockSize - kYear.offset, old_block + kYear.offset,
                  kBlockSize - kYear.offset);
    // A field whose text does not change keeps its bytes: its padding (NULs
    // or spaces), its leading spaces, and characters outside code page 932
    // that another program wrote in its own code page.
    for (auto [place, text] :
         {std::pair{kTitle, Title}, std::pair{kArtist, Artist}, std::pair{kAlbum, Album}}) {
      std::u16string now;
      DecodeField(old_block, place, now);
      if (now == text) {
        block.replace(place.offset, place.width, old_block + place.offset, place.width);
      }
    }
  }
  return WriteBlockAndClose(fd, size, has_tag, block, old_block, status) ? 1 : 0;
}

int32_t RestoreID3Block(std::u16string_view FileName, uint64_t size, bool had_tag,
                        std::string_view block, uint32_t mode, TagIoStatus* status) {
  TagIoStatus own;
  if (status == nullptr) status = &own;
  *status = TagIoStatus{};
  if (had_tag && (block.size() != kBlockSize || size < kBlockSize)) {
    Fail(status, TagIoError::kRead, EINVAL);  // no tag block to put back
    return 0;
  }
  const std::string path = Utf16ToUtf8(FileName);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    Fail(status, TagIoError::kOpen, errno);
    return 0;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(status, TagIoError::kOpen, S_ISLNK(st.st_mode) ? ELOOP : EINVAL);
    return 0;
  }
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  int fd = ::open(path.c_str(), kFlags);
  if (fd < 0 && errno == EACCES && (st.st_mode & S_IWUSR) == 0 &&
      ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0) {
    fd = ::open(path.c_str(), kFlags);
  }
  if (fd < 0) {
    Fail(status, TagIoError::kOpen, errno);
    return 0;
  }
  bool ok = true;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ok = Fail(status, TagIoError::kStat, errno);
  }
  const uint64_t now = ok ? static_cast<uint64_t>(st.st_size) : 0;
  char last[kBlockSize];
  if (ok && had_tag) {
    if (now != size) {
      ok = Fail(status, TagIoError::kChanged, 0);
    } else if (!ReadLastBlock(fd, static_cast<off_t>(now), last, status)) {
      ok = false;
    } else if (std::memcmp(last, block.data(), kBlockSize) != 0) {
      const off_t at = static_cast<off_t>(now - kBlockSize);
      size_t done = 0;
      while (ok && done < kBlockSize) {
        ssize_t n =
            ::pwrite(fd, block.data() + done, kBlockSize - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          ok = Fail(status, TagIoError::kWrite, n < 0 ? errno : ENOSPC);
          [[maybe_unused]] ssize_t back = ::pwrite(fd, last, kBlockSize, at);
        }
        if (n > 0) done += static_cast<size_t>(n);
      }
    }
  } else if (ok && now != size) {
    // The run appended a tag: cut it off again, and nothing else.
    if (now != size + kBlockSize) {
      ok = Fail(status, TagIoError::kChanged, 0);
    } else if (!ReadLastBlock(fd, static_cast<off_t>(now), last, status)) {
      ok = false;
    } else if (!HasTagHeader(last)) {
      ok = Fail(status, TagIoError::kChanged, 0);
    } else if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      ok = Fail(status, TagIoError::kWrite, errno);
    }
  }
  // The mode comes back last, also when the block could not: a file made
  // writable for the write is read-only again.
  if ((st.st_mode & 07777) != mode || !ok) {
    if (::fchmod(fd, mode & 07777) != 0 && ok) ok = Fail(status, TagIoError::kWrite, errno);
  }
  if (::close(fd) != 0 && ok) ok = Fail(status, TagIoError::kWrite, errno);
  return ok ? 1 : 0;
}

}  // namespace tarvel
