#include "winapi/hand_off.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Consumes the slots sent on a thread of its own.
class ThreadedHandOff : public HandOff {
 public:
  ThreadedHandOff(size_t slots, std::function<void(size_t)> consume)
      : consume_(std::move(consume)) {
    for (size_t slot = slots; slot > 0; --slot) free_.push_back(slot - 1);
    consumer_ = std::thread([this] { Consume(); });
  }
  ~ThreadedHandOff() override { Finish(); }

  size_t Take() override {
    std::unique_lock<std::mutex> lock(mutex_);
    freed_.wait(lock, [this] { return !free_.empty(); });
    const size_t slot = free_.back();
    free_.pop_back();
    return slot;
  }

  void Send(size_t slot) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_.push_back(slot);
    }
    arrived_.notify_one();
  }

  void Finish() override {
    if (!consumer_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finishing_ = true;
    }
    arrived_.notify_one();
    consumer_.join();
  }

 private:
  void Consume() {
    for (;;) {
      size_t slot;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait(lock, [this] { return !sent_.empty() || finishing_; });
        if (sent_.empty()) return;
        slot = sent_.front();
        sent_.pop_front();
      }
      consume_(slot);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(slot);
      }
      freed_.notify_one();
    }
  }

  std::function<void(size_t)> consume_;
  std::mutex mutex_;
  std::condition_variable arrived_;  // a slot was sent, or the end came
  std::condition_variable freed_;    // a slot was consumed
  std::deque<size_t> sent_;
  std::vector<size_t> free_;
  bool finishing_ = false;
  std::thread consumer_;
};

}  // namespace

std::unique_ptr<HandOff> HandOff::Make(size_t slots, std::function<void(size_t)> consume,
                                       bool threaded) {
  if (threaded) {
    try {
      return std::make_unique<ThreadedHandOff>(slots, consume);
    } catch (const std::system_error&) {
      // No thread to be had (a process limit): the caller consumes.
    }
  }
  return MakeInline(std::move(consume));
}
