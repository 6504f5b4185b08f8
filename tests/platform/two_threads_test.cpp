#include "platform/two_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarvel {
namespace {

// Holds the calling thread until the second thread has begun a piece (or
// ten seconds have passed), so that what a test asks of the second thread
// does not hang on when the system lets it run.
void AwaitSecond(const std::atomic<size_t>& began, size_t pieces = 1) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (began.load() < pieces && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

// Pieces come to `take` whole, in the order of the items, on the calling
// thread, however the walk is split; a long walk has a second thread make
// some of them, and never more than four wait to be taken.
TEST(MakePiecesInOrderTest, TakesEveryItemInOrderOnTheCallingThread) {
  const struct {
    size_t from, to, part;
    bool await_second;       // two threads: a piece made here waits for the second one
    bool slow_take = false;  // pieces wait while the second thread makes the last ones
  } kCases[] = {
      {5, 5, 8, false},       {0, 1, 8, false},     {0, 100, 8, false},
      {1, 5001, 64, false},   {1, 5001, 64, true},  {3, 4000, 1000, false},
      {0, 2048, 2048, false}, {0, 10000, 7, false}, {0, 4096, 512, true, true},
  };
  const std::thread::id caller = std::this_thread::get_id();
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.from) + ".." + std::to_string(c.to) + " by " +
                 std::to_string(c.part));
    std::vector<size_t> taken;
    std::atomic<size_t> made{0}, handed{0}, most_waiting{0}, made_elsewhere{0};
    // Without a second core the walk keeps to this thread.
    const bool await = c.await_second && SecondThreadPays(c.to - c.from);
    bool take_elsewhere = false;
    MakePiecesInOrder(
        c.from, c.to, c.part,
        [&](size_t first, size_t end) {
          if (std::this_thread::get_id() != caller) {
            ++made_elsewhere;
          } else if (await) {
            AwaitSecond(made_elsewhere);
          }
          std::vector<size_t> piece;
          for (size_t i = first; i < end; ++i) piece.push_back(i);
          const size_t waiting = ++made - handed.load();
          size_t most = most_waiting.load();
          while (waiting > most && !most_waiting.compare_exchange_weak(most, waiting)) {
          }
          return piece;
        },
        [&](const std::vector<size_t>& piece) {
          take_elsewhere = take_elsewhere || std::this_thread::get_id() != caller;
          EXPECT_FALSE(piece.empty());
          EXPECT_LE(piece.size(), c.part);
          taken.insert(taken.end(), piece.begin(), piece.end());
          ++handed;
          if (c.slow_take) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
    std::vector<size_t> expected;
    for (size_t i = c.from; i < c.to; ++i) expected.push_back(i);
    EXPECT_EQ(taken, expected);
    EXPECT_FALSE(take_elsewhere);
    EXPECT_LE(most_waiting.load(), 5u);  // four waiting and the one being taken
    if (await) {
      EXPECT_GT(made_elsewhere.load(), 0u);
    }
    // Each piece taken makes room, and the second thread is woken to fill
    // it: while this thread takes slowly, it makes more than the room ahead.
    if (await && c.slow_take) {
      EXPECT_GT(made_elsewhere.load(), 4u);
    }
  }
}

// A piece that cannot be made, or taken, ends the walk with its error: no
// piece after it is taken, and the second thread is stopped, not left behind.
TEST(MakePiecesInOrderTest, AFailedPieceEndsTheWalk) {
  constexpr size_t kNone = SIZE_MAX;
  const struct {
    size_t bad_make, bad_take;
    bool second_thread_fails;  // every piece made on the second thread fails
    // After this long, while this thread waits for the failing piece.
    int fails_after_ms = 0;
    // The first piece made here waits until the second thread has filled the
    // room ahead and waits itself.
    bool second_waits = false;
  } kCases[] = {
      {0, kNone, false},          {1, kNone, false},    {7, kNone, false},
      {39, kNone, false},         {kNone, 0, false},    {kNone, 6, false},
      {kNone, 39, false},         {kNone, kNone, true}, {kNone, kNone, true, 20},
      {kNone, 0, false, 0, true},
  };
  const std::thread::id caller = std::this_thread::get_id();
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.bad_make) + " " + std::to_string(c.bad_take) + " " +
                 std::to_string(c.second_thread_fails) + " " + std::to_string(c.fails_after_ms));
    if ((c.second_thread_fails || c.second_waits) && !SecondThreadPays(40 * 100)) {
      continue;  // one core
    }
    std::vector<size_t> taken;
    std::atomic<size_t> began{0};
    EXPECT_THROW(MakePiecesInOrder(
                     0, 40 * 100, 100,
                     [&](size_t first, size_t) {
                       if (first / 100 == c.bad_make) throw std::runtime_error("make");
                       if (std::this_thread::get_id() == caller) {
                         if (c.second_thread_fails) AwaitSecond(began);
                         if (c.second_waits && first == 0) {
                           AwaitSecond(began, 3);  // pieces 1 to 3: the room ahead is full
                           std::this_thread::sleep_for(std::chrono::milliseconds(20));
                         }
                       } else {
                         ++began;
                         if (c.second_thread_fails) {
                           std::this_thread::sleep_for(std::chrono::milliseconds(c.fails_after_ms));
                           throw std::runtime_error("make on the second thread");
                         }
                       }
                       return first / 100;
                     },
                     [&](size_t piece) {
                       if (piece == c.bad_take) throw std::runtime_error("take");
                       taken.push_back(piece);
                     }),
                 std::runtime_error);
    for (size_t k = 0; k < taken.size(); ++k) EXPECT_EQ(taken[k], k);
    if (!c.second_thread_fails) {
      EXPECT_EQ(taken.size(), std::min(c.bad_make, c.bad_take));
    }
  }
}

// Every item is walked once, by one part or the other; a long walk is split
// in two halves, one on a second thread.
TEST(RunInHalvesTest, WalksEveryItemOnce) {
  for (const size_t count : {size_t{0}, size_t{1}, size_t{2047}, size_t{2048}, size_t{5001}}) {
    SCOPED_TRACE(count);
    std::vector<int> walked(count, 0);
    std::atomic<size_t> parts{0};
    RunInHalves(count, [&](size_t from, size_t to) {
      ++parts;
      for (size_t i = from; i < to; ++i) ++walked[i];
    });
    EXPECT_EQ(walked, std::vector<int>(count, 1));
    EXPECT_EQ(parts.load(), SecondThreadPays(count) ? 2u : 1u);
  }
}

}  // namespace
}  // namespace tarvel
