#include "platform/two_threads.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
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

void RunInHalves(size_t count, const std::function<void(size_t, size_t)>& part) {
  if (!SecondThreadPays(count)) {
    part(0, count);
    return;
  }
  RunInTwoParts([&] { part(0, count / 2); }, [&] { part(count / 2, count); }, nullptr);
}

namespace {

// The state of one walk of ShareOrderedPieces, shared by its two threads.
class OrderedPieces {
 public:
  OrderedPieces(size_t count, size_t ahead, const std::function<void(size_t)>& make,
                const std::function<void(size_t)>& take)
      : count_(count), ahead_(ahead), make_(make), take_(take), ready_(ahead, false) {}

  void Run() {
    std::thread helper([this] { Help(); });
    try {
      TakeAll();
    } catch (...) {
      EndHelper(helper);
      throw;
    }
    EndHelper(helper);
    if (helper_error_) std::rethrow_exception(helper_error_);
  }

 private:
  // A piece may be made once it will fit: at most `ahead_` wait to be taken.
  bool MayClaim() const { return !stop_ && claimed_ < count_ && claimed_ < next_ + ahead_; }

  // The second thread: makes the next pieces while there is room.
  void Help() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return stop_ || claimed_ >= count_ || MayClaim(); });
      if (stop_ || claimed_ >= count_) return;
      const size_t k = claimed_++;
      lock.unlock();
      try {
        make_(k);
      } catch (...) {
        lock.lock();
        helper_error_ = std::current_exception();
        failed_ = k;
        stop_ = true;
        changed_.notify_all();
        return;
      }
      lock.lock();
      ready_[k % ahead_] = true;
      changed_.notify_all();
    }
  }

  // This thread: takes the pieces in order, making one itself whenever the
  // next is not ready and there is room. The pieces before one the second
  // thread could not make are taken, as if one thread had gone through them.
  void TakeAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (next_ < count_ && next_ != failed_) {
      if (ready_[next_ % ahead_]) {
        ready_[next_ % ahead_] = false;
        lock.unlock();
        take_(next_);
        lock.lock();
        ++next_;
        changed_.notify_all();
      } else if (MayClaim()) {
        const size_t k = claimed_++;
        lock.unlock();
        make_(k);
        lock.lock();
        ready_[k % ahead_] = true;
      } else {
        changed_.wait(lock);
      }
    }
  }

  void EndHelper(std::thread& helper) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    helper.join();
  }

  const size_t count_;
  const size_t ahead_;
  const std::function<void(size_t)>& make_;
  const std::function<void(size_t)>& take_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t claimed_ = 0;       // pieces given to a thread to make
  size_t next_ = 0;          // the first piece not yet taken
  std::vector<bool> ready_;  // piece k made, at k % ahead
  bool stop_ = false;
  std::exception_ptr helper_error_;
  size_t failed_ = SIZE_MAX;  // the piece the second thread could not make
};

}  // namespace

void ShareOrderedPieces(size_t count, size_t ahead, const std::function<void(size_t)>& make,
                        const std::function<void(size_t)>& take) {
  OrderedPieces(count, ahead, make, take).Run();
}

}  // namespace tarvel
