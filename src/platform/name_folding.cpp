#include "platform/name_folding.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <optional>
#include <unordered_set>
#include <vector>

#include "platform/text.h"

namespace tarvel {
namespace {

// Full-width forms of the printable ASCII characters: U+FF01 to U+FF5E.
constexpr char32_t kFullWidthFirst = 0xFF01;
constexpr char32_t kFullWidthLast = 0xFF5E;
constexpr char32_t kFullWidthOffset = 0xFEE0;

#ifndef EXFAT_SUPER_MAGIC
constexpr long kExfatMagic = 0x2011BAB0;
#else
constexpr long kExfatMagic = EXFAT_SUPER_MAGIC;
#endif
#ifndef FS_CASEFOLD_FL
constexpr long kCasefoldFlag = 0x40000000;
#else
constexpr long kCasefoldFlag = FS_CASEFOLD_FL;
#endif

// The names listed in the open folder `dir_fd`, or nothing when it cannot
// be listed.
std::optional<std::vector<std::string>> ListNames(DiskOps& disk, int dir_fd) {
  UniqueFd fd = disk.OpenAt(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!fd) return std::nullopt;
  DIR* dir = ::fdopendir(fd.get());
  if (dir == nullptr) return std::nullopt;
  fd.release();  // the stream owns it now
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiAlnum(char c) { return IsAsciiLetter(c) || (c >= '0' && c <= '9'); }

// `name` with its first ASCII letter in the other case ("" when it has none).
std::string OtherCase(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsAsciiLetter(name[i])) {
      std::string variant = name;
      variant[i] = static_cast<char>(variant[i] ^ 0x20);
      return variant;
    }
  }
  return {};
}

// `name` with its first ASCII letter or digit in full width ("" when none).
std::string OtherWidth(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsAsciiAlnum(name[i])) {
      const std::u16string wide(1, static_cast<char16_t>(name[i] + kFullWidthOffset));
      return name.substr(0, i) + Utf16ToUtf8(wide) + name.substr(i + 1);
    }
  }
  return {};
}

// Whether the folder finds an entry under some variant (made by `vary`) of
// one of its names that it does not list; nothing when no name of it has
// such a variant.
template <typename Vary>
std::optional<bool> FindsUnlistedVariant(DiskOps& disk, int dir_fd,
                                         const std::vector<std::string>& names, Vary vary) {
  const std::unordered_set<std::string> listed(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string variant = vary(name);
    if (variant.empty() || listed.count(variant)) continue;
    struct stat st {};
    return disk.FStatAt(dir_fd, variant.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  }
  return std::nullopt;
}

// Letter case judged by the file system alone, for a folder without a name
// to look up: FAT and exFAT fold, and so does an ext4 folder with the
// casefold flag.
bool FileSystemFoldsCase(DiskOps& disk, int dir_fd) {
  struct statfs fs {};
  UniqueFd fd = disk.OpenAt(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!fd || ::fstatfs(fd.get(), &fs) != 0) return false;
  if (fs.f_type == MSDOS_SUPER_MAGIC || fs.f_type == kExfatMagic) return true;
  long flags = 0;
  return ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & kCasefoldFlag) != 0;
}

}  // namespace

std::u16string FoldedName(std::u16string_view name, NameFolding folding) {
  if (!folding.folds()) return std::u16string(name);
  std::u16string key;
  key.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    UChar32 c = 0;
    U16_NEXT(name.data(), i, name.size(), c);
    if (folding.width && c >= static_cast<UChar32>(kFullWidthFirst) &&
        c <= static_cast<UChar32>(kFullWidthLast)) {
      c -= static_cast<UChar32>(kFullWidthOffset);
    }
    if (folding.letter_case) c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    char16_t units[2];
    size_t n = 0;
    U16_APPEND_UNSAFE(units, n, c);
    key.append(units, n);
  }
  return key;
}

std::string FoldedName(std::string_view name, NameFolding folding) {
  if (!folding.folds()) return std::string(name);
  const std::optional<std::u16string> text = Utf8ToUtf16(name);
  if (!text) return std::string(name);
  return Utf16ToUtf8(FoldedName(*text, folding));
}

NameFolding DetectNameFolding(DiskOps& disk, int dir_fd) {
  NameFolding folding;
  const std::optional<std::vector<std::string>> names = ListNames(disk, dir_fd);
  if (!names) return folding;
  const std::optional<bool> by_case = FindsUnlistedVariant(disk, dir_fd, *names, OtherCase);
  folding.letter_case = by_case ? *by_case : FileSystemFoldsCase(disk, dir_fd);
  folding.width = FindsUnlistedVariant(disk, dir_fd, *names, OtherWidth).value_or(false);
  return folding;
}

bool ListsNameAs(DiskOps& disk, int dir_fd, std::string_view name, NameFolding folding) {
  const std::optional<std::vector<std::string>> names = ListNames(disk, dir_fd);
  if (!names) return true;
  const std::string key = FoldedName(name, folding);
  for (const std::string& listed : *names) {
    if (listed == name || FoldedName(listed, folding) == key) return true;
  }
  return false;
}

}  // namespace tarvel
