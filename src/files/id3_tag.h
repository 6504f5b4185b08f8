// The ID3v1 tag: the fixed 128-byte block at the very end of an MP3 file,
// its texts in code page 932 (Shift_JIS) on disk and UTF-16 in memory.
//
// Layout: "TAG", title 30, artist 30, album 30, year 4, comment 30, genre 1.
// A field ends at its first NUL byte or at its full width; reading trims
// leading and trailing spaces, writing pads with spaces (never NULs). The
// ID3v1.1 track number is not kept.
#ifndef TARVEL_FILES_ID3_TAG_H_
#define TARVEL_FILES_ID3_TAG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/entry_table.h"
#include "platform/disk_ops.h"

struct stat;

namespace tarvel {

// The size of the block, from its first byte "T" to its genre byte.
inline constexpr size_t kTagBlockSize = TagBytes::kSize;

// One ID3v1 tag as texts and a genre number.
struct ID3TagData {
  std::u16string Header;  // "TAG" when the file has a tag
  std::u16string Title;
  std::u16string Artist;
  std::u16string Album;
  std::u16string Year;
  std::u16string Comment;
  int32_t Genre = 0;  // 0..255
};

// Why a tag read or write gave 0, for callers that want to say so.
enum class TagIoError {
  kNone,
  kOpen,              // the file could not be opened (sys_errno says why)
  kStat,              // its size could not be learnt
  kTooShort,          // shorter than 128 bytes: it holds no tag and gets none
  kRead,              // reading the last 128 bytes failed
  kNoTag,             // the last 128 bytes do not start with "TAG" (reader only)
  kBadGenre,          // Genre outside 0..255 (writer only; nothing written)
  kWrite,             // writing the block failed or was short
  kChanged,           // the file's size is not what the run left (restore only)
  kChangedSinceRead,  // not the file, or not the bytes, that the run read before
  kChangedSinceRun,   // its last 128 bytes are neither the old ones nor the run's (restore only)
  kOutsideLibrary,    // its folder is reached through a link or is not in the library
};

struct TagIoStatus {
  TagIoError error = TagIoError::kNone;
  int sys_errno = 0;  // errno of the failed system call, 0 when none
};

// A one-line English description of `status`, for logs.
std::string DescribeTagIoStatus(const TagIoStatus& status);

// Reads the tag of the file at `FileName` (full path). Returns 1 when the
// last 128 bytes start with "TAG", else 0. `Tag` is filled whenever 128
// bytes could be read (for a file without a tag, with whatever the audio
// data decodes to); it is left alone when the file cannot be opened or is too
// short. `status`, when given, tells why the result is 0.
int32_t ReadID3Tag(std::u16string_view FileName, ID3TagData& Tag, TagIoStatus* status = nullptr);

// The same for a path already in the system's UTF-8 form, taken relative to
// the open folder `dir_fd` (AT_FDCWD for the current one); saves the
// conversion and the walk down the path when the caller has them (the
// folder scan). With `seen`, also tells which file it read and how it was
// (has_block set once its last 128 bytes were read), for an exact undo.
// The calls go through `disk`.
int32_t ReadID3TagAt(int dir_fd, const std::string& path, ID3TagData& Tag,
                     TagIoStatus* status = nullptr, DiskEntry* seen = nullptr,
                     DiskOps& disk = SystemDiskOps());

// What an exact undo needs of the open plain file `fd`, for which fstat gave
// `st`: which entry it is, its mode and size, and (has_block) whether its
// last 128 bytes are a tag, with those bytes; a file shorter than a tag has
// none. The bytes read are also copied to `last` (128 bytes) when given.
// False, with `status` saying why, when they cannot be read.
bool CaptureDiskEntry(DiskOps& disk, int fd, const struct stat& st, DiskEntry& entry, char* last,
                      TagIoStatus* status);

// The same for the plain file `path` in the open folder `dir_fd`, opened
// without following a link. A file its owner may not read (mode 000) is made
// readable for the open and gets its mode back at once; the entry holds the
// mode it had. False when it cannot be opened or read, or is not a plain
// file.
bool CaptureFileAt(DiskOps& disk, int dir_fd, const std::string& path, DiskEntry& entry);

// Whether the file `now` (as CaptureDiskEntry saw it) has the size and last
// bytes that the record entry `recorded` gives it: as the run found it, or,
// for a file whose tag the run writes, as the run left it (the block whose
// hash the record holds; any tag where the record has no hash). Inode
// numbers play no part.
bool HasRunBytes(const DiskEntry& recorded, const DiskEntry& now);

// The hash (LastBytesHash) of the block that UpdateID3TagTexts writes into a
// file whose last bytes `entry` describes (its tag, or none), known before
// it writes.
uint64_t UpdatedBlockHash(const DiskEntry& entry, std::u16string_view Title,
                          std::u16string_view Artist, std::u16string_view Album);

// The 128 bytes UpdateID3TagTexts writes for the texts `Title`, `Artist`
// and `Album` into a file whose last 128 bytes are `last` (a tag, or audio
// bytes when the file has none): for a copy that is to end as the file
// would after the write.
std::string UpdatedTagBlock(const char* last, std::u16string_view Title, std::u16string_view Artist,
                            std::u16string_view Album);

// Writes `Tag` as the file's ID3v1 block: over the old block when the file
// ends in one, else appended. The header written is always "TAG". Text
// fields are fitted to their widths in code page 932; a double-byte
// character that would be cut in half is dropped whole and its place padded
// with a space. Returns 1 when all 128 bytes were written, else 0; a file
// shorter than 128 bytes, one that cannot be opened for writing, and a
// `Genre` outside 0..255 are left unchanged. The file is never created or
// truncated.
int32_t WriteID3Tag(std::u16string_view FileName, const ID3TagData& Tag,
                    TagIoStatus* status = nullptr);

// The genre number that stands for "no genre".
inline constexpr int32_t kNoGenre = 255;

// Sets the title, artist and album of the file's tag (never through a link;
// a failed or short write leaves the file as it was) and keeps the bytes of
// its year, comment and genre as they are (an ID3v1.1 track number
// included), and a field whose text equals the new one keeps its bytes
// exactly; a file without a tag gets one appended, with an empty year and
// comment and genre kNoGenre. The file is opened once and the block
// read and written once. With `make_writable`, a file whose owner has no
// write permission gets it (u+w) before the write and keeps it. Returns 1
// when all 128 bytes were written, else 0 (as WriteID3Tag; `status` says
// why).
int32_t UpdateID3TagTexts(std::u16string_view FileName, std::u16string_view Title,
                          std::u16string_view Artist, std::u16string_view Album, bool make_writable,
                          TagIoStatus* status = nullptr);

// The same for `path` in UTF-8, relative to the open folder `dir_fd`
// (AT_FDCWD for the current one). With `expected` (an entry with has_block),
// the file must still be the entry it describes, with its size and last 128
// bytes; otherwise nothing is written and the status is kChangedSinceRead.
int32_t UpdateID3TagTextsAt(int dir_fd, const std::string& path, std::u16string_view Title,
                            std::u16string_view Artist, std::u16string_view Album,
                            bool make_writable, TagIoStatus* status = nullptr,
                            const DiskEntry* expected = nullptr, DiskOps& disk = SystemDiskOps());

// Puts back the tag state a file had before a run: with `had_tag`, the
// original 128 bytes `block` over the file's last 128 bytes (only when the
// file still has the size `size` and ends in a tag); without, an appended tag
// is cut off (only when the file is exactly 128 bytes longer than `size` and
// ends in a tag). Then the permission bits become `mode`. The file is opened
// without following a link; a read-only file is made writable for the
// write and gets `mode` back after it. Returns 1 when the file is as it was
// (also when nothing had to change), else 0 with `status` saying why; a file
// whose size no longer fits is left as it is (kChanged).
int32_t RestoreID3Block(std::u16string_view FileName, uint64_t size, bool had_tag,
                        std::string_view block, uint32_t mode, TagIoStatus* status = nullptr);

// Puts back what the record entry `entry` holds of the file `path` in the
// open folder `dir_fd`: its tag state as RestoreID3Block does (when
// has_block; with has_after, only over the very block the run wrote, else
// kChangedSinceRun), its mode, and then its modification time (has_mtime),
// which writing the bytes changed. Through `disk`.
int32_t RestoreFileAt(int dir_fd, const std::string& path, const DiskEntry& entry,
                      TagIoStatus* status = nullptr, DiskOps& disk = SystemDiskOps());

// The same for `path` in the open folder `dir_fd`, through `disk`.
int32_t RestoreID3BlockAt(int dir_fd, const std::string& path, uint64_t size, bool had_tag,
                          std::string_view block, uint32_t mode, TagIoStatus* status = nullptr,
                          DiskOps& disk = SystemDiskOps());

// The part of `Text` before its first NUL character; all of it when it holds
// none.
std::u16string CutAtNull(std::u16string_view Text);

// The code page 932 form of `text` fitted to exactly `width` bytes: padded on
// the right with spaces, or cut at a character boundary at or before `width`
// bytes and then padded.
std::string FitTagField(std::u16string_view text, size_t width);

}  // namespace tarvel

#endif  // TARVEL_FILES_ID3_TAG_H_
