#include "driver/replacement_file.h"

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "driver/messages.h"

namespace {

// How much written data may wait before the disk is asked to take it: the
// disk then works while the conversion goes on, and the last flush finds
// little left to do.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

}  // namespace

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
    thread_ = std::thread(&BlockWriter::run, this);
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

std::string replacedFile(const std::string& path) {
  std::string target;
  check(resolveLinks(path, target), messages::Step::kFind, path);
  return target;
}

InheritedAttributes checkReplaceable(const std::string& target) {
  InheritedAttributes attributes;
  check(readAttributes(target, attributes), messages::Step::kReadAttributes,
        target);
  // A rename would not ask whether the file may be written; so ask first.
  if (attributes.readOnly) throw FileError(messages::readOnly(target));
  check(probeWriting(target), messages::Step::kWrite, target);
  if (probeReplacing(target)) throw FileError(messages::notReplaceable(target));
  std::string owner;
  if (!ownerIsKept(attributes, owner))
    throw FileError(messages::ownerWouldChange(target, owner));
  return attributes;
}

ReplacementFile::ReplacementFile(const std::string& target,
                                 std::size_t blockSize)
    : target_(target),
      attributes_(checkReplaceable(target_)),
      pending_(folderOf(target_)),
      writer_(std::make_unique<BlockWriter>(pending_.file(), blockSize)) {
  const SystemError error = inheritAttributes(pending_.file(), attributes_);
  if (!error) return;
  std::string message =
      messages::failed(messages::Step::kSetPermissions, pending_.name(), error);
  if (!discard()) message += messages::notRemoved(pending_.path());
  throw FileError(message);
}

ReplacementFile::~ReplacementFile() { discard(); }

char* ReplacementFile::lend(std::size_t& size) { return writer_->lend(size); }

void ReplacementFile::take(std::size_t used) {
  pending_.check(writer_->take(used), messages::Step::kWrite);
}

void ReplacementFile::finish() {
  pending_.check(writer_->finish(), messages::Step::kWrite);
  pending_.check(flushToDisk(pending_.file()), messages::Step::kFlush);
}

void ReplacementFile::checkUnchanged(const FileVersion& expected) {
  // The last moment to find that another program wrote to the file; what it
  // wrote in the few microseconds until the rename would still be lost.
  FileVersion now;
  check(readVersion(target_, now), messages::Step::kFind, target_);
  if (now != expected) failChanged();
}

void ReplacementFile::replace(const FileVersion& expected) {
  pending_.nameAndClose();
  if (const SystemError error = pending_.renameOver(target_)) {
    // Windows refuses the rename while another run holds the file; that run
    // may have replaced it meanwhile, and then it is not "unchanged".
    FileVersion now;
    if (!readVersion(target_, now) && now != expected) failChanged();
    pending_.check(error, messages::Step::kRename);
  }
  (void)syncFolder(folderOf(target_), target_);
}

void ReplacementFile::failChanged() {
  discard();
  throw FileChangedError(messages::changedMeanwhile(target_));
}

bool ReplacementFile::discard() {
  // The writer's thread lets go of the file first.
  writer_->abandon();
  return pending_.discard();
}
