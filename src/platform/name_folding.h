// How a folder compares names. Most Linux file systems keep every spelling
// apart; FAT, exFAT and an ext4 folder with the casefold flag hold names that
// differ only in letter case as one name (song.mp3 finds SONG.mp3), and some
// file systems fold full-width letters and digits onto their ASCII forms as
// well. The answer is found by looking names up, not by the file system's
// type: FUSE hides the type, and ext4 decides folder by folder.
#ifndef TARVEL_PLATFORM_NAME_FOLDING_H_
#define TARVEL_PLATFORM_NAME_FOLDING_H_

#include <string>
#include <string_view>

#include "platform/disk_ops.h"

namespace tarvel {

struct NameFolding {
  bool letter_case = false;  // "a" and "A" are one name
  bool width = false;        // "ａ" and "a" are one name
  bool folds() const { return letter_case || width; }
};

// The folding that takes in every folding a folder may have: two names equal
// under it may be one name somewhere, two names that differ under it are two
// names everywhere.
inline constexpr NameFolding kWidestFolding{true, true};

// The key under which `folding` holds `name` (UTF-16): names with the same
// key are one name in such a folder. Without folding, the name itself.
std::u16string FoldedName(std::u16string_view name, NameFolding folding);
// The same for a UTF-8 name; a name that is not UTF-8 is its own key.
std::string FoldedName(std::string_view name, NameFolding folding);

// How the open folder `dir_fd` compares names: a name listed in it is looked
// up again with its letters in the other case (and with a letter or digit in
// full width); finding something that the listing does not hold means that
// the folder folds them. A folder with no such name to look up is judged by
// its file system (FAT, exFAT, ext4's casefold flag). Costs one listing of
// the folder: callers keep the answer per folder.
NameFolding DetectNameFolding(DiskOps& disk, int dir_fd);

// Whether the listing of the open folder `dir_fd` holds an entry that
// `folding` makes one with `name` (UTF-8). True as well when the folder
// cannot be listed, so that a caller that uses this to find a name free
// never takes one that is not.
bool ListsNameAs(DiskOps& disk, int dir_fd, std::string_view name, NameFolding folding);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_NAME_FOLDING_H_
