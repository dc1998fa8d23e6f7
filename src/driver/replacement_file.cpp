// A layout file's replacement: checked, written beside it, and renamed over
// it once it is complete, its original kept.

#include "driver/replacement_file.h"

#include <memory>

#include "driver/backup.h"
#include "driver/block_writer.h"
#include "driver/messages.h"
#include "driver/record.h"

std::string replacedFile(const std::string& path) {
  std::string target;
  check(resolveLinks(path, target), Step::kFind, path);
  return target;
}

InheritedAttributes checkReplaceable(const std::string& target) {
  InheritedAttributes attributes;
  check(readAttributes(target, attributes), Step::kReadAttributes, target);
  // A rename would not ask whether the file may be written; so ask first.
  if (attributes.readOnly)
    throw FileError(failureOf(Failure::Kind::kReadOnly, target));
  check(probeWriting(target), Step::kWrite, target);
  if (probeReplacing(target))
    throw FileError(failureOf(Failure::Kind::kNotReplaceable, target));
  std::string owner;
  if (!ownerIsKept(attributes, owner))
    throw FileError(failureOf(Failure::Kind::kOwnerWouldChange, target, owner));
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
  Failure failure = stepFailed(Step::kSetPermissions, pending_.name(), error);
  if (!discard()) failure.leftBehind = pending_.path();
  throw FileError(std::move(failure));
}

ReplacementFile::~ReplacementFile() { discard(); }

char* ReplacementFile::lend(std::size_t& size) {
  lent_ = writer_->lend(size);
  return lent_;
}

void ReplacementFile::take(std::size_t used) {
  written_.feed(lent_, used);
  pending_.check(writer_->take(used), Step::kWrite);
}

void ReplacementFile::finish() {
  pending_.check(writer_->finish(), Step::kWrite);
  pending_.check(flushToDisk(pending_.file()), Step::kFlush);
}

std::optional<Failure> ReplacementFile::commit(SystemFile& in,
                                               const Expected& expected) {
  finish();
  in.close();
  FileLock held;
  lockFile(held, target_);
  checkUnchanged(expected.file);
  if (!expected.keepOriginal) {
    FileVersion now;
    if (readVersion(expected.backup, now, Links::kRefuse) ||
        now != expected.backupFile)
      throw FileError(
          failureOf(Failure::Kind::kBackupChanged, expected.backup, target_));
  }
  if (expected.keepOriginal)
    keepOriginalAndReplace(expected);
  else if (expected.replaceBackup)
    replaceOriginalAndReplace(expected);
  else
    replace(expected.file);
  return updateRecord(
      folderOf(target_),
      {fileNameOf(target_), written_.digest(), expected.original});
}

void ReplacementFile::replaceOriginalAndReplace(const Expected& expected) {
  const std::string& backup = expected.backup;
  const Kept kept = replaceOriginal(target_, expected.file, backup);
  try {
    if (kept != Kept::kKept) failChanged();
    const std::string folder = folderOf(target_);
    check(syncFolder(folder, backup), Step::kFlushFolder, folder);
    replace(expected.file);
  } catch (FileError& e) {
    // The backup holds the file as it is now: it stays, and is its
    // original from now on.
    e.failure().backup = backup;
    e.failure().madeBackup = Failure::MadeBackup::kReplaced;
    throw;
  }
}

void ReplacementFile::keepOriginalAndReplace(const Expected& expected) {
  const std::string& backup = expected.backup;
  const Kept kept = keepOriginal(target_, expected.file, backup);
  if (kept == Kept::kOtherBackup)
    throw FileError(failureOf(Failure::Kind::kBackupAppeared, backup, target_));
  try {
    if (kept == Kept::kFileChanged) failChanged();
    const std::string folder = folderOf(target_);
    check(syncFolder(folder, backup), Step::kFlushFolder, folder);
    replace(expected.file);
  } catch (FileError& e) {
    // The backup made here goes again, and the error says so.
    Failure& failure = e.failure();
    failure.backup = backup;
    failure.backupError = removeFile(backup);
    failure.madeBackup = failure.backupError ? Failure::MadeBackup::kNotRemoved
                                             : Failure::MadeBackup::kRemoved;
    throw;
  }
}

void ReplacementFile::checkUnchanged(const FileVersion& expected) {
  // The last moment to find that another program wrote to the file; what it
  // wrote in the few microseconds until the rename would still be lost.
  FileVersion now;
  check(readVersion(target_, now), Step::kFind, target_);
  if (now != expected) failChanged();
}

void ReplacementFile::replace(const FileVersion& expected) {
  pending_.nameAndClose();
  if (const SystemError error = pending_.renameOver(target_)) {
    // Windows refuses the rename while another run holds the file; that run
    // may have replaced it meanwhile, and then it is not "unchanged".
    FileVersion now;
    if (!readVersion(target_, now) && now != expected) failChanged();
    pending_.check(error, Step::kRename);
  }
  (void)syncFolder(folderOf(target_), target_);
}

void ReplacementFile::failChanged() {
  discard();
  throw FileError(failureOf(Failure::Kind::kChangedMeanwhile, target_));
}

bool ReplacementFile::discard() {
  // The writer's thread lets go of the file first.
  writer_->abandon();
  return pending_.discard();
}
