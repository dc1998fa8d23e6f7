// The original that the first conversion keeps beside a layout file: where,
// how it is kept, and what the file is next to it.

#include "driver/backup.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "convert/layout_converter.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/pending_file.h"

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
  check(rewindFile(file), Step::kRead, path);
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
    check(readFull(file_, read_.get(), size, got), Step::kRead, path_);
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
    check(readFull(one, oneBlock.get(), blockSize, oneGot), Step::kRead,
          onePath);
    check(readFull(other, otherBlock.get(), blockSize, otherGot), Step::kRead,
          otherPath);
    if (oneGot != otherGot ||
        std::memcmp(oneBlock.get(), otherBlock.get(), oneGot) != 0)
      return false;
    if (oneGot == 0) return true;
  }
}

// Keeps a copy of `target`, with its bytes, mode and time, as `backup`: in
// place of what is there where `replace`, and otherwise unless that name is
// taken: then returns the error that says so.
SystemError keepCopy(const std::string& target, const std::string& backup,
                     bool replace) {
  PendingFile copy(folderOf(target));
  SystemFile in;
  FileVersion state;
  check(openForReading(target, in, state), Step::kRead, target);
  InheritedAttributes attributes;
  check(readAttributes(target, attributes), Step::kReadAttributes, target);
  copy.check(inheritAttributes(copy.file(), attributes), Step::kSetPermissions);
  readBlocks(in, target, blockSizeFor(state.size),
             [&](const char* data, std::size_t size) {
               copy.check(writeAll(copy.file(), data, size), Step::kWrite);
             });
  copy.check(setModified(copy.file(), state), Step::kSetTime);
  copy.check(flushToDisk(copy.file()), Step::kFlush);
  copy.nameAndClose();
  const SystemError error =
      replace ? copy.renameOver(backup) : copy.renameNoReplace(backup);
  if (error && !error.isAlreadyThere())
    throw FileError(
        failureOf(Failure::Kind::kRenameTo, copy.path(), backup, error));
  return error;
}

std::string readWhole(const SystemFile& file, const std::string& path,
                      std::uint64_t size) {
  std::string text;
  text.reserve(static_cast<std::size_t>(size));
  readBlocks(
      file, path, blockSizeFor(size),
      [&](const char* data, std::size_t got) { text.append(data, got); });
  return text;
}

// Whether the backup made or replaced for `target`, read as `expected`,
// holds it: a link, or a copy with the file's time.
Kept keptAs(const std::string& backup, const FileVersion& expected,
            bool madeElsewhere) {
  FileVersion kept;
  const SystemError keptError = readVersion(backup, kept, Links::kRefuse);
  // Something else under that name, made meanwhile: never taken for it.
  if (keptError.source() == SystemError::Source::kNotARegularFile)
    return Kept::kOtherBackup;
  check(keptError, Step::kFindBackup, backup);
  if (kept.size == expected.size && kept.modified == expected.modified)
    return Kept::kKept;
  return madeElsewhere ? Kept::kOtherBackup : Kept::kFileChanged;
}

}  // namespace

std::string backupOf(const std::string& target) { return target + ".bak"; }

bool isBackupName(const std::string& name) {
  const std::string ending = ".bak";
  if (name.size() < ending.size()) return false;
  for (std::size_t i = 0; i < ending.size(); ++i) {
    const char c = name[name.size() - ending.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != ending[i]) return false;
  }
  return true;
}

SystemError openBackup(const std::string& backup, SystemFile& file,
                       FileVersion& state) {
  return openForReading(backup, file, state, Links::kRefuse);
}

void checkBackupOpened(const SystemError& error, const std::string& path,
                       const std::string& backup) {
  if (error.isNameTooLong())
    throw FileError(failureOf(Failure::Kind::kBackupNameTooLong, path, backup));
  if (error.source() == SystemError::Source::kNotARegularFile)
    throw FileError(failureOf(Failure::Kind::kNotABackup, backup, "", error));
  check(error, Step::kReadBackup, backup);
}

Standing compareWithBackup(const SystemFile& in, const FileVersion& state,
                           const std::string& path, const std::string& backup,
                           FileVersion& backupState) {
  SystemFile original;
  const SystemError error = openBackup(backup, original, backupState);
  if (error.isNotFound()) return Standing::kNoBackup;
  checkBackupOpened(error, path, backup);
  // One file under both names has two names. With one, another run has
  // converted the file since it was read here, and what was read is the
  // backup alone now; or, where the file is still there, the backup's name
  // led to it through a link that the system did not tell of.
  if (backupState.sameFile(state)) {
    if (backupState.names >= 2) return Standing::kSameFile;
    FileVersion now;
    if (readVersion(path, now) || !now.sameFile(state))
      throw FileError(failureOf(Failure::Kind::kChangedMeanwhile, path));
    throw FileError(failureOf(Failure::Kind::kNotABackup, backup, "",
                              SystemError::notARegularFile(EntryKind::kLink)));
  }
  const std::size_t blockSize =
      blockSizeFor(std::max(state.size, backupState.size));
  Standing standing = Standing::kDifferent;
  if (convertsInto(original, backup, in, path, blockSize)) {
    standing = Standing::kConverted;
  } else if (backupState.size == state.size) {
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
      error = keepCopy(target, backup, false);
    } catch (const FileError& e) {
      Failure failure =
          failureOf(Failure::Kind::kKeepOriginal, backup, "", linkError);
      failure.cause = std::make_shared<const Failure>(e.failure());
      throw FileError(std::move(failure));
    }
  }
  // Made by this run or by another one that read the same file: a link, or
  // a copy with the file's time.
  return keptAs(backup, expected, static_cast<bool>(error));
}

Kept replaceOriginal(const std::string& target, const FileVersion& expected,
                     const std::string& backup) {
  keepCopy(target, backup, true);
  return keptAs(backup, expected, false);
}

DriftReport judgeAgainstBackup(const SystemFile& in, const FileVersion& state,
                               const std::string& layout,
                               const std::string& backup,
                               const FileVersion& backupState) {
  // Far beyond any layout file; what is larger is not held in memory.
  constexpr std::uint64_t kLargest = std::uint64_t{64} << 20;
  if (state.size > kLargest || backupState.size > kLargest) return {};
  SystemFile original;
  FileVersion now;
  check(openBackup(backup, original, now), Step::kReadBackup, backup);
  if (now != backupState)
    throw FileError(failureOf(Failure::Kind::kBackupChanged, backup, layout));
  rewind(in, layout);
  const std::string file = readWhole(in, layout, state.size);
  rewind(in, layout);
  const std::string before = readWhole(original, backup, now.size);
  StringSink converted;
  LayoutConverter converter(converted);
  try {
    converter.feed(before.data(), before.size());
    converter.finish();
  } catch (const ConversionError&) {
    return {};  // it was never converted into anything
  }
  return judgeDrift(file, before, converted.text);
}
