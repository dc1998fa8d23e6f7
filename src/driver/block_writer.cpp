// The ring of buffers that feeds a file being written from a thread of its
// own while the next blocks are converted.

#include "driver/block_writer.h"

#include "driver/platform_process.h"

namespace {

// How much written data may wait before the disk is asked to take it: the
// disk then works while the conversion goes on, and the last flush finds
// little left to do.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

}  // namespace

char* BlockWriter::lend(std::size_t& size) {
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    converterWaits_ = true;
    changed_.wait(lock, [this] { return full_ < kBuffers; });
    converterWaits_ = false;
  }
  if (!buffers_[lent_]) buffers_[lent_].reset(new char[blockSize_]);
  size = blockSize_;
  return buffers_[lent_].get();
}

SystemError BlockWriter::take(std::size_t used) {
  used_[lent_] = used;
  lent_ = (lent_ + 1) % kBuffers;
  if (!thread_.joinable()) {
    // The first buffer waits: a file that fits in it needs no thread.
    if (full_ == 0) {
      full_ = 1;
      return {};
    }
    thread_ = startHelperThread([this] { run(); });
  }
  bool wake;
  SystemError error;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++full_;
    wake = writerWaits_ && full_ >= kWakeAt;
    error = error_;
  }
  if (wake) changed_.notify_all();
  return error;
}

void BlockWriter::stop(bool dropQueued) {
  if (!thread_.joinable()) {
    if (!dropQueued && full_ == 1 && !error_)
      error_ = writeOut(buffers_[head_].get(), used_[head_]);
    full_ = 0;
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    dropping_ = dropQueued;
  }
  changed_.notify_all();
  thread_.join();
}

SystemError BlockWriter::finish() {
  stop(false);
  return error_;
}

void BlockWriter::abandon() { stop(true); }

SystemError BlockWriter::writeOut(const char* data, std::size_t size) {
  if (const SystemError error = writeAll(file_, data, size)) return error;
  written_ += size;
  if (written_ - writeBackStart_ < kWriteBackStep) return {};
  const std::uint64_t start = writeBackStart_;
  writeBackStart_ = written_;
  return startWriteBack(file_, start, written_ - start);
}

void BlockWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (full_ == 0) {
      if (stopping_) return;
      writerWaits_ = true;
      changed_.wait(lock, [this] { return full_ >= kWakeAt || stopping_; });
      writerWaits_ = false;
      continue;
    }
    // Nothing more is written after a failure, nor once told to drop.
    const bool write = !error_ && !dropping_;
    const int at = head_;
    lock.unlock();
    const SystemError error =
        write ? writeOut(buffers_[at].get(), used_[at]) : SystemError();
    lock.lock();
    if (error) error_ = error;
    head_ = (head_ + 1) % kBuffers;
    --full_;
    if (converterWaits_) changed_.notify_all();
  }
}
