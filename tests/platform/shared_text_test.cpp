#include "platform/shared_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "platform/chunked_table.h"
#include "platform/small_blocks.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using ::tarvel::testing::U8;

TEST(SharedTextTest, CopiesShareAndAssignmentNeverReachesAnotherHolder) {
  SharedText a(u"/音楽/アルバム/");
  SharedText b = a;
  EXPECT_TRUE(b.SharesWith(a));
  SharedText c;
  c = b;
  EXPECT_TRUE(c.SharesWith(a));

  b = u"/other/";  // a new buffer for b alone
  EXPECT_FALSE(b.SharesWith(a));
  EXPECT_EQ(U8(a), U8(u"/音楽/アルバム/"));
  EXPECT_EQ(U8(c), U8(u"/音楽/アルバム/"));
  EXPECT_EQ(U8(b), "/other/");

  c = std::u16string(u"/moved/");
  EXPECT_EQ(U8(a), U8(u"/音楽/アルバム/"));
  c = a;
  c = c;  // assigning a text to itself keeps it
  EXPECT_TRUE(c.SharesWith(a));

  SharedText moved = std::move(c);
  EXPECT_TRUE(moved.SharesWith(a));
  EXPECT_TRUE(c.empty());  // NOLINT(bugprone-use-after-move): a moved-from text is empty
  a = SharedText();        // the buffer lives on in its other holder
  EXPECT_EQ(U8(moved), U8(u"/音楽/アルバム/"));
}

TEST(SharedTextTest, EmptyHoldsNoBuffer) {
  const SharedText kEmpties[] = {SharedText(), SharedText(u""), SharedText(std::u16string()),
                                 SharedText(std::u16string_view())};
  for (const SharedText& e : kEmpties) {
    EXPECT_TRUE(e.empty());
    EXPECT_TRUE(e.SharesWith(SharedText()));  // no buffer was made
    EXPECT_EQ(e.view(), u"");
    EXPECT_EQ(e.size(), 0u);
  }
  SharedText t(u"x");
  t = std::u16string_view();
  EXPECT_TRUE(t.SharesWith(SharedText()));
}

// The last holder of a text gives its block back, and no holder before.
TEST(SharedTextTest, TheLastHolderGivesTheBlockBack) {
  if (!SmallBlocksPooled()) GTEST_SKIP() << "blocks come one by one from the general allocator";
  const std::u16string kText(110, u'x');  // a block size no other test here takes
  const char16_t* first = nullptr;
  {
    SharedText a(kText);
    first = a.data();
    { SharedText b = a; }
    SharedText c(kText);  // `a` still holds the first block
    EXPECT_NE(c.data(), first);
  }
  // Both are gone: the next text of the size takes a block given back.
  SharedText d(kText);
  SharedText e(kText);
  EXPECT_TRUE(d.data() == first || e.data() == first);
}

// A text keeps every character it was made from, and reads back the same
// way whichever way it is read.
TEST(SharedTextTest, HoldsItsWholeText) {
  const std::u16string kLong(70000, u'曲');  // longer than a 16-bit length
  const std::u16string kWithZero(u"a\0b", 3);
  const std::u16string_view kTexts[] = {u"x", u"/音楽/アルバム/", kWithZero, kLong};
  for (std::u16string_view text : kTexts) {
    SCOPED_TRACE(text.size());
    const SharedText kMade[] = {SharedText(text), SharedText(std::u16string(text)),
                                SharedText() = text};
    for (const SharedText& t : kMade) {
      ASSERT_EQ(t.size(), text.size());
      EXPECT_FALSE(t.empty());
      EXPECT_EQ(t.view(), text);
      EXPECT_EQ(t.str(), text);
      EXPECT_EQ(std::u16string_view(t.data(), t.size()), text);
      EXPECT_EQ(t.front(), text.front());
      EXPECT_EQ(t.back(), text.back());
      EXPECT_EQ(std::u16string(t.begin(), t.end()), text);
    }
  }
}

// Every kind of text on either side of == and !=, with a shared and an
// unshared buffer on the SharedText side.
TEST(SharedTextTest, ComparesWithEveryTextKind) {
  const struct {
    std::u16string_view a, b;
    bool equal;
  } kCases[] = {
      {u"/m/a/", u"/m/a/", true}, {u"/m/a/", u"/m/b/", false}, {u"/m/a/", u"/m/a", false},
      {u"", u"", true},           {u"", u"/", false},          {u"曲/", u"曲/", true},
      {u"曲/", u"曲\\", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(U8(c.a) + " vs " + U8(c.b));
    const SharedText a(c.a);
    const SharedText b(c.b);
    const SharedText a_copy = a;
    const std::u16string b_string(c.b);
    const char16_t* b_pointer = b_string.c_str();
    EXPECT_EQ(a == b, c.equal);
    EXPECT_EQ(a != b, !c.equal);
    EXPECT_EQ(a == b_string, c.equal);
    EXPECT_EQ(b_string == a, c.equal);
    EXPECT_EQ(a != b_string, !c.equal);
    EXPECT_EQ(a == c.b, c.equal);
    EXPECT_EQ(c.b == a, c.equal);
    EXPECT_EQ(a == b_pointer, c.equal);
    EXPECT_EQ(b_pointer != a, !c.equal);
    EXPECT_TRUE(a == a_copy);
  }
}

TEST(SharedTextTest, ConcatenatesWithTexts) {
  const SharedText path(u"/m/曲/");
  const std::u16string name = u"a.mp3";
  const std::u16string_view view = u"b.mp3";
  const SharedText other(u"x/");
  const struct {
    const char* label;
    std::u16string joined;
    std::u16string_view expected;
  } kCases[] = {
      {"shared + string", path + name, u"/m/曲/a.mp3"},
      {"shared + view", path + view, u"/m/曲/b.mp3"},
      {"shared + literal", path + u"c.mp3", u"/m/曲/c.mp3"},
      {"shared + character", path + u'/', u"/m/曲//"},
      {"shared + shared", path + other, u"/m/曲/x/"},
      {"string + shared", name + path, u"a.mp3/m/曲/"},
      {"view + shared", view + path, u"b.mp3/m/曲/"},
      {"temporary + shared", std::u16string(u"/r") + path, u"/r/m/曲/"},
      {"chain", path + name + u"/" + other, u"/m/曲/a.mp3/x/"},
      {"empty + empty", SharedText() + SharedText(), u""},
  };
  for (const auto& c : kCases) EXPECT_EQ(U8(c.joined), U8(c.expected)) << c.label;
  EXPECT_EQ(U8(path), U8(u"/m/曲/"));  // joining never changes the shared buffer
}

TEST(SharedTextTest, PrintsAsQuotedUtf8) {
  std::ostringstream os;
  PrintTo(SharedText(u"/曲/"), &os);
  EXPECT_EQ(os.str(), "\"/曲/\"");
}

// Counts live rows, so that a row made twice or never destroyed shows.
struct Counted {
  static inline int live = 0;
  int value;
  explicit Counted(int v = -1) : value(v) { ++live; }
  Counted(const Counted& other) : value(other.value) { ++live; }
  ~Counted() { --live; }
  Counted& operator=(const Counted&) = default;
};

TEST(ChunkedTableTest, RowsStayInPlaceAndAreMadeAndDestroyedOnce) {
  // Sizes around the chunk boundaries of a four-row chunk.
  const size_t kSizes[] = {0, 1, 3, 4, 5, 8, 13};
  for (size_t n : kSizes) {
    SCOPED_TRACE(n);
    {
      ChunkedTable<Counted, 4> table;
      std::vector<const Counted*> where;
      for (size_t i = 0; i < n; ++i) where.push_back(&table.emplace_back(static_cast<int>(i)));
      ASSERT_EQ(table.size(), n);
      EXPECT_EQ(table.empty(), n == 0);
      EXPECT_EQ(Counted::live, static_cast<int>(n));
      size_t i = 0;
      for (const Counted& row : table) {
        EXPECT_EQ(&row, where[i]);  // rows added later moved none before them
        EXPECT_EQ(row.value, static_cast<int>(i));
        ++i;
      }
      EXPECT_EQ(i, n);

      ChunkedTable<Counted, 4> copy = table;
      EXPECT_EQ(Counted::live, static_cast<int>(2 * n));
      if (n > 0) {
        copy.back().value = 99;
        EXPECT_EQ(table.back().value, static_cast<int>(n - 1));
      }

      table.resize(n / 2);
      EXPECT_EQ(Counted::live, static_cast<int>(n + n / 2));
      table.resize(n / 2 + 2);
      EXPECT_EQ(table[n / 2 + 1].value, -1);  // new rows are default-made
      EXPECT_EQ(table.size(), n / 2 + 2);

      ChunkedTable<Counted, 4> taken = std::move(copy);
      EXPECT_EQ(taken.size(), n);
      EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move)
      taken.swap(table);
      EXPECT_EQ(table.size(), n);
      taken.clear();
      EXPECT_EQ(Counted::live, static_cast<int>(n));
    }
    EXPECT_EQ(Counted::live, 0);
  }
}

}  // namespace
}  // namespace tarvel
