// The settings file: INI text read and written the way Windows' private
// profile functions do it, so a file made by hand or on Windows works as is.
//
// Reading rules:
// - "[name]" starts a section; "key=value" is a value. Section and key names
//   match under Unicode simple case folding (Option = OPTION = option), not
//   under width or kana differences. Space, tab, CR, VT and FF around names
//   and values are dropped; a value enclosed in a pair of " or ' loses them.
// - Lines starting with ';', blank lines, lines without '=' and keys before
//   the first section are not values; they are kept exactly as they stand.
// - When a section or a key appears twice, the first one counts, for reading
//   and for writing.
//
// Writing rules:
// - A key's value is replaced in its own line; a new key goes after the last
//   value of its section, a new section at the end of the file. Every other
//   line keeps its bytes and its line end. New lines take the file's line end
//   (CR LF for a new file or a file without any).
// - A value that would not read back as written (space at either end, or
//   enclosed in quotes) is written inside double quotes.
// - Encoding: a file in UTF-8 (a byte-order mark, or non-ASCII text that is
//   valid UTF-8) stays UTF-8. Otherwise the file is code page 932 as long as
//   every new line survives it, else it becomes UTF-8 with a byte-order mark
//   (its lines re-encoded; bytes that never decoded are lost only then).
// - The file is replaced atomically. A read-only file, or a file that exists
//   but could not be read, is never overwritten: the write reports failure.
#ifndef TARVEL_PLATFORM_INI_FILE_H_
#define TARVEL_PLATFORM_INI_FILE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvel {

// Size of the fixed buffer Windows reads a value into: at most this many
// code page 932 bytes minus one come back (see IniFile::ReadString).
inline constexpr std::size_t kIniValueBufferBytes = 255;

// One INI file in memory: parse once, read many values, change several and
// save once.
class IniFile {
 public:
  // An empty file that Save() would create at `path`.
  explicit IniFile(std::filesystem::path path);

  // Reads the file. A missing file gives an empty one and counts as success;
  // any other failure (a folder, unreadable, too large) gives an empty one
  // whose load_ok() is false and error() says why, and whose Save() refuses.
  static IniFile Load(const std::filesystem::path& path);

  const std::filesystem::path& path() const { return path_; }
  // Why the last Load or Save failed (UTF-8), empty after success.
  const std::string& error() const { return error_; }
  bool load_ok() const { return load_ok_; }

  // The whole value of a key, or nothing when the section or key is absent.
  std::optional<std::u16string> Get(std::u16string_view section, std::u16string_view key) const;
  // The value cut to kIniValueBufferBytes - 1 code page 932 bytes (never
  // through a two-byte character), or `default_value` when absent.
  std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view default_value) const;
  // The leading decimal integer of the value (optional sign, then ASCII
  // digits; beyond the 32-bit range it sticks at the nearest limit). A value
  // that does not start with a number gives 0; an absent or empty value gives
  // `default_value`.
  int32_t ReadInt(std::u16string_view section, std::u16string_view key,
                  int32_t default_value) const;

  // Sets a value in memory. Refused (false, error() set) when the section or
  // key name could not be read back as given (space at either end, ']' in a
  // section name, an empty key, '=' in a key, a key starting with ';' or '[')
  // or when a text holds a line break or NUL.
  bool Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

  // Writes the file when something changed. False (error() set) when it could
  // not be written; the file on disk is then as it was.
  bool Save();

  // True when Set changed something that Save has not yet written.
  bool dirty() const { return dirty_; }

 private:
  struct Line {
    std::string bytes;     // as on disk, without the line end
    std::u16string text;   // decoded
    std::string eol;       // "\r\n", "\n", or "" for a last line without one
    bool changed = false;  // text must be encoded on save
  };
  struct Section {
    std::u16string folded_name;
    size_t header = 0;                                // line index of "[name]"
    size_t last_line = 0;                             // last value line, or the header when none
    std::unordered_map<std::u16string, size_t> keys;  // folded key → first line
  };
  enum class Encoding { kAscii, kCp932, kUtf8, kUtf8Bom };

  void Parse(std::string_view bytes);
  void IndexLine(size_t index, int32_t* current_section);
  void InsertLine(size_t at, std::u16string text);
  const Line* FindValueLine(std::u16string_view section, std::u16string_view key) const;
  // The encoding Save writes in, given the lines that changed.
  Encoding EncodingForSave() const;
  // The file's bytes in `out`; `line_bytes` receives each line's bytes.
  std::string Encode(Encoding out, std::vector<std::string>& line_bytes) const;

  std::filesystem::path path_;
  std::string error_;
  bool load_ok_ = true;
  bool dirty_ = false;
  Encoding encoding_ = Encoding::kAscii;
  std::string eol_ = "\r\n";
  std::vector<Line> lines_;
  std::vector<Section> sections_;
  std::unordered_map<std::u16string, size_t> section_index_;  // folded name → first
};

// The leading-integer rule of ReadInt on a text already read.
int32_t ParseLeadingInt(std::u16string_view value);
// Case folding used for section and key names.
std::u16string FoldIniName(std::u16string_view name);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_INI_FILE_H_
