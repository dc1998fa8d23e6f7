#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/platform_files.h"

// Flushes files to disk on threads of its own, several at a time, while the
// caller goes on: a flush mostly waits for the disk, and the disk takes the
// flushes that wait together in one go. The threads start as they are
// needed, and end with the program.
class Flusher {
 public:
  // The one the program shares.
  static Flusher& shared();

  Flusher() = default;
  ~Flusher();
  Flusher(const Flusher&) = delete;
  Flusher& operator=(const Flusher&) = delete;

  // Flushes `file`, which stays open until the result is got; the result is
  // the system's error.
  std::future<SystemError> flush(const SystemFile& file);

 private:
  static constexpr std::size_t kThreads = 8;

  void run();

  std::mutex mutex_;
  std::condition_variable waiting_;
  std::deque<std::packaged_task<SystemError()>> queue_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};
