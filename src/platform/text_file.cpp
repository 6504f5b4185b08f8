#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/text.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string Describe(const std::filesystem::path& path, std::string_view what, int err) {
  // A name that is valid UTF-8 is shown as it is; anything else escaped.
  std::string m = IsValidUtf8(path.native()) ? path.native() : EscapeBytes(path.native());
  m += ": ";
  m += what;
  if (err != 0) {
    m += " (";
    m += std::strerror(err);
    m += ")";
  }
  return m;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::u16string DecodeTextBytes(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
    if (auto text = Utf8ToUtf16(bytes)) return *text;
    // A mark followed by broken UTF-8: keep what can be read, never fail.
    return Utf8ToUtf16Lossy(bytes);
  }
  if (auto text = Utf8ToUtf16(bytes)) return *text;
  return DecodeCp932(bytes);
}

std::string EncodeTextBytes(std::u16string_view text) {
  if (SurvivesCp932(text)) {
    // Code page 932 bytes can also be valid UTF-8 ("ﾃｽ" is C3 BD, "é" in
    // UTF-8), and the reader takes valid UTF-8 as UTF-8: such a text goes
    // out as UTF-8 behind its mark.
    std::string bytes = EncodeCp932(text);
    if (DecodeTextBytes(bytes) == text) return bytes;
  }
  std::string out(kUtf8Bom);
  out += Utf16ToUtf8(text);
  return out;
}

TextReadResult ReadTextFile(const std::filesystem::path& path) {
  std::string bytes;
  TextReadResult result = ReadFileBytes(path, bytes);
  if (result.ok()) result.text = DecodeTextBytes(bytes);
  return result;
}

namespace {

// Opens a file for reading with the checks both readers make: a plain file
// (links followed) of at most `max_bytes`. -1, with `result` set, when it
// cannot be read.
UniqueFd OpenForReading(const std::filesystem::path& path, TextReadResult& result, off_t& size,
                        std::size_t max_bytes) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    int err = errno;
    result.code =
        err == ENOENT ? TextReadResult::Code::kNotFound : TextReadResult::Code::kReadError;
    result.message = Describe(path, N_("cannot open"), err);
    return fd;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    result.code = TextReadResult::Code::kNotAFile;
    result.message = Describe(path, N_("not a plain file"), 0);
    return UniqueFd();
  }
  if (static_cast<std::size_t>(st.st_size) > max_bytes) {
    result.code = TextReadResult::Code::kTooLarge;
    result.message = Describe(path, N_("file too large"), 0);
    return UniqueFd();
  }
  size = st.st_size;
  return fd;
}

// Reads `fd` to its end and closes it; a file that has grown past
// `max_bytes` since it was opened is refused. `room(done)` gives where the
// next bytes go (a pointer and a size) after `done` bytes; `took(done, n)` is
// told of each read of `n` bytes and returns false to stop early.
template <typename Room, typename Took>
void ReadToEnd(UniqueFd fd, const std::filesystem::path& path, TextReadResult& result,
               std::size_t max_bytes, Room room, Took took) {
  size_t done = 0;
  while (true) {
    auto [at, space] = room(done);
    ssize_t n = ::read(fd.get(), at, space);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.code = TextReadResult::Code::kReadError;
      result.message = Describe(path, N_("read error"), errno);
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
    if (done > max_bytes) {
      result.code = TextReadResult::Code::kTooLarge;
      result.message = Describe(path, N_("file too large"), 0);
      break;
    }
    if (!took(done, static_cast<size_t>(n))) break;
  }
}

}  // namespace

TextReadResult ReadFileBytes(const std::filesystem::path& path, std::string& bytes,
                             std::size_t max_bytes) {
  TextReadResult result;
  bytes.clear();
  off_t size = 0;
  UniqueFd fd = OpenForReading(path, result, size, max_bytes);
  if (!fd) return result;
  // One byte more than the file, so that the read that finds its end has
  // room without growing the buffer, which would double it: a restore holds
  // a list and its undo record of hundreds of megabytes each.
  bytes.resize(static_cast<size_t>(size) + 1);
  size_t total = 0;
  ReadToEnd(
      std::move(fd), path, result, max_bytes,
      [&](size_t done) {
        if (done == bytes.size()) bytes.resize(bytes.size() + 4096);  // file grew meanwhile
        return std::pair(bytes.data() + done, bytes.size() - done);
      },
      [&](size_t done, size_t) {
        total = done;
        return true;
      });
  bytes.resize(total);
  return result;
}

TextReadResult ReadFileInPieces(const std::filesystem::path& path,
                                const std::function<bool(std::string_view)>& sink,
                                std::size_t piece_bytes) {
  TextReadResult result;
  off_t size = 0;
  UniqueFd fd = OpenForReading(path, result, size, SIZE_MAX);
  if (!fd) return result;
  std::string piece(std::max<std::size_t>(piece_bytes, 1), '\0');
  ReadToEnd(
      std::move(fd), path, result, SIZE_MAX,
      [&](size_t) { return std::pair(piece.data(), piece.size()); },
      [&](size_t, size_t n) { return sink(std::string_view(piece.data(), n)); });
  return result;
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path path, std::size_t buffer_bytes)
    : path_(std::move(path)), buffer_bytes_(std::max<std::size_t>(buffer_bytes, 1)) {
  std::filesystem::path folder = path_.parent_path();
  if (folder.empty()) folder = ".";
  temp_ = (folder / ("." + path_.filename().native() + ".XXXXXX")).native();
  fd_.reset(::mkstemp(temp_.data()));
  if (!fd_) {
    int err = errno;
    temp_.clear();
    Fail(N_("cannot create a temporary file beside it"), err);
    return;
  }
  ::fchmod(
      fd_.get(), 0644 & ~[] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
      }());
  buffer_.reserve(buffer_bytes_);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (!committed_) Abort();
}

bool AtomicFileWriter::Fail(std::string_view what, int err) {
  if (message_.empty()) message_ = Describe(path_, what, err);
  return false;
}

bool AtomicFileWriter::Flush() {
  if (!WriteAll(fd_.get(), buffer_)) return Fail(N_("cannot write"), errno);
  buffer_.clear();
  return true;
}

bool AtomicFileWriter::Append(std::string_view bytes) {
  if (!ok() || !fd_) return Fail(N_("cannot write"), EBADF);
  if (buffer_.size() + bytes.size() > buffer_bytes_) {
    if (!Flush()) return false;
    // A piece as large as the buffer goes straight to the file.
    if (bytes.size() >= buffer_bytes_) {
      if (!WriteAll(fd_.get(), bytes)) return Fail(N_("cannot write"), errno);
      return true;
    }
  }
  buffer_ += bytes;
  return true;
}

bool AtomicFileWriter::Finish() {
  if (!ok()) return false;
  if (!fd_) return true;  // finished already
  if (!Flush()) return false;
  if (::fsync(fd_.get()) != 0) return Fail(N_("cannot write"), errno);
  if (const int err = fd_.Close(); err != 0) return Fail(N_("cannot write"), err);
  return true;
}

TextWriteResult AtomicFileWriter::Commit() {
  TextWriteResult result;
  if (committed_) return result;
  if (Finish() && ::rename(temp_.c_str(), path_.c_str()) != 0) Fail(N_("cannot write"), errno);
  if (!ok()) {
    Abort();
    result.ok = false;
    result.message = message_;
    return result;
  }
  committed_ = true;
  temp_.clear();
  // Make the rename itself durable.
  std::filesystem::path folder = path_.parent_path();
  if (folder.empty()) folder = ".";
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return result;
}

void AtomicFileWriter::Abort() {
  fd_.reset();
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  buffer_.clear();
  buffer_.shrink_to_fit();
  if (ok() && !committed_) message_ = Describe(path_, "not written (abandoned)", 0);
}

TextWriteResult WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  // The bytes are already in memory: no buffer is needed on top of them.
  AtomicFileWriter writer(path, 1);
  writer.Append(bytes);
  return writer.Commit();
}

TextWriteResult WriteTextFile(const std::filesystem::path& path, std::u16string_view text) {
  return WriteFileAtomically(path, EncodeTextBytes(text));
}

}  // namespace tarvel
