#include "platform/two_threads.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

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

}  // namespace tarvel
