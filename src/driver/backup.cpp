#include "driver/backup.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "convert/layout_converter.h"
#include "driver/layout_file.h"

namespace {

// Reads until `size` bytes are in, or the file ends.
int readFull(const SystemFile& file, char* data, std::size_t size,
             std::size_t& got) {
  got = 0;
  while (got < size) {
    std::size_t piece = 0;
    if (const int code = readSome(file, data + got, size - got, piece))
      return code;
    if (piece == 0) break;
    got += piece;
  }
  return 0;
}

void rewind(const SystemFile& file, const std::string& path) {
  if (const int code = rewindFile(file))
    throw FileError(failureText("cannot read", path, code));
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
    if (const int code = readFull(file_, read_.get(), size, got))
      throw FileError(failureText("cannot read", path_, code));
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
    if (const int code = readFull(one, oneBlock.get(), blockSize, oneGot))
      throw FileError(failureText("cannot read", onePath, code));
    if (const int code = readFull(other, otherBlock.get(), blockSize, otherGot))
      throw FileError(failureText("cannot read", otherPath, code));
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
    if (const int code = createTemporary(folder_, file_, path_))
      throw FileError(
          failureText("cannot create a temporary file in", folder_, code));
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
    FileState state;
    if (const int code = openForReading(target, in, state))
      throw FileError(failureText("cannot read", target, code));
    FileFacts facts;
    if (const int code = readFacts(target, facts))
      throw FileError(
          failureText("cannot read the attributes of", target, code));
    check("cannot set the permissions of", keepFacts(file_, facts));
    const std::size_t blockSize = blockSizeFor(state.size);
    const std::unique_ptr<char[]> block(new char[blockSize]);
    for (;;) {
      std::size_t got = 0;
      if (const int code = readSome(in, block.get(), blockSize, got))
        throw FileError(failureText("cannot read", target, code));
      if (got == 0) break;
      check("cannot write", writeAll(file_, block.get(), got));
    }
    check("cannot set the time of", setModified(file_, state));
    check("cannot flush", flushToDisk(file_));
  }

  // Names the copy `name`, unless that is taken: then returns the code that
  // says so.
  int name(const std::string& name) {
    check("cannot name", keepTemporary(file_, folder_, path_));
    check("cannot close", file_.close());
    const int code = renameNoReplace(path_, name);
    if (code != 0 && !isAlreadyThere(code))
      throw FileError("cannot rename " + path_ + " to " + name + ": " +
                      errorText(code));
    named_ = code == 0;
    return code;
  }

 private:
  void check(const char* what, int code) const {
    if (code != 0)
      throw FileError(failureText(
          what, path_.empty() ? "the temporary file in " + folder_ : path_,
          code));
  }

  std::string folder_, path_;
  SystemFile file_;
  bool named_ = false;
};

}  // namespace

std::string backupOf(const std::string& target) { return target + ".bak"; }

Standing compareWithBackup(const SystemFile& in, const FileState& state,
                           const std::string& path, const std::string& backup) {
  SystemFile original;
  FileState originalState;
  const int code = openForReading(backup, original, originalState);
  if (isNotFound(code)) return Standing::kNoBackup;
  if (code != 0)
    throw FileError(failureText("cannot read the backup", backup, code));
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

Kept keepOriginal(const std::string& target, const FileState& expected,
                  const std::string& backup) {
  int code = linkFile(target, backup);
  if (code != 0 && !isAlreadyThere(code)) {
    // A file system without hard links (FAT, exFAT) gets a copy.
    const int linkCode = code;
    try {
      Copy copy(folderOf(target));
      copy.fill(target);
      code = copy.name(backup);
    } catch (const FileError& e) {
      throw FileError("cannot keep the original as " + backup +
                      ": a second name: " + errorText(linkCode) +
                      "; a copy: " + e.what());
    }
  }
  FileState kept;
  if (const int stateCode = readState(backup, kept))
    throw FileError(failureText("cannot find the backup", backup, stateCode));
  // Made by this run or by another one that read the same file: a link, or
  // a copy with the file's time.
  if (kept.size == expected.size && kept.modified == expected.modified) {
    syncFolder(folderOf(target));
    return Kept::kKept;
  }
  return code == 0 ? Kept::kFileChanged : Kept::kOtherBackup;
}
