#include "platform/ini_file.h"

#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unistd.h>

#include <limits>
#include <system_error>

#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/translatable.h"

namespace tarvel {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsIniSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsIniSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsIniSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsQuote(char16_t c) { return c == u'"' || c == u'\''; }

bool IsEnclosedInQuotes(std::u16string_view s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back();
}

bool HasLineBreakOrNul(std::u16string_view s) {
  return s.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos;
}

// What a line is, found from its decoded text.
struct LineKind {
  enum Kind { kOther, kSection, kValue } kind = kOther;
  std::u16string_view name;   // section or key name, trimmed
  std::u16string_view value;  // trimmed value, quotes kept
  size_t value_start = 0;     // offset of the value's first character in the line
};

LineKind Classify(std::u16string_view line) {
  LineKind k;
  std::u16string_view t = Trim(line);
  if (t.empty() || t.front() == u';') return k;
  if (t.front() == u'[') {
    size_t close = t.find(u']');
    if (close == std::u16string_view::npos) return k;
    k.kind = LineKind::kSection;
    k.name = Trim(t.substr(1, close - 1));
    return k;
  }
  size_t eq = line.find(u'=');
  if (eq == std::u16string_view::npos) return k;
  std::u16string_view name = Trim(line.substr(0, eq));
  if (name.empty()) return k;
  k.kind = LineKind::kValue;
  k.name = name;
  size_t start = eq + 1;
  while (start < line.size() && IsIniSpace(line[start])) ++start;
  k.value_start = start;
  k.value = Trim(line.substr(start));
  return k;
}

std::u16string Unquote(std::u16string_view value) {
  if (IsEnclosedInQuotes(value)) value = value.substr(1, value.size() - 2);
  return std::u16string(value);
}

// The text to put after '=' so that reading gives `value` back.
std::u16string QuoteIfNeeded(std::u16string_view value) {
  bool needs = !value.empty() &&
               (IsIniSpace(value.front()) || IsIniSpace(value.back()) || IsEnclosedInQuotes(value));
  if (!needs) return std::u16string(value);
  std::u16string out = u"\"";
  out += value;
  out += u'"';
  return out;
}

// Cuts the text so that it takes at most `max_bytes` code page 932 bytes. A
// character outside the BMP counts as its two code units and is never split.
std::u16string CutToCp932Bytes(std::u16string_view text, size_t max_bytes) {
  if (text.size() * 2 <= max_bytes) return std::u16string(text);
  size_t bytes = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t units =
        (U16_IS_LEAD(text[i]) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) ? 2 : 1;
    size_t need = units == 2 ? 2 : (IsTwoByteChar(text[i]) ? 2 : 1);
    if (bytes + need > max_bytes) break;
    bytes += need;
    i += units;
  }
  return std::u16string(text.substr(0, i));
}

std::u16string DecodeLine(std::string_view bytes, bool utf8) {
  if (IsAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
  if (utf8) return Utf8ToUtf16Lossy(bytes);
  return DecodeCp932(bytes);
}

bool ValidName(std::u16string_view name, bool is_key) {
  if (HasLineBreakOrNul(name) || Trim(name).size() != name.size()) return false;
  if (!is_key) return name.find(u']') == std::u16string_view::npos;
  if (name.empty() || name.find(u'=') != std::u16string_view::npos) return false;
  return name.front() != u';' && name.front() != u'[';
}

}  // namespace

std::u16string FoldIniName(std::u16string_view name) {
  std::u16string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    UChar32 c;
    U16_NEXT(name.data(), i, name.size(), c);
    c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    if (U_IS_BMP(c)) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(U16_LEAD(c));
      out.push_back(U16_TRAIL(c));
    }
  }
  return out;
}

int32_t ParseLeadingInt(std::u16string_view value) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == u'-' || value[i] == u'+')) {
    negative = value[i] == u'-';
    ++i;
  }
  // Accumulate towards the limit on the sign's side so INT32_MIN is reachable.
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  int64_t n = 0;
  for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
    n = n * 10 + (value[i] - u'0');
    if (n > kMax + 1) n = kMax + 1;  // sticks; keeps the sum small
  }
  if (negative) return static_cast<int32_t>(-n < kMin ? kMin : -n);
  return static_cast<int32_t>(n > kMax ? kMax : n);
}

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}

IniFile IniFile::Load(const std::filesystem::path& path) {
  IniFile ini(path);
  std::string bytes;
  TextReadResult r = ReadFileBytes(path, bytes);
  if (r.code == TextReadResult::Code::kNotFound) return ini;
  if (!r.ok()) {
    ini.load_ok_ = false;
    ini.error_ = r.message;
    return ini;
  }
  ini.Parse(bytes);
  return ini;
}

void IniFile::Parse(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) {
    encoding_ = Encoding::kUtf8Bom;
    bytes.remove_prefix(kUtf8Bom.size());
  } else if (IsAscii(bytes)) {
    encoding_ = Encoding::kAscii;
  } else {
    encoding_ = IsValidUtf8(bytes) ? Encoding::kUtf8 : Encoding::kCp932;
  }
  bool utf8 = encoding_ == Encoding::kUtf8 || encoding_ == Encoding::kUtf8Bom;

  size_t first_lf = bytes.find('\n');
  if (first_lf != std::string_view::npos) {
    eol_ = first_lf > 0 && bytes[first_lf - 1] == '\r' ? "\r\n" : "\n";
  }

  int32_t current = -1;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t lf = bytes.find('\n', pos);
    Line line;
    std::string_view content;
    if (lf == std::string_view::npos) {
      content = bytes.substr(pos);
      pos = bytes.size();
    } else {
      content = bytes.substr(pos, lf - pos);
      pos = lf + 1;
      if (!content.empty() && content.back() == '\r') {
        content.remove_suffix(1);
        line.eol = "\r\n";
      } else {
        line.eol = "\n";
      }
    }
    line.bytes = std::string(content);
    line.text = DecodeLine(content, utf8);
    lines_.push_back(std::move(line));
    IndexLine(lines_.size() - 1, &current);
  }
}

void IniFile::IndexLine(size_t index, int32_t* current_section) {
  LineKind k = Classify(lines_[index].text);
  if (k.kind == LineKind::kSection) {
    Section s;
    s.folded_name = FoldIniName(k.name);
    s.header = index;
    s.last_line = index;
    section_index_.try_emplace(s.folded_name, sections_.size());
    *current_section = static_cast<int32_t>(sections_.size());
    sections_.push_back(std::move(s));
  } else if (k.kind == LineKind::kValue && *current_section >= 0) {
    Section& s = sections_[static_cast<size_t>(*current_section)];
    s.keys.try_emplace(FoldIniName(k.name), index);
    s.last_line = index;
  }
}

const IniFile::Line* IniFile::FindValueLine(std::u16string_view section,
                                            std::u16string_view key) const {
  auto sit = section_index_.find(FoldIniName(section));
  if (sit == section_index_.end()) return nullptr;
  const Section& s = sections_[sit->second];
  auto kit = s.keys.find(FoldIniName(key));
  if (kit == s.keys.end()) return nullptr;
  return &lines_[kit->second];
}

std::optional<std::u16string> IniFile::Get(std::u16string_view section,
                                           std::u16string_view key) const {
  const Line* line = FindValueLine(section, key);
  if (line == nullptr) return std::nullopt;
  return Unquote(Classify(line->text).value);
}

std::u16string IniFile::ReadString(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view default_value) const {
  std::optional<std::u16string> v = Get(section, key);
  if (!v) return std::u16string(default_value);
  return CutToCp932Bytes(*v, kIniValueBufferBytes - 1);
}

int32_t IniFile::ReadInt(std::u16string_view section, std::u16string_view key,
                         int32_t default_value) const {
  std::optional<std::u16string> v = Get(section, key);
  if (!v || v->empty()) return default_value;
  return ParseLeadingInt(*v);
}

void IniFile::InsertLine(size_t at, std::u16string text) {
  // The line before gets a line end if it was the file's unended last line.
  if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = eol_;
  Line line;
  line.text = std::move(text);
  line.eol = eol_;
  line.changed = true;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  for (Section& s : sections_) {
    if (s.header >= at) ++s.header;
    if (s.last_line >= at) ++s.last_line;
    for (auto& [name, index] : s.keys) {
      if (index >= at) ++index;
    }
  }
}

bool IniFile::Set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  if (!ValidName(section, false) || !ValidName(key, true) || HasLineBreakOrNul(value)) {
    error_ = "cannot store the value of \"" + Utf16ToUtf8(key) + "\" in section \"" +
             Utf16ToUtf8(section) +
             "\": a name or the value holds a line break or a character "
             "INI text cannot carry";
    return false;
  }
  std::u16string stored = QuoteIfNeeded(value);
  std::u16string folded_section = FoldIniName(section);
  std::u16string folded_key = FoldIniName(key);

  auto sit = section_index_.find(folded_section);
  if (sit == section_index_.end()) {
    std::u16string header = u"[";
    header += section;
    header += u']';
    size_t at = lines_.size();
    InsertLine(at, std::move(header));
    Section s;
    s.folded_name = folded_section;
    s.header = at;
    s.last_line = at;
    section_index_.emplace(folded_section, sections_.size());
    sections_.push_back(std::move(s));
    sit = section_index_.find(folded_section);
  }
  size_t si = sit->second;

  auto kit = sections_[si].keys.find(folded_key);
  if (kit != sections_[si].keys.end()) {
    Line& line = lines_[kit->second];
    LineKind k = Classify(line.text);
    std::u16string text = line.text.substr(0, k.value_start);
    text += stored;
    if (text != line.text) {
      line.text = std::move(text);
      line.changed = true;
      dirty_ = true;
    }
    return true;
  }

  std::u16string text(key);
  text += u'=';
  text += stored;
  size_t at = sections_[si].last_line + 1;
  InsertLine(at, std::move(text));
  sections_[si].keys.emplace(folded_key, at);
  sections_[si].last_line = at;
  dirty_ = true;
  return true;
}

IniFile::Encoding IniFile::EncodingForSave() const {
  if (encoding_ != Encoding::kAscii && encoding_ != Encoding::kCp932) return encoding_;
  bool all_ascii = true;
  for (const Line& line : lines_) {
    if (!line.changed) continue;
    if (!IsAscii(line.text)) all_ascii = false;
    if (!all_ascii && !SurvivesCp932(line.text)) return Encoding::kUtf8Bom;
  }
  return all_ascii ? encoding_ : Encoding::kCp932;
}

std::string IniFile::Encode(Encoding out, std::vector<std::string>& line_bytes) const {
  // A file that changes encoding has every line re-encoded; an ASCII file
  // reads the same in any of them.
  const bool reencode_all = out != encoding_ && encoding_ != Encoding::kAscii;
  const bool utf8 = out == Encoding::kUtf8 || out == Encoding::kUtf8Bom;
  std::string bytes;
  if (out == Encoding::kUtf8Bom) bytes = kUtf8Bom;
  line_bytes.assign(lines_.size(), std::string());
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.changed || reencode_all) {
      line_bytes[i] = utf8 ? Utf16ToUtf8(line.text) : EncodeCp932(line.text);
    } else {
      line_bytes[i] = line.bytes;
    }
    bytes += line_bytes[i];
    bytes += line.eol;
  }
  return bytes;
}

bool IniFile::Save() {
  if (!load_ok_) {
    // error_ still says why the file could not be read; overwriting it would
    // lose whatever it holds.
    if (error_.empty()) error_ = N_("the settings file could not be read, so it is not replaced");
    return false;
  }
  if (!dirty_) return true;

  std::filesystem::path target = path_;
  std::error_code ec;
  if (std::filesystem::is_symlink(target, ec)) {
    // Write through a link (dotfile managers use them) instead of replacing it.
    std::filesystem::path resolved = std::filesystem::canonical(target, ec);
    if (!ec) target = resolved;
  }
  struct stat st {};
  const bool existed = ::stat(target.c_str(), &st) == 0;
  if (existed && ::access(target.c_str(), W_OK) != 0) {
    error_ = EscapeBytes(target.native()) + ": the file is read-only";
    return false;
  }

  const Encoding out = EncodingForSave();
  std::vector<std::string> line_bytes;
  TextWriteResult w = WriteFileAtomically(target, Encode(out, line_bytes));
  if (!w.ok) {
    error_ = w.message;
    return false;
  }
  if (existed) ::chmod(target.c_str(), st.st_mode & 07777);
  for (size_t i = 0; i < lines_.size(); ++i) {
    lines_[i].bytes = std::move(line_bytes[i]);
    lines_[i].changed = false;
  }
  encoding_ = out;
  dirty_ = false;
  error_.clear();
  return true;
}

}  // namespace tarvel
