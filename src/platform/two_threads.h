// Sharing a long walk with a second thread: the system calls of a large
// scan or stage are most of its time, and two cores carry them out side by
// side.
#ifndef TARVEL_PLATFORM_TWO_THREADS_H_
#define TARVEL_PLATFORM_TWO_THREADS_H_

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>

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

// Makes the pieces of the items [from, to), `part` items to a piece, with
// `make(first, end)`, and hands each to `take` in the order of the items.
// When the walk is long enough, two pieces are made at a time, one on a
// second thread; `take` always runs on this thread. At most two pieces are
// held at once.
template <typename Make, typename Take>
void MakePiecesInOrder(size_t from, size_t to, size_t part, const Make& make, const Take& take) {
  const bool two = SecondThreadPays(to - from);
  for (size_t at = from; at < to;) {
    const size_t mid = std::min(to, at + part);
    if (!two || mid == to) {
      take(make(at, mid));
      at = mid;
      continue;
    }
    const size_t end = std::min(to, mid + part);
    decltype(make(at, mid)) first, second;
    RunInTwoParts([&] { first = make(at, mid); }, [&] { second = make(mid, end); }, nullptr);
    take(std::move(first));
    take(std::move(second));
    at = end;
  }
}

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_TWO_THREADS_H_
