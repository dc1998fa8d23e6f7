// A layout file's replacement: checked, written beside it, and renamed over
// it once it is complete, its original kept.

#include "driver/replacement_file.h"

#include <algorithm>
#include <memory>
#include <tuple>

#include "driver/backup.h"
#include "driver/block_writer.h"
#include "driver/flusher.h"
#include "driver/memory.h"
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

void ReplacementFile::finishWriting() {
  if (!writer_) return;
  pending_.check(writer_->finish(), Step::kWrite);
  writer_.reset();
}

void ReplacementFile::flushSoon() {
  finishWriting();
  flushing_ = Flusher::shared().flush(pending_.file());
}

void ReplacementFile::flush() {
  finishWriting();
  const SystemError error =
      flushing_.valid() ? flushing_.get() : flushToDisk(pending_.file());
  pending_.check(error, Step::kFlush);
}

std::optional<Failure> ReplacementFile::commitAll(
    std::vector<Commit>& batch, Remembering& memory,
    std::optional<Record>* record) {
  if (batch.empty()) return std::nullopt;
  // Locked in the order of the files themselves, where the locks lie (the
  // name decides only between names of one file), so that two runs never
  // each wait for a lock that the other holds, whatever names they came by.
  std::vector<Commit*> order;
  order.reserve(batch.size());
  for (Commit& commit : batch) order.push_back(&commit);
  std::sort(order.begin(), order.end(), [](const Commit* a, const Commit* b) {
    const FileVersion& one = a->found.file;
    const FileVersion& other = b->found.file;
    return std::tie(one.device, one.index, a->file->target_) <
           std::tie(other.device, other.index, b->file->target_);
  });
  // Runs `step` for each file that has not failed; one that fails is told
  // what became of its backup.
  const auto forEach = [&](auto step) {
    for (Commit* commit : order) {
      if (commit->failure) continue;
      try {
        step(*commit);
      } catch (FileError& e) {
        commit->failure =
            commit->file->failed(std::move(e.failure()), commit->found.backup);
      }
    }
  };
  // What is to be written goes in the record before any file is renamed:
  // a file that is converted is never unknown to it. The record is flushed
  // with the new files; an entry whose file is then not renamed is put back
  // as it was, below.
  const std::string folder = folderOf(batch.front().file->target_);
  std::vector<RecordEntry> entries;
  std::vector<const Commit*> recorded;
  for (const Commit* commit : order) {
    entries.push_back({fileNameOf(commit->file->target_),
                       commit->file->written_.digest(),
                       commit->found.original});
    recorded.push_back(commit);
  }
  std::vector<std::optional<RecordEntry>> before;
  // The folder stays locked to the end, and is locked before any file: two
  // runs in one folder never each hold a lock the other waits for.
  RecordUpdate update;
  if (record) update.startFrom(*record);
  std::optional<Failure> unrecorded =
      update.begin(folder, entries, {}, &before);
  if (!unrecorded) {
    // The memory is written beside the record, and flushed with it; where
    // it cannot be, the record and the backups still guard.
    MemoryUpdate remembering;
    std::optional<Failure> forgotten =
        remembering.begin(memory.folder, entries, &memory.held);
    forEach([](Commit& commit) {
      commit.file->flush();
      commit.file->checkAndKeep(commit.found);
    });
    unrecorded = update.finish();
    if (!forgotten) forgotten = remembering.finish();
    if (forgotten && !memory.failed) memory.failed = std::move(forgotten);
  }
  if (unrecorded) {
    forEach([&](Commit& commit) {
      commit.unrecorded = true;
      throw FileError(*unrecorded);
    });
    return unrecorded;
  }
  const Commit* kept = nullptr;
  for (const Commit* commit : order)
    if (!commit->failure && commit->file->made_ != Made::kNothing)
      kept = commit;
  if (kept) {
    const SystemError error = syncFolder(folder, kept->found.backup);
    forEach([&](const Commit& commit) {
      if (commit.file->made_ != Made::kNothing)
        check(error, Step::kFlushFolder, folder);
    });
  }
  forEach(
      [](const Commit& commit) { commit.file->replace(commit.found.file); });
  (void)syncFolder(folder, batch.front().file->target_);
  // A file that another program changed meanwhile, or that was not renamed
  // after all, is put back in the record as it was: it would otherwise be
  // judged as edited since a conversion that never happened.
  std::vector<RecordEntry> restored;
  std::vector<std::string> dropped;
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    if (!recorded[i]->failure) continue;
    if (i < before.size() && before[i])
      restored.push_back(*before[i]);
    else
      dropped.push_back(entries[i].name);
  }
  if (!restored.empty() || !dropped.empty())
    (void)update.amend(restored, dropped);
  return std::nullopt;
}

void ReplacementFile::checkAndKeep(const AsFound& expected) {
  lockFile(held_, target_);
  checkUnchanged(expected.file);
  if (!expected.keepOriginal) {
    FileVersion now;
    if (readVersion(expected.backup, now, Links::kRefuse) ||
        now != expected.backupFile)
      throw FileError(
          failureOf(Failure::Kind::kBackupChanged, expected.backup, target_));
  }
  if (expected.keepOriginal) {
    const Kept kept = keepOriginal(target_, expected.file, expected.backup);
    if (kept == Kept::kOtherBackup)
      throw FileError(
          failureOf(Failure::Kind::kBackupAppeared, expected.backup, target_));
    made_ = Made::kBackup;
    if (kept == Kept::kFileChanged) failChanged();
  } else if (expected.replaceBackup) {
    const Kept kept = replaceOriginal(target_, expected.file, expected.backup);
    made_ = Made::kBackupReplaced;
    if (kept != Kept::kKept) failChanged();
  }
}

Failure ReplacementFile::failed(Failure failure, const std::string& backup) {
  if (made_ == Made::kBackup) {
    // The backup made here goes again, and the failure says so.
    failure.backup = backup;
    failure.backupError = removeFile(backup);
    failure.madeBackup = failure.backupError ? Failure::MadeBackup::kNotRemoved
                                             : Failure::MadeBackup::kRemoved;
  } else if (made_ == Made::kBackupReplaced) {
    // The backup holds the file as it is now: it stays, and is its
    // original from now on.
    failure.backup = backup;
    failure.madeBackup = Failure::MadeBackup::kReplaced;
  }
  made_ = Made::kNothing;
  return failure;
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
}

void ReplacementFile::failChanged() {
  discard();
  throw FileError(failureOf(Failure::Kind::kChangedMeanwhile, target_));
}

bool ReplacementFile::discard() {
  // The writer's thread, and a flush, let go of the file first.
  if (writer_) writer_->abandon();
  if (flushing_.valid()) flushing_.wait();
  return pending_.discard();
}
