#include "platform/directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using ::tarvel::testing::TempDir;
using ::tarvel::testing::WriteBytes;

TEST(NameLessTest, Utf16CodeUnitOrder) {
  struct {
    std::string_view a, b;
    bool a_first;
  } kCases[] = {
      {"a", "b", true},
      {"B", "a", true},
      {"ab", "abc", true},
      {"abc", "abc", false},
      {".x", "a", true},
      {"\xE3\x81\x82", "\xF0\x9F\x8E\xB5", true},    // あ U+3042 before U+1F3B5 (D83C DFB5)
      {"\xF0\x9F\x8E\xB5", "\xEF\xBD\x81", true},    // U+1F3B5 before ａ U+FF41
      {"\xF0\x9F\x8E\xB5", "\xEE\x80\x80", true},    // and before U+E000
      {"\xED\x9F\xBF", "\xF0\x90\x80\x80", true},    // U+D7FF before U+10000
      {"x\xF0\x9F\x8E\xB5", "x\xEF\xBC\x81", true},  // after a common prefix
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(NameLess(c.a, c.b), c.a_first) << c.a << " " << c.b;
    if (c.a != c.b) {
      EXPECT_EQ(NameLess(c.b, c.a), !c.a_first) << c.a << " " << c.b;
    }
  }
}

// An ext2 volume made without its "filetype" feature, whose listings leave
// the kind of every entry unset as some older file systems do. Mounting it
// needs root and a loop device; where that fails `why()` says so.
class UntypedVolume {
 public:
  UntypedVolume() {
    const std::string image = "'" + (dir_.path() / "old.img").native() + "'";
    const std::string mount = "'" + path().native() + "'";
    fs::create_directory(path());
    if (::geteuid() != 0) {
      why_ = "mounting a volume needs root";
    } else if (!Run("truncate -s 2M " + image + " && mke2fs -q -t ext2 -O ^filetype " + image)) {
      why_ = "cannot make an ext2 image (is e2fsprogs installed?)";
    } else if (!(mounted_ = Run("mount -t ext2 -o loop " + image + " " + mount))) {
      why_ = "cannot mount an ext2 image on a loop device";
    } else {
      fs::remove(path() / "lost+found");
    }
  }
  ~UntypedVolume() {
    if (mounted_) Run("umount '" + path().native() + "'");
  }
  bool ok() const { return mounted_; }
  const std::string& why() const { return why_; }
  fs::path path() const { return dir_.path() / "volume"; }

 private:
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  TempDir dir_;
  bool mounted_ = false;
  std::string why_;
};

// Fills the empty folder `d` with one entry of each kind and lists it.
std::vector<std::pair<std::string, EntryKind>> FillAndList(DirectoryListing& listing,
                                                           const fs::path& d) {
  WriteBytes(d / "b.mp3", "x");
  WriteBytes(d / ".hidden", "x");
  WriteBytes(d / "..mp3", "x");  // names that only start like "." and ".."
  fs::create_directory(d / ".a");
  WriteBytes(d / "\xFF", "x");
  fs::create_directory(d / "A");
  fs::create_symlink("b.mp3", d / "link");
  EXPECT_EQ(::mkfifo((d / "pipe").c_str(), 0644), 0);
  EXPECT_EQ(listing.Read(d.native()), 0);
  std::vector<std::pair<std::string, EntryKind>> got;
  for (size_t i = 0; i < listing.size(); ++i) got.emplace_back(listing.name(i), listing.kind(i));
  return got;
}

TEST(DirectoryListingTest, ListsEverythingSortedWithKinds) {
  const std::vector<std::pair<std::string, EntryKind>> expected = {
      {"..mp3", EntryKind::kFile}, {".a", EntryKind::kFolder},  {".hidden", EntryKind::kFile},
      {"A", EntryKind::kFolder},   {"b.mp3", EntryKind::kFile}, {"link", EntryKind::kSymlink},
      {"pipe", EntryKind::kOther}, {"\xFF", EntryKind::kFile},
  };
  TempDir dir;
  DirectoryListing listing;
  EXPECT_EQ(FillAndList(listing, dir.path()), expected);
  // The same object serves the next folder.
  ASSERT_EQ(listing.Read((dir.path() / "A").native()), 0);
  EXPECT_EQ(listing.size(), 0u);

  // Where the listing leaves the kinds out, each entry is looked at.
  UntypedVolume untyped;
  if (!untyped.ok()) GTEST_SKIP() << untyped.why();
  EXPECT_EQ(FillAndList(listing, untyped.path()), expected);
}

TEST(DirectoryListingTest, ReportsWhyAFolderCannotBeRead) {
  TempDir dir;
  const fs::path& d = dir.path();
  WriteBytes(d / "file", "x");
  fs::create_directory(d / "real");
  fs::create_symlink("real", d / "link");
  DirectoryListing listing;
  EXPECT_EQ(listing.Read((d / "missing").native()), ENOENT);
  EXPECT_EQ(listing.Read((d / "file").native()), ENOTDIR);
  EXPECT_NE(listing.Read((d / "link").native(), /*follow_link=*/false), 0);
  EXPECT_NE(listing.Read((d / "link").native() + "/", /*follow_link=*/false), 0);
  EXPECT_EQ(listing.Read((d / "link").native(), /*follow_link=*/true), 0);
}

}  // namespace
}  // namespace tarvel
