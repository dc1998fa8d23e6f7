#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "driver/platform_files.h"

// Writes the buffers a converter fills to a file, from a thread of its own
// once there is more than one, so that the disk is fed while the next ones
// are converted. The buffers go round a ring: the converter fills one while
// the thread writes those before it. Either side sleeps only when it has
// nothing to do, and the thread is woken only once several buffers wait, so
// a hand-off is no system call in the common case. A failure is told at the
// next take() or at finish(), with the system's error.
class BlockWriter {
 public:
  BlockWriter(const SystemFile& file, std::size_t blockSize)
      : file_(file), blockSize_(blockSize) {}
  ~BlockWriter() { abandon(); }
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // The buffer to fill next; waits while every buffer is still to be written.
  char* lend(std::size_t& size);
  // Queues the first `used` bytes of the buffer lent last. Returns 0, or the
  // error of a write that failed.
  SystemError take(std::size_t used);
  // Writes what is queued and waits for it. Returns the first error.
  SystemError finish();
  // Waits for the buffer being written, and drops the rest.
  void abandon();

 private:
  // Buffers in the ring, and how many must wait before the thread is woken.
  static constexpr int kBuffers = 8;
  static constexpr int kWakeAt = 4;

  SystemError writeOut(const char* data, std::size_t size);
  void run();
  void stop(bool dropQueued);

  const SystemFile& file_;
  std::size_t blockSize_;
  std::unique_ptr<char[]> buffers_[kBuffers];
  std::size_t used_[kBuffers] = {};
  int lent_ = 0;  // the buffer the converter fills
  std::uint64_t written_ = 0, writeBackStart_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Under mutex_: the queue runs from head_, full_ buffers long, the one
  // being written included.
  int head_ = 0, full_ = 0;
  bool writerWaits_ = false, converterWaits_ = false;
  bool stopping_ = false, dropping_ = false;
  SystemError error_;
};
