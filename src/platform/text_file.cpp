#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/text.h"

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

TextReadResult ReadFileBytes(const std::filesystem::path& path, std::string& bytes) {
  TextReadResult result;
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    int err = errno;
    result.code =
        err == ENOENT ? TextReadResult::Code::kNotFound : TextReadResult::Code::kReadError;
    result.message = Describe(path, "cannot open", err);
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.code = TextReadResult::Code::kNotAFile;
    result.message = Describe(path, "not a plain file", 0);
    return result;
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxTextFileBytes) {
    ::close(fd);
    result.code = TextReadResult::Code::kTooLarge;
    result.message = Describe(path, "file too large", 0);
    return result;
  }
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (true) {
    if (done == bytes.size()) bytes.resize(bytes.size() + 4096);  // file grew meanwhile
    ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      result.code = TextReadResult::Code::kReadError;
      result.message = Describe(path, "read error", err);
      return result;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
    if (done > kMaxTextFileBytes) {
      ::close(fd);
      result.code = TextReadResult::Code::kTooLarge;
      result.message = Describe(path, "file too large", 0);
      return result;
    }
  }
  ::close(fd);
  bytes.resize(done);
  return result;
}

TextWriteResult WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  TextWriteResult result;
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + path.filename().native() + ".XXXXXX")).native();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    result.ok = false;
    result.message = Describe(path, "cannot create a temporary file beside it", errno);
    return result;
  }
  ::fchmod(
      fd, 0644 & ~[] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
      }());
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    result.ok = false;
    result.message = Describe(path, "cannot write", err);
    return result;
  }
  // Make the rename itself durable.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return result;
}

TextWriteResult WriteTextFile(const std::filesystem::path& path, std::u16string_view text) {
  return WriteFileAtomically(path, EncodeTextBytes(text));
}

}  // namespace tarvel
