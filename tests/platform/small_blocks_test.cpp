#include "platform/small_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

namespace tarvel {
namespace {

// Blocks of every kind of size are writable to their last byte, aligned,
// and apart from each other; a block given back is the next one of its
// size, from whichever thread gave it back.
TEST(SmallBlocksTest, BlocksAreApartAndAGivenBackBlockIsTakenAgain) {
  const size_t kSizes[] = {1, 7, 8, 9, 16, 17, 42, 255, 256, 257, 4096};
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 3000; ++i) {  // more than one slab of the smallest blocks
      auto* b = static_cast<unsigned char*>(AllocateSmallBlock(size));
      ASSERT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);
      std::memset(b, i & 0xFF, size);
      blocks.push_back(b);
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
      // A block that overlapped a later one would hold that one's bytes.
      ASSERT_EQ(blocks[i][0], i & 0xFF) << i;
      ASSERT_EQ(blocks[i][size - 1], i & 0xFF) << i;
    }
    unsigned char* given_back = blocks[1000];
    std::thread([&] { FreeSmallBlock(given_back, size); }).join();
    unsigned char* again = static_cast<unsigned char*>(AllocateSmallBlock(size));
    if (SmallBlocksPooled() && size <= kLargestSmallBlock) {
      EXPECT_EQ(again, given_back);
    }
    blocks[1000] = again;
    for (unsigned char* b : blocks) FreeSmallBlock(b, size);
  }
  FreeSmallBlock(nullptr, 8);  // nothing to give back
}

// Fresh blocks of one size follow each other in a slab with no gap: a
// million texts cost their own bytes, not a header or a slab each.
TEST(SmallBlocksTest, FreshBlocksOfASizeFollowEachOther) {
  if (!SmallBlocksPooled()) GTEST_SKIP() << "blocks come one by one from the general allocator";
  constexpr size_t kSize = 200;  // a size no other test here takes
  std::vector<char*> blocks;
  for (int i = 0; i < 2000; ++i) blocks.push_back(static_cast<char*>(AllocateSmallBlock(kSize)));
  // Blocks given back earlier in this process come first; the last ones
  // are fresh, and only a new slab breaks the run.
  int apart = 0;
  for (size_t i = blocks.size() - 200; i < blocks.size(); ++i) {
    if (blocks[i] != blocks[i - 1] + kSize) ++apart;
  }
  EXPECT_LE(apart, 1);
  for (char* b : blocks) FreeSmallBlock(b, kSize);
}

// Two threads taking and giving back blocks of the same sizes at once never
// get the same block while both hold it.
TEST(SmallBlocksTest, TwoThreadsNeverShareABlock) {
  auto work = [](unsigned char mark, std::vector<unsigned char*>& kept, bool& clean) {
    for (int round = 0; round < 200; ++round) {
      std::vector<unsigned char*> held;
      for (size_t size = 16; size <= 64; size += 8) {
        auto* b = static_cast<unsigned char*>(AllocateSmallBlock(size));
        std::memset(b, mark, size);
        held.push_back(b);
      }
      size_t size = 16;
      for (unsigned char* b : held) {
        for (size_t i = 0; i < size; ++i) clean = clean && b[i] == mark;
        // Every second round keeps its smallest block to the end.
        if (round % 2 == 1 && size == 16) {
          kept.push_back(b);
        } else {
          FreeSmallBlock(b, size);
        }
        size += 8;
      }
    }
  };
  std::vector<unsigned char*> kept_a, kept_b;
  bool clean_a = true, clean_b = true;
  std::thread a(work, 0xAA, std::ref(kept_a), std::ref(clean_a));
  std::thread b(work, 0xBB, std::ref(kept_b), std::ref(clean_b));
  a.join();
  b.join();
  EXPECT_TRUE(clean_a);
  EXPECT_TRUE(clean_b);
  std::set<unsigned char*> all(kept_a.begin(), kept_a.end());
  all.insert(kept_b.begin(), kept_b.end());
  EXPECT_EQ(all.size(), kept_a.size() + kept_b.size());
  for (unsigned char* k : kept_a) EXPECT_EQ(k[15], 0xAA);
  for (unsigned char* k : kept_b) EXPECT_EQ(k[15], 0xBB);
  for (unsigned char* k : all) FreeSmallBlock(k, 16);
}

}  // namespace
}  // namespace tarvel
