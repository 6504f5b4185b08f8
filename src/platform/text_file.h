// Whole-file text reading and writing for the settings file, the tables and
// list.csv. Reading takes UTF-8 (with or without a byte-order mark) and code
// page 932; writing uses code page 932 when the text survives it, else UTF-8
// with a byte-order mark, so that no character is ever lost.
#ifndef TARVEL_PLATFORM_TEXT_FILE_H_
#define TARVEL_PLATFORM_TEXT_FILE_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace tarvel {

// Files larger than this are refused rather than read into memory, unless
// the caller names another limit.
inline constexpr std::size_t kMaxTextFileBytes = std::size_t{256} * 1024 * 1024;

struct TextReadResult {
  enum class Code { kOk, kNotFound, kNotAFile, kReadError, kTooLarge };
  Code code = Code::kOk;
  std::u16string text;
  std::string message;  // what went wrong, naming the file (UTF-8)
  bool ok() const { return code == Code::kOk; }
};

struct TextWriteResult {
  bool ok = true;
  std::string message;
};

// Decodes a file's bytes: a UTF-8 byte-order mark or valid UTF-8 is read as
// UTF-8 (the mark dropped), anything else as code page 932.
std::u16string DecodeTextBytes(std::string_view bytes);
// Encodes text for a file: code page 932 when DecodeTextBytes gives the same
// text back from it, otherwise UTF-8 behind a byte-order mark.
std::string EncodeTextBytes(std::u16string_view text);

// Reads a whole text file. Symbolic links are followed here (a user may link
// a table), but a folder or device is refused.
TextReadResult ReadTextFile(const std::filesystem::path& path);
// Reads a whole file's bytes into `bytes` with the same checks and results as
// ReadTextFile (whose `text` then stays empty), for callers that must keep
// the bytes of lines they do not change; a file larger than `max_bytes` is
// refused.
TextReadResult ReadFileBytes(const std::filesystem::path& path, std::string& bytes,
                             std::size_t max_bytes = kMaxTextFileBytes);

// Reads a file's bytes with the same checks and results as ReadFileBytes,
// handing them to `sink` a piece of at most `piece_bytes` at a time, so that a
// file of any size is read in that much memory: no size is refused. A `sink`
// that returns false stops the reading (the result is then still ok).
TextReadResult ReadFileInPieces(const std::filesystem::path& path,
                                const std::function<bool(std::string_view)>& sink,
                                std::size_t piece_bytes = std::size_t{256} * 1024);

// Writes a file through a temporary file beside it (a hidden name ending in
// six random characters), made with mode 0644 less the umask, in pieces of any
// size gathered in a buffer, so that a file of any size is written in a few
// hundred kilobytes of memory. Commit flushes it to disk and renames it into
// place, replacing a file of that name, and flushes the folder; until then the
// file at `path` is as it was. A writer not committed removes its temporary
// file when destroyed. After the first failure every call fails with the same
// message, naming `path`.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::filesystem::path path,
                            std::size_t buffer_bytes = std::size_t{256} * 1024);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  bool ok() const { return message_.empty(); }
  // What went wrong (UTF-8), empty while nothing has.
  const std::string& message() const { return message_; }
  const std::filesystem::path& path() const { return path_; }
  // The temporary file's path (empty when it could not be made or is gone).
  const std::string& temp_path() const { return temp_; }

  bool Append(std::string_view bytes);
  // Writes out the buffer, flushes the file to disk and closes it: all that
  // can fail for want of space, before anything is renamed.
  bool Finish();
  // Finish when not done yet, then the rename into place and the flush of
  // the folder.
  TextWriteResult Commit();
  // Removes the temporary file; the file at `path` stays as it was.
  void Abort();

 private:
  bool Fail(std::string_view what, int err);
  bool Flush();

  std::filesystem::path path_;
  std::string temp_;
  std::string buffer_;
  std::size_t buffer_bytes_;
  std::string message_;
  UniqueFd fd_;
  bool committed_ = false;
};

// Writes a whole text file through a temporary file in the same folder that is
// flushed to disk and then renamed into place, so a crash never leaves half a
// file. An existing file of that name is replaced.
TextWriteResult WriteTextFile(const std::filesystem::path& path, std::u16string_view text);
// The same with bytes already encoded.
TextWriteResult WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_TEXT_FILE_H_
