// One layout file's story: found, judged, converted in place or put back
// from its backup, and told; a run's files committed in batches.

#include "driver/layout_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "convert/layout_converter.h"
#include "driver/arguments.h"
#include "driver/backup.h"
#include "driver/content_hash.h"
#include "driver/evidence.h"
#include "driver/file_steps.h"
#include "driver/judgement.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"
#include "driver/record.h"
#include "driver/replacement_file.h"

namespace {

// What a preview converts into: nothing is kept.
class DiscardingSink final : public BufferedSink {
 public:
  using BufferedSink::BufferedSink;

 private:
  void write(const char* /*data*/, std::size_t /*size*/) override {}
};

// Names are kept hashed (see hashOfName): two names that hash alike are
// taken for one, so that an entry is kept that need not be, or one gone is
// not dropped yet, and never the other way round.
std::size_t keyOf(std::string_view name) { return hashOfName(name); }

}  // namespace

LayoutRun::LayoutRun(const std::string& home, const Options& options,
                     std::size_t files)
    : home_(home),
      options_(options),
      batched_(files > 1 && !options.preview && !options.restore),
      batchSize_(batched_ ? Batch::mostFor(openFilesAllowed()) : 1),
      report_(options, files),
      // A preview writes nothing, the memory neither.
      batch_(
          report_, batched_,
          [this](const NamedFile& file) { return judgeAgain(file); },
          options.preview ? std::string() : Memory::ofThisPlayer()),
      memory_(Memory::ofThisPlayer()) {}

LayoutRun::~LayoutRun() {
  for (std::thread& cleaner : cleaners_) cleaner.join();
}

void LayoutRun::expect(const NamedFile& file) {
  expected_.insert(keyOf(fileNameOf(file.path)));
}

void LayoutRun::listed(std::shared_ptr<const Listing> listing) {
  listings_.push_back(std::move(listing));
}

Record& LayoutRun::recordIn(const std::string& folder) {
  if (recordFolder_ != folder) {
    recordUnrecorded();
    listed_ = false;
    there_.reset();
    const auto listing =
        std::find_if(listings_.begin(), listings_.end(),
                     [&](const auto& one) { return one->folder == folder; });
    // What a stopped run left is removed once in each folder visited,
    // whatever is done there; a preview writes nothing. A folder listed to
    // find files tells which of them are gone too; another is listed for
    // its leftovers meanwhile.
    const bool first = !options_.preview && cleaned_.insert(folder).second;
    if (listing != listings_.end() && !options_.preview) {
      const std::vector<FolderEntry>& entries = (*listing)->entries;
      if (first) removeLeftovers(folder, entries);
      there_.emplace();
      there_->reserve(entries.size());
      for (const FolderEntry& entry : entries)
        there_->insert(keyOf(entry.name));
    } else if (first) {
      cleaners_.push_back(startHelperThread([folder] {
        std::vector<FolderEntry> entries;
        if (!listFolder(folder, entries)) removeLeftovers(folder, entries);
      }));
    }
  }
  // The one a commit left may be of another folder.
  if (!record_ || recordFolder_ != folder ||
      record_->path() != pathIn(folder, kRecordName)) {
    recordFolder_ = folder;
    record_ = Record::read(
        folder, [this](std::string_view name) { return wants(name); });
    report_.recordRead(*record_);
  }
  return *record_;
}

bool LayoutRun::wants(std::string_view name) const {
  const std::size_t key = keyOf(name);
  if (expected_.contains(key)) return true;
  return there_ && !there_->contains(key) &&
         !there_->contains(keyOf(backupOf(std::string(name))));
}

std::vector<std::string> LayoutRun::goneEntries() const {
  std::vector<std::string> gone;
  // Each file handled asked the record for its entry; most runs handle
  // every recorded file, and look for none. Where the folder could not be
  // listed, none is gone.
  if (!listed_ || options_.preview || !record_ || !there_) return gone;
  for (const std::string& name : record_->notAskedFor())
    if (!there_->contains(keyOf(name)) &&
        !there_->contains(keyOf(backupOf(name))))
      gone.push_back(name);
  return gone;
}

void LayoutRun::handle(const NamedFile& file, bool nameIsAPattern) {
  Batch::Item& item = batch_.enter(file, nameIsAPattern);
  current_ = &item;
  if (options_.restore)
    item.outcome = restore(file);
  else
    item.outcome = convertLayoutFile(item);
  current_ = nullptr;
  item.lines.stop();
  if (!batched_ || batch_.files() >= batchSize_) commitBatch();
}

std::vector<Outcome> LayoutRun::finish() {
  commitBatch();
  recordUnrecorded();
  for (std::thread& cleaner : cleaners_) cleaner.join();
  cleaners_.clear();
  return std::move(outcomes_);
}

void LayoutRun::recordUnrecorded() {
  const std::vector<std::string> gone = goneEntries();
  if (unrecorded_.empty() && gone.empty()) return;
  // Where it cannot be written, the backups still guard, and the next run
  // tries again. The player's memory learns them too.
  (void)updateRecord(recordFolder_, unrecorded_, gone);
  if (std::optional<Failure> failed = remember(memory_.folder(), unrecorded_))
    report_.memoryNotWritten(*failed);
  unrecorded_.clear();
  record_.reset();
}

void LayoutRun::commitBatch(Batch::Item* current) {
  // What this run wrote is in the record now, which is kept as written.
  batch_.commit(outcomes_, current, &record_);
}

std::optional<Outcome> LayoutRun::convertLayoutFile(Batch::Item& item) {
  const NamedFile& file = *item.file;
  const std::string& path = file.path;
  SystemFile in;
  FileVersion state;
  SystemError error = openForReading(path, in, state, Links::kOwned);
  // Named twice: the first is replaced before the second is read. Too many
  // files open: the batch lets go of its own.
  if ((!error && batch_.replaces(state)) || freesFiles(error)) {
    in.close();
    commitBatch(current_);
    error = openForReading(path, in, state, Links::kOwned);
  }
  report_.announce(path);
  // A backup converted would be moved twice once put back.
  const std::string& argument = file.argument;
  if (isBackupName(fileNameOf(argument)))
    return report_.isABackup(path, argument);
  if (isRecordName(fileNameOf(argument))) return report_.isARecord(path);
  if (error) {
    const bool missing = error.isNotFound() && !isFullPath(argument);
    return report_.cannotOpen(
        path, error, missing ? folderOf(layoutFilePath(home_, "x")) : "");
  }
  for (bool again = false;; again = true) {
    try {
      return convert(in, state, item);
    } catch (const FileError& e) {
      if (again || !freesFiles(e.failure().error) || rewindFile(in))
        return Batch::failedWith(report_, e.failure(), item.prepared, path);
      // Nothing of it was written yet: it is tried once more.
      if (item.prepared.out) (void)item.prepared.out->discard();
      item.prepared.out.reset();
      item.prepared.report.reset();
      commitBatch(current_);
    } catch (const ConversionError& e) {
      BadValue bad{e.line(), e.kind(), e.property(), e.value()};
      // Notepad's "Unicode": told in words a player can act on.
      if (e.kind() == ConversionError::Kind::kNulByte && savedAsUtf16(in))
        bad.kind = ConversionError::Kind::kSavedAsUtf16;
      // A replacement that could not be made has cleaned up after itself.
      std::string leftBehind;
      Batch::Prepared& prepared = item.prepared;
      if (prepared.out && !prepared.out->discard())
        leftBehind = prepared.out->tempPath();
      prepared.out.reset();
      return report_.badValue(path, bad, leftBehind);
    }
  }
}

bool LayoutRun::freesFiles(const SystemError& error) const {
  // The one being handled is in the batch too.
  return error.isTooManyOpenFiles() && batch_.files() > 1;
}

// Streams the open layout file through the converter into its replacement,
// which takes its place only once all of it is converted and on disk, at
// the commit of its batch; the first conversion keeps the original, and a
// new original takes the place of the old. A file is judged by its backup
// and its folder's record first, and converted only as its verdict rules.
// Throws ConversionError and FileError.
std::optional<Outcome> LayoutRun::convert(SystemFile& in,
                                          const FileVersion& state,
                                          Batch::Item& item) {
  const NamedFile& file = *item.file;
  const std::string& path = file.path;
  Batch::Prepared& prepared = item.prepared;
  const std::string target = replacedFile(path);
  const std::string folder = folderOf(target);
  // A batch is of one folder.
  if (batch_.inAnotherFolder(folder)) commitBatch(current_);
  AsFound& found = prepared.found;
  found.file = state;
  found.backup = backupOf(target);
  Evidence evidence(in, state, path, found.backup, recordIn(folder), memory_);
  listed_ = listed_ || !file.byName;
  const Decision decision =
      evidence.judgeConversion({options_.update, file.byName});
  const Ruling& ruling = decision.ruling;
  Outcome told = report_.told(decision, path, found.backup, evidence.facts(),
                              evidence.backupError());
  // Converted by its backup and not in the record, as a run of an older
  // hudconv or a deleted record left it: the record learns it now.
  if (decision.verdict == Verdict::kAlreadyConverted && !options_.preview)
    if (std::optional<RecordEntry> entry = evidence.unrecorded())
      unrecorded_.push_back(std::move(*entry));
  if (!ruling.convert) return told;
  found.backupFile = evidence.backupState();
  found.keepOriginal = ruling.keepOriginal;
  found.replaceBackup = ruling.replaceBackup;
  prepared.ruling = ruling;
  // The exceptions go by the file's bare name, whatever folder it is in.
  const std::string name = fileNameOf(path);
  const std::size_t blockSize = blockSizeFor(state.size);
  if (ruling.keepConverted) {
    std::optional<Outcome> outcome = convertAround(evidence, item);
    in.close();  // Windows replaces no open file
    return outcome;
  }
  if (options_.preview) {
    ChangeReport report = report_.changeReport(path);
    // Everything but the writing.
    DiscardingSink discarded(blockSize);
    const ChangeCounts changes =
        convertFile(in, path, blockSize, discarded, name, &report);
    report.finish(changes);
    return report_.wouldBeMade(path, changes, ruling);
  }
  prepared.out = std::make_unique<ReplacementFile>(target, blockSize);
  // Told of cuts alone: on every changed line, the conversion took 5% more
  // instructions (callgrind, 4 MB).
  prepared.report = std::make_unique<ChangeReport>(report_.changeReport(path));
  ContentHash original(ContentHash::For::kNewEntry);
  prepared.changes = convertFile(in, path, blockSize, *prepared.out, name,
                                 prepared.report.get(),
                                 LayoutConverter::Told::kCuts, &original);
  found.original = original.digest();
  if (batched_)
    prepared.out->flushSoon();
  else
    prepared.out->finishWriting();
  // Windows replaces no open file.
  in.close();
  return std::nullopt;
}

// A file changed since its conversion, named with --update: converted in
// memory, where it was judged, but for the values hudconv wrote in it; its
// backup stays the original. Throws ConversionError and FileError.
std::optional<Outcome> LayoutRun::convertAround(Evidence& evidence,
                                                Batch::Item& item) {
  const std::string& path = item.file->path;
  Batch::Prepared& prepared = item.prepared;
  prepared.report = std::make_unique<ChangeReport>(report_.changeReport(path));
  Evidence::Around around = evidence.convertedAround(prepared.report.get());
  if (options_.preview) {
    prepared.report->finish(around.changes);
    return report_.wouldBeMade(path, around.changes, prepared.ruling);
  }
  const std::string target = replacedFile(path);
  prepared.out = std::make_unique<ReplacementFile>(
      target, blockSizeFor(around.text.size()));
  std::string_view text = around.text;
  while (!text.empty()) {
    std::size_t room = 0;
    char* into = prepared.out->lend(room);
    const std::size_t piece = std::min(room, text.size());
    std::memcpy(into, text.data(), piece);
    prepared.out->take(piece);
    text.remove_prefix(piece);
  }
  prepared.changes = around.changes;
  prepared.found.original = around.original;
  if (batched_)
    prepared.out->flushSoon();
  else
    prepared.out->finishWriting();
  return std::nullopt;
}

std::optional<Outcome> LayoutRun::judgeAgain(const NamedFile& file) {
  try {
    SystemFile in;
    FileVersion state;
    if (openForReading(file.path, in, state, Links::kOwned)) return {};
    const std::string backup = backupOf(replacedFile(file.path));
    Evidence evidence(in, state, file.path, backup,
                      recordIn(folderOf(fileOfBackup(backup))), memory_);
    const Decision decision =
        evidence.judgeConversion({options_.update, file.byName});
    const Verdict verdict = decision.verdict;
    if (verdict != Verdict::kAlreadyConverted &&
        verdict != Verdict::kConvertedBackupGone &&
        verdict != Verdict::kConvertedNotItsBackup)
      return {};
    return report_.told(decision, file.path, backup, evidence.facts(),
                        evidence.backupError());
  } catch (const FileError&) {
    return {};  // as it was found: changed during the conversion
  }
}

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup; only where the
// file is that original converted, or its bytes, or missing.
Outcome LayoutRun::restore(const NamedFile& file) {
  const std::string& path = file.path;
  report_.announce(path);
  std::string target;
  if (resolveLinks(path, target)) target = path;  // gone: the link
  const std::string backup = backupOf(target);
  try {
    FileLock held;
    lockFile(held, target);
    Evidence evidence(path, target, backup, recordIn(folderOf(target)),
                      memory_);
    listed_ = listed_ || !file.byName;
    const Decision decision = evidence.judgeRestore();
    const auto told = [&] {
      return report_.told(decision, path, backup, evidence.facts(),
                          evidence.backupError());
    };
    if (decision.verdict != Verdict::kRestorable) return told();
    // Windows renames no open file.
    evidence.close();
    // A file marked read-only is never replaced, by a conversion or here.
    InheritedAttributes attributes;
    if (!readAttributes(target, attributes) && attributes.readOnly)
      throw FileError(failureOf(Failure::Kind::kReadOnly, target));
    if (const SystemError renamed = renameOver(backup, target))
      return report_.cannotPutBack(path, backup, renamed);
    (void)syncFolder(folderOf(target), target);
    return told();
  } catch (const FileError& e) {
    return report_.cannotRestore(path, e.failure());
  }
}
