#include "driver/backup.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "convert/layout_converter.h"
#include "driver/file_reading.h"
#include "driver/messages.h"

namespace {

// Reads until `size` bytes are in, or the file ends.
SystemError readFull(const SystemFile& file, char* data, std::size_t size,
                     std::size_t& got) {
  got = 0;
  while (got < size) {
    std::size_t piece = 0;
    if (const SystemError error = readSome(file, data + got, size - got, piece))
      return error;
    if (piece == 0) break;
    got += piece;
  }
  return {};
}

void rewind(const SystemFile& file, const std::string& path) {
  if (const SystemError error = rewindFile(file))
    throw FileError(messages::failed(messages::Step::kRead, path, error));
}

// Thrown at the first byte that differs: the rest need not be read.
struct Differs {};

// Compares the bytes written to it with those of a file, in turn.
class ComparingSink final : public BufferedSink {
 public:
  ComparingSink(const SystemFile& file, const std::string& path,
                std::size_t blockSize)
      : BufferedSink(blockSize),
        file_(file),
        path_(path),
        size_(blockSize),
        read_(new char[size_]) {}

  // The file must end where the bytes written end.
  void finish() {
    if (readPiece(1) != 0) throw Differs{};
  }

 private:
  void write(const char* data, std::size_t size) override {
    while (size > 0) {
      const std::size_t piece = std::min(size, size_);
      if (readPiece(piece) != piece ||
          std::memcmp(read_.get(), data, piece) != 0)
        throw Differs{};
      data += piece;
      size -= piece;
    }
  }
  std::size_t readPiece(std::size_t size) {
    std::size_t got = 0;
    if (const SystemError error = readFull(file_, read_.get(), size, got))
      throw FileError(messages::failed(messages::Step::kRead, path_, error));
    return got;
  }

  const SystemFile& file_;
  const std::string& path_;
  std::size_t size_;
  std::unique_ptr<char[]> read_;
};

// Whether converting `original` gives the bytes of `file`.
bool convertsInto(const SystemFile& original, const std::string& originalPath,
                  const SystemFile& file, const std::string& path,
                  std::size_t blockSize) {
  ComparingSink sink(file, path, blockSize);
  LayoutConverter converter(sink);
  try {
    convertFile(original, originalPath, blockSize, converter);
    sink.finish();
    return true;
  } catch (const Differs&) {
    return false;
  } catch (const ConversionError&) {
    return false;  // it was never converted into anything
  }
}

bool sameBytes(const SystemFile& one, const std::string& onePath,
               const SystemFile& other, const std::string& otherPath,
               std::size_t blockSize) {
  const std::unique_ptr<char[]> oneBlock(new char[blockSize]);
  const std::unique_ptr<char[]> otherBlock(new char[blockSize]);
  for (;;) {
    std::size_t oneGot = 0;
    std::size_t otherGot = 0;
    if (const SystemError error =
            readFull(one, oneBlock.get(), blockSize, oneGot))
      throw FileError(messages::failed(messages::Step::kRead, onePath, error));
    if (const SystemError error =
            readFull(other, otherBlock.get(), blockSize, otherGot))
      throw FileError(
          messages::failed(messages::Step::kRead, otherPath, error));
    if (oneGot != otherGot ||
        std::memcmp(oneBlock.get(), otherBlock.get(), oneGot) != 0)
      return false;
    if (oneGot == 0) return true;
  }
}

// A copy of the layout file beside it, removed again unless it was named.
class Copy {
 public:
  explicit Copy(const std::string& folder) : folder_(folder) {
    if (const SystemError error = createTemporary(folder_, file_, path_))
      throw FileError(
          messages::failed(messages::Step::kCreateTemporaryIn, folder_, error));
  }
  ~Copy() {
    file_.close();
    if (!named_ && !path_.empty()) removeFile(path_);
  }
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  // Fills the copy with the bytes, mode and time of `target`.
  void fill(const std::string& target) {
    SystemFile in;
    FileVersion state;
    if (const SystemError error = openForReading(target, in, state))
      throw FileError(messages::failed(messages::Step::kRead, target, error));
    InheritedAttributes attributes;
    if (const SystemError error = readAttributes(target, attributes))
      throw FileError(
          messages::failed(messages::Step::kReadAttributes, target, error));
    check(messages::Step::kSetPermissions,
          inheritAttributes(file_, attributes));
    readBlocks(in, target, blockSizeFor(state.size),
               [&](const char* data, std::size_t size) {
                 check(messages::Step::kWrite, writeAll(file_, data, size));
               });
    check(messages::Step::kSetTime, setModified(file_, state));
    check(messages::Step::kFlush, flushToDisk(file_));
  }

  // Names the copy `name`, unless that is taken: then returns the error that
  // says so.
  SystemError name(const std::string& name) {
    check(messages::Step::kName, nameTemporary(file_, folder_, path_));
    check(messages::Step::kClose, file_.close());
    const SystemError error = renameNoReplace(path_, name);
    if (error && !error.isAlreadyThere())
      throw FileError(messages::cannotRenameTo(path_, name, error));
    named_ = !error;
    return error;
  }

 private:
  void check(messages::Step step, const SystemError& error) const {
    if (error)
      throw FileError(messages::failed(
          step, path_.empty() ? messages::temporaryFileIn(folder_) : path_,
          error));
  }

  std::string folder_, path_;
  SystemFile file_;
  bool named_ = false;
};

}  // namespace

std::string backupOf(const std::string& target) { return target + ".bak"; }

Standing compareWithBackup(const SystemFile& in, const FileVersion& state,
                           const std::string& path, const std::string& backup) {
  SystemFile original;
  FileVersion originalState;
  const SystemError error = openForReading(backup, original, originalState);
  if (error.isNotFound()) return Standing::kNoBackup;
  if (error)
    throw FileError(
        messages::failed(messages::Step::kReadBackup, backup, error));
  // A run stopped between keeping the original and replacing the file left
  // the one file under both names.
  if (originalState.sameFile(state)) return Standing::kOriginal;
  const std::size_t blockSize =
      blockSizeFor(std::max(state.size, originalState.size));
  Standing standing = Standing::kDifferent;
  if (convertsInto(original, backup, in, path, blockSize)) {
    standing = Standing::kConverted;
  } else if (originalState.size == state.size) {
    rewind(in, path);
    rewind(original, backup);
    if (sameBytes(in, path, original, backup, blockSize))
      standing = Standing::kOriginal;
  }
  rewind(in, path);
  return standing;
}

Kept keepOriginal(const std::string& target, const FileVersion& expected,
                  const std::string& backup) {
  SystemError error = linkFile(target, backup);
  if (error && !error.isAlreadyThere()) {
    // A file system without hard links (FAT, exFAT) gets a copy.
    const SystemError linkError = error;
    try {
      Copy copy(folderOf(target));
      copy.fill(target);
      error = copy.name(backup);
    } catch (const FileError& e) {
      throw FileError(
          messages::cannotKeepOriginal(backup, linkError, e.what()));
    }
  }
  FileVersion kept;
  if (const SystemError stateError = readVersion(backup, kept))
    throw FileError(
        messages::failed(messages::Step::kFindBackup, backup, stateError));
  // Made by this run or by another one that read the same file: a link, or
  // a copy with the file's time.
  if (kept.size == expected.size && kept.modified == expected.modified) {
    syncFolder(folderOf(target));
    return Kept::kKept;
  }
  return error ? Kept::kOtherBackup : Kept::kFileChanged;
}
