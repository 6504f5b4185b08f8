#include "platform/two_threads.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvel {

bool SecondThreadPays(size_t items) {
  return items >= kItemsForASecondThread && std::thread::hardware_concurrency() > 1;
}

void RunInTwoParts(const std::function<void()>& first, const std::function<void()>& second,
                   const std::function<void()>& waiting) {
  std::mutex mutex;
  std::condition_variable ended_signal;
  bool ended = false;
  std::exception_ptr second_error;
  std::thread worker([&] {
    try {
      second();
    } catch (...) {
      second_error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    ended_signal.notify_one();
  });
  std::exception_ptr first_error;
  try {
    first();
  } catch (...) {
    first_error = std::current_exception();
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ended) {
      if (!first_error && waiting) {
        lock.unlock();
        waiting();
        lock.lock();
      }
      ended_signal.wait_for(lock, std::chrono::milliseconds(20), [&] { return ended; });
    }
  }
  worker.join();
  if (first_error) std::rethrow_exception(first_error);
  if (second_error) std::rethrow_exception(second_error);
}

void ShareOrderedPieces(size_t count, size_t ahead, const std::function<void(size_t)>& make,
                        const std::function<void(size_t)>& take) {
  std::mutex mutex;
  std::condition_variable changed;
  size_t claimed = 0;                     // pieces given to a thread to make
  size_t next = 0;                        // the first piece not yet taken
  std::vector<bool> ready(ahead, false);  // piece k made, at k % ahead
  bool stop = false;
  std::exception_ptr helper_error;
  size_t failed = count;  // the piece the second thread could not make
  // A piece may be made once it will fit: at most `ahead` wait to be taken.
  auto may_claim = [&] { return !stop && claimed < count && claimed < next + ahead; };
  std::thread helper([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      changed.wait(lock, [&] { return stop || claimed >= count || may_claim(); });
      if (stop || claimed >= count) return;
      const size_t k = claimed++;
      lock.unlock();
      try {
        make(k);
      } catch (...) {
        lock.lock();
        helper_error = std::current_exception();
        failed = k;
        stop = true;
        changed.notify_all();
        return;
      }
      lock.lock();
      ready[k % ahead] = true;
      changed.notify_all();
    }
  });
  auto end_helper = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
    helper.join();
  };
  try {
    std::unique_lock<std::mutex> lock(mutex);
    // The pieces before one the second thread could not make are taken, as
    // if one thread had gone through them, and then its error is thrown.
    while (next < count && next != failed) {
      if (ready[next % ahead]) {
        ready[next % ahead] = false;
        lock.unlock();
        take(next);
        lock.lock();
        ++next;
        changed.notify_all();
      } else if (may_claim()) {
        const size_t k = claimed++;
        lock.unlock();
        make(k);
        lock.lock();
        ready[k % ahead] = true;
      } else {
        changed.wait(lock);
      }
    }
  } catch (...) {
    end_helper();
    throw;
  }
  end_helper();
  if (helper_error) std::rethrow_exception(helper_error);
}

}  // namespace tarvel
