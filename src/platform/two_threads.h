// Sharing a long walk with a second thread: the system calls of a large
// scan or stage are most of its time, and two cores carry them out side by
// side.
#ifndef TARVEL_PLATFORM_TWO_THREADS_H_
#define TARVEL_PLATFORM_TWO_THREADS_H_

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace tarvel {

// A walk over this many items or more is shared with a second thread; below
// it a thread costs more than it saves.
inline constexpr size_t kItemsForASecondThread = 2048;

// True when a walk over `items` items should be split: it is long enough and
// the machine has a second core.
bool SecondThreadPays(size_t items);

// Runs `second` on a new thread while `first` runs on this one. Once `first`
// has ended, `waiting` is called on this thread about every 20 ms until
// `second` ends (to show its progress); the wait ends as soon as it does.
// An exception from either part is thrown here after both have ended (the
// first part's when both threw).
void RunInTwoParts(const std::function<void()>& first, const std::function<void()>& second,
                   const std::function<void()>& waiting);

// Runs `part(from, to)` over [0, count): in two halves, the second on a new
// thread, when the walk is long enough (see SecondThreadPays), else whole on
// this thread. An exception from either half is thrown here, as
// RunInTwoParts does.
void RunInHalves(size_t count, const std::function<void(size_t, size_t)>& part);

// The walk behind MakePiecesInOrder, over pieces 0..count-1: `make(k)`
// makes piece k, on either thread, only once the pieces before k - ahead
// have been taken; `take(k)` takes it, on this thread, in order.
void ShareOrderedPieces(size_t count, size_t ahead, const std::function<void(size_t)>& make,
                        const std::function<void(size_t)>& take);

// Makes the pieces of the items [from, to), `part` items to a piece, with
// `make(first, end)`, and hands each to `take` in the order of the items.
// When the walk is long enough, a second thread makes pieces while this one
// takes them (and makes some itself when the other falls behind); `take`
// always runs on this thread. At most four pieces wait to be taken. A piece
// that cannot be made or taken ends the walk with its exception, after the
// pieces before it have been taken.
template <typename Make, typename Take>
void MakePiecesInOrder(size_t from, size_t to, size_t part, const Make& make, const Take& take) {
  if (from >= to) return;
  part = std::max<size_t>(part, 1);
  const size_t count = (to - from + part - 1) / part;
  auto first = [&](size_t k) { return from + k * part; };
  auto end = [&](size_t k) { return std::min(to, from + (k + 1) * part); };
  if (!SecondThreadPays(to - from) || count < 2) {
    for (size_t k = 0; k < count; ++k) take(make(first(k), end(k)));
    return;
  }
  constexpr size_t kAhead = 4;
  std::vector<decltype(make(from, to))> slots(kAhead);
  ShareOrderedPieces(
      count, kAhead, [&](size_t k) { slots[k % kAhead] = make(first(k), end(k)); },
      [&](size_t k) {
        take(std::move(slots[k % kAhead]));
        slots[k % kAhead] = {};
      });
}

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_TWO_THREADS_H_
