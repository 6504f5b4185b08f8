// Sharing a long walk with a second thread: the system calls of a large
// scan or stage are most of its time, and two cores carry them out side by
// side.
#ifndef TARVEL_PLATFORM_TWO_THREADS_H_
#define TARVEL_PLATFORM_TWO_THREADS_H_

#include <cstddef>
#include <functional>

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

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_TWO_THREADS_H_
