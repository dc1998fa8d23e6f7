#include "driver/layout_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "driver/backup.h"

namespace {

// How much written data may wait before the disk is asked to take it: the
// disk then works while the conversion goes on, and the last flush finds
// little left to do.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

}  // namespace

std::string failureText(const std::string& what, const std::string& path,
                        int code) {
  return what + " " + path + ": " + errorText(code);
}

std::size_t blockSizeFor(std::uint64_t size) {
  // Room for the whole of a small file in one piece, its end included.
  const std::uint64_t fitted = std::max<std::uint64_t>(size + 1, 4096);
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(fitted, LayoutConverter::kBlockSize));
}

void convertFile(const SystemFile& in, const std::string& path,
                 std::size_t blockSize, LayoutConverter& converter) {
  const std::unique_ptr<char[]> block(new char[blockSize]);
  for (;;) {
    std::size_t got = 0;
    if (const int code = readSome(in, block.get(), blockSize, got))
      throw FileError(failureText("cannot read", path, code));
    if (got == 0) break;
    converter.feed(block.get(), got);
  }
  converter.finish();
}

int BlockWriter::write(const char* data, std::size_t size) {
  while (size > 0) {
    if (!filling_) filling_.reset(new char[LayoutConverter::kBlockSize]);
    const std::size_t room = LayoutConverter::kBlockSize - filled_;
    const std::size_t piece = std::min(size, room);
    std::memcpy(filling_.get() + filled_, data, piece);
    filled_ += piece;
    data += piece;
    size -= piece;
    if (filled_ == LayoutConverter::kBlockSize) {
      if (const int code = handOver()) return code;
    }
  }
  return 0;
}

int BlockWriter::handOver() {
  if (!thread_.joinable()) thread_ = std::thread(&BlockWriter::run, this);
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  if (error_) return error_;
  std::swap(filling_, writing_);
  toWrite_ = filled_;
  filled_ = 0;
  busy_ = true;
  changed_.notify_all();
  return 0;
}

int BlockWriter::finish() {
  if (thread_.joinable()) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !busy_; });
      stopping_ = true;
      changed_.notify_all();
    }
    thread_.join();
  }
  if (!error_ && filled_ > 0) error_ = writeOut(filling_.get(), filled_);
  filled_ = 0;
  return error_;
}

void BlockWriter::abandon() {
  filled_ = 0;
  finish();
}

int BlockWriter::writeOut(const char* data, std::size_t size) {
  if (const int code = writeAll(file_, data, size)) return code;
  written_ += size;
  if (written_ - writeBackStart_ < kWriteBackStep) return 0;
  const std::uint64_t start = writeBackStart_;
  writeBackStart_ = written_;
  return startWriteBack(file_, start, written_ - start);
}

void BlockWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (!busy_) return;
    const bool failed = error_ != 0;  // nothing more is written after that
    lock.unlock();
    const int code = failed ? 0 : writeOut(writing_.get(), toWrite_);
    lock.lock();
    if (code) error_ = code;
    busy_ = false;
    changed_.notify_all();
  }
}

ReplacementFile::ReplacementFile(const std::string& target) : target_(target) {
  FileFacts facts;
  if (const int code = readFacts(target_, facts))
    throw FileError(
        failureText("cannot read the attributes of", target_, code));
  // A rename would not ask whether the file may be written; so ask first.
  if (facts.readOnly)
    throw FileError("cannot write " + target_ + ": the file is read-only");
  if (const int code = probeWriting(target_))
    throw FileError(failureText("cannot write", target_, code));

  folder_ = folderOf(target_);
  if (const int code = createTemporary(folder_, file_, tempPath_))
    throw FileError(
        failureText("cannot create a temporary file in", folder_, code));
  if (const int code = keepFacts(file_, facts)) {
    const std::string error =
        failureText("cannot set the permissions of", tempName(), code);
    throw FileError(error + discard());
  }
}

std::string ReplacementFile::tempName() const {
  return tempPath_.empty() ? "the temporary file in " + folder_ : tempPath_;
}

ReplacementFile::~ReplacementFile() { discard(); }

void ReplacementFile::fail(const char* what, int code) const {
  throw FileError(failureText(what, tempName(), code));
}

void ReplacementFile::write(const char* data, std::size_t size) {
  if (const int code = writer_.write(data, size)) fail("cannot write", code);
}

void ReplacementFile::commit(const FileState& expected,
                             const std::string& backup) {
  if (const int code = writer_.finish()) fail("cannot write", code);
  if (const int code = flushToDisk(file_)) fail("cannot flush", code);
  if (const int code = keepTemporary(file_, folder_, tempPath_))
    fail("cannot name", code);
  if (const int code = file_.close()) fail("cannot close", code);
  // The last moment to find that another program wrote to the file; what it
  // wrote in the few microseconds until the rename would still be lost.
  FileState now;
  if (const int code = readState(target_, now))
    throw FileError(failureText("cannot find", target_, code));
  if (now != expected) failChanged();
  if (!backup.empty()) {
    const Kept kept = keepOriginal(target_, expected, backup);
    if (kept == Kept::kFileChanged) failChanged();
    if (kept == Kept::kOtherBackup) {
      discard();
      throw FileChangedError(
          backup +
          " appeared during the conversion, made by another program "
          "or run; " +
          target_ + " was left as it is now. Run hudconv again.");
    }
  }
  if (const int code = renameOver(tempPath_, target_)) {
    // Windows refuses the rename while another run holds the file; that run
    // may have replaced it meanwhile, and then it is not "unchanged".
    if (readState(target_, now) == 0 && now != expected) failChanged();
    fail("cannot rename", code);
  }
  done_ = true;
  syncFolder(folder_);
}

void ReplacementFile::failChanged() {
  discard();
  throw FileChangedError(target_ +
                         " changed during the conversion (another program "
                         "wrote to it), and was left as it is now.");
}

std::string ReplacementFile::discard() {
  if (done_) return "";
  done_ = true;
  writer_.abandon();
  file_.close();
  // An unnamed file is gone with its descriptor.
  if (tempPath_.empty() || removeFile(tempPath_) == 0) return "";
  return " (the temporary file " + tempPath_ + " could not be removed)";
}
