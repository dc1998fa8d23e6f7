// One layout file's story: found, judged, converted in place or put back
// from its backup, and told; a run's files committed in batches.

#include "driver/layout_file.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "convert/content_hash.h"
#include "convert/layout_converter.h"
#include "driver/arguments.h"
#include "driver/backup.h"
#include "driver/console.h"
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

}  // namespace

// A file converted into its new file, waiting to be committed with the
// others of its folder.
struct LayoutRun::Prepared {
  std::unique_ptr<ReplacementFile> out;
  AsFound found;
  Ruling ruling;
  std::unique_ptr<ChangeReport> report;
  ChangeCounts changes;
};

// One file of a run, with what is told of it until its batch is done.
struct LayoutRun::Item {
  const NamedFile* file = nullptr;
  bool nameIsAPattern = false;
  HeldLines lines;
  std::optional<Outcome> outcome;  // ended before its commit
  Prepared prepared;
};

// Each new file of a batch may be named from the start, and covered against
// signals until it is renamed.
static_assert(LayoutRun::kBatch + 8 <= SignalCleanup::kMost);

LayoutRun::LayoutRun(const std::string& home, const Options& options,
                     std::size_t files)
    : home_(home),
      options_(options),
      batched_(files > 1 && !options.preview && !options.restore),
      report_(options, files) {}

LayoutRun::~LayoutRun() = default;

const Record& LayoutRun::recordIn(const std::string& folder) {
  if (!record_ || recordFolder_ != folder) {
    record_ = Record::read(folder);
    recordFolder_ = folder;
    report_.recordRead(*record_);
  }
  return *record_;
}

void LayoutRun::handle(const NamedFile& file, bool nameIsAPattern) {
  auto item = std::make_unique<Item>();
  item->file = &file;
  item->nameIsAPattern = nameIsAPattern;
  if (batched_) item->lines.hold();
  current_ = item.get();
  if (options_.restore)
    item->outcome = restore(file);
  else
    item->outcome = convertLayoutFile(*item);
  current_ = nullptr;
  item->lines.stop();
  items_.push_back(std::move(item));
  if (!batched_ || items_.size() >= kBatch) commitBatch();
}

std::vector<Outcome> LayoutRun::finish() {
  commitBatch();
  return std::move(outcomes_);
}

void LayoutRun::commitFirst() {
  // The files before this one are told first.
  current_->lines.stop();
  commitBatch();
  current_->lines.hold();
}

bool LayoutRun::pendingHolds(const FileVersion& state) const {
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out && item->prepared.found.file.sameFile(state))
      return true;
  return false;
}

bool LayoutRun::inAnotherFolder(const std::string& folder) const {
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out)
      return folderOf(item->prepared.out->target()) != folder;
  return false;
}

Outcome LayoutRun::failedWith(Failure failure, Prepared& prepared,
                              const std::string& path) {
  ReplacementFile* out = prepared.out.get();
  if (out && !out->discard() && !failure.changed())
    failure.leftBehind = out->tempPath();
  prepared.out.reset();
  return report_.failed(path, std::move(failure));
}

void LayoutRun::commitBatch() {
  std::vector<Commit> batch;
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out)
      batch.push_back({item->prepared.out.get(), item->prepared.found, {}});
  const std::optional<Failure> recordFailure =
      ReplacementFile::commitAll(batch);
  // What this run wrote is in the record now.
  if (!batch.empty()) record_.reset();
  std::size_t next = 0;
  bool toldRecord = false;
  for (const std::unique_ptr<Item>& item : items_) {
    item->lines.tell();
    Prepared& prepared = item->prepared;
    if (prepared.out) {
      const Commit& commit = batch[next++];
      const std::string& path = item->file->path;
      if (commit.failure) {
        item->outcome = failedWith(*commit.failure, prepared, path);
      } else {
        prepared.report->finish(prepared.changes);
        item->outcome = report_.made(path, prepared.changes,
                                     prepared.found.backup, prepared.ruling);
        // Told once a batch, whose files it was to hold.
        if (recordFailure && !std::exchange(toldRecord, true))
          report_.recordNotUpdated(*recordFailure);
      }
      prepared.out.reset();
    }
    if (item->nameIsAPattern) report_.tookNamedAsPattern(item->outcome->path);
    outcomes_.push_back(std::move(*item->outcome));
  }
  items_.clear();
}

std::optional<Outcome> LayoutRun::convertLayoutFile(Item& item) {
  const NamedFile& file = *item.file;
  const std::string& path = file.path;
  SystemFile in;
  FileVersion state;
  SystemError error = openForReading(path, in, state, Links::kOwned);
  // Named twice: the first is replaced before the second is read.
  if (!error && pendingHolds(state)) {
    in.close();
    commitFirst();
    error = openForReading(path, in, state, Links::kOwned);
  }
  report_.begin(path);
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
  return convert(in, state, item);
}

// Streams the open layout file through the converter into its replacement,
// which takes its place only once all of it is converted and on disk, at
// the commit of its batch; the first conversion keeps the original, and a
// new original takes the place of the old. A file is judged by its backup
// and its folder's record first, and converted only as its verdict rules.
std::optional<Outcome> LayoutRun::convert(SystemFile& in,
                                          const FileVersion& state,
                                          Item& item) {
  const NamedFile& file = *item.file;
  const std::string& path = file.path;
  Prepared& prepared = item.prepared;
  try {
    const std::string target = replacedFile(path);
    const std::string folder = folderOf(target);
    // A batch is of one folder.
    if (inAnotherFolder(folder)) commitFirst();
    AsFound& found = prepared.found;
    found.file = state;
    found.backup = backupOf(target);
    Evidence evidence(in, state, path, found.backup, recordIn(folder));
    const Verdict verdict =
        evidence.judgeConversion({options_.update, file.byName});
    const Ruling ruling = rulingOf(verdict, false);
    Outcome told = report_.told(verdict, path, found.backup, evidence.facts(),
                                evidence.backupError());
    if (!ruling.convert) return told;
    found.backupFile = evidence.backupState();
    found.keepOriginal = ruling.keepOriginal;
    found.replaceBackup = ruling.replaceBackup;
    prepared.ruling = ruling;
    // The exceptions go by the file's bare name, whatever folder it is in.
    const std::string name = fileNameOf(path);
    const std::size_t blockSize = blockSizeFor(state.size);
    if (options_.preview) {
      ChangeReport report = report_.changeReport(path);
      // Everything but the writing.
      DiscardingSink discarded(blockSize);
      LayoutConverter converter(discarded, name, &report);
      convertFile(in, path, blockSize, converter);
      report.finish(converter.changes());
      return report_.wouldBeMade(path, converter.changes(), ruling);
    }
    // What a stopped run left is looked for once a folder.
    if (cleaned_.insert(folder).second) removeLeftovers(folder);
    prepared.out = std::make_unique<ReplacementFile>(target, blockSize);
    // Told of cuts alone: on every changed line, the conversion took 5% more
    // instructions (callgrind, 4 MB).
    prepared.report =
        std::make_unique<ChangeReport>(report_.changeReport(path));
    LayoutConverter converter(*prepared.out, name, prepared.report.get(),
                              LayoutConverter::Told::kCuts);
    ContentHash original;
    convertFile(in, path, blockSize, converter, &original);
    found.original = original.digest();
    prepared.changes = converter.changes();
    if (batched_)
      prepared.out->flushSoon();
    else
      prepared.out->finishWriting();
    // Windows replaces no open file.
    in.close();
    return std::nullopt;
  } catch (const ConversionError& e) {
    BadValue bad{e.line(), e.kind(), e.property(), e.value()};
    // Notepad's "Unicode": told in words a player can act on.
    if (e.kind() == ConversionError::Kind::kNulByte && savedAsUtf16(in))
      bad.kind = ConversionError::Kind::kSavedAsUtf16;
    // A replacement that could not be made has cleaned up after itself.
    std::string leftBehind;
    if (prepared.out && !prepared.out->discard())
      leftBehind = prepared.out->tempPath();
    prepared.out.reset();
    return report_.badValue(path, bad, leftBehind);
  } catch (const FileError& e) {
    return failedWith(e.failure(), prepared, path);
  }
}

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup; only where the
// file is that original converted, or its bytes, or missing.
Outcome LayoutRun::restore(const NamedFile& file) {
  const std::string& path = file.path;
  report_.begin(path);
  std::string target;
  if (resolveLinks(path, target)) target = path;  // gone: the link
  const std::string backup = backupOf(target);
  try {
    FileLock held;
    lockFile(held, target);
    Evidence evidence(path, target, backup, recordIn(folderOf(target)));
    const Verdict verdict = evidence.judgeRestore();
    const auto told = [&] {
      return report_.told(verdict, path, backup, evidence.facts(),
                          evidence.backupError());
    };
    if (verdict != Verdict::kRestorable) return told();
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
