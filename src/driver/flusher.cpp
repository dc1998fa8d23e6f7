// Flushes that wait for the disk together, on threads of their own.

#include "driver/flusher.h"

#include <utility>

#include "driver/platform_process.h"

Flusher& Flusher::shared() {
  static Flusher flusher;
  return flusher;
}

Flusher::~Flusher() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  waiting_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::future<SystemError> Flusher::flush(const SystemFile& file) {
  std::packaged_task<SystemError()> task([&file] { return flushToDisk(file); });
  std::future<SystemError> result = task.get_future();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
    if (idle_ == 0 && threads_.size() < kThreads)
      threads_.push_back(startHelperThread([this] { run(); }));
  }
  waiting_.notify_one();
  return result;
}

void Flusher::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    waiting_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) return;
    std::packaged_task<SystemError()> task = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}
