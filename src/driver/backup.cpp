// The original that the first conversion keeps beside a layout file: where,
// and how it is kept.

#include "driver/backup.h"

#include <memory>
#include <string_view>

#include "convert/rule_table.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/pending_file.h"

namespace {

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

namespace {
constexpr std::string_view kBackupEnding = ".bak";
}  // namespace

std::string backupOf(const std::string& target) {
  return target + std::string(kBackupEnding);
}

std::string fileOfBackup(const std::string& backup) {
  return backup.substr(0, backup.size() - kBackupEnding.size());
}

bool isBackupOf(const std::string& backup, const std::string& target) {
  return backup.size() == target.size() + kBackupEnding.size() &&
         backup.compare(0, target.size(), target) == 0 &&
         backup.compare(target.size(), kBackupEnding.size(), kBackupEnding) ==
             0;
}

bool isBackupName(const std::string& name) {
  return name.size() >= kBackupEnding.size() &&
         sameFileName(
             std::string_view(name).substr(name.size() - kBackupEnding.size()),
             kBackupEnding);
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
