// One layout file's story: found, compared with its backup, converted in
// place or put back from that backup, and told.

#include "driver/layout_file.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "driver/arguments.h"
#include "driver/backup.h"
#include "driver/console.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"
#include "driver/record.h"
#include "driver/replacement_file.h"

namespace {

// A file not done: `message` told, and why in `outcome`.
Outcome fail(const std::string& message, Outcome outcome) {
  sayError(message);
  return outcome;
}

Outcome notDone(int status, const std::string& path, Why why) {
  Outcome outcome;
  outcome.status = status;
  outcome.path = path;
  outcome.why = why;
  return outcome;
}

Outcome done(const std::string& path, bool already = false) {
  Outcome outcome;
  outcome.path = path;
  outcome.already = already;
  return outcome;
}

// A line of what became of one file. A preview over many files tells each
// in one line, which names it.
void tell(const Options& options, const std::string& path,
          const std::string& line) {
  say(options.brief && options.preview ? messages::aboutFile(path, line)
                                       : line);
}

// Whether the file open as `in` begins as UTF-16 text does: with its
// byte-order mark, or with a NUL in every other byte. Leaves it anywhere.
bool savedAsUtf16(const SystemFile& in) {
  char start[64];
  std::size_t got = 0;
  if (rewindFile(in) || readSome(in, start, sizeof(start), got)) return false;
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(start[i]);
  };
  if (got >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) ||
                   (byte(0) == 0xFE && byte(1) == 0xFF)))
    return true;
  if (got < 8) return false;
  for (std::size_t nul = 0; nul < 2; ++nul) {
    bool alternates = true;
    for (std::size_t i = 0; i + 1 < got && alternates; i += 2)
      alternates = (byte(i + nul) == 0) && (byte(i + 1 - nul) != 0);
    if (alternates) return true;
  }
  return false;
}

// Tells the player of text that a rewrite cuts, the first few in full, and
// in a preview of every value that would change. A conversion's warnings
// wait until the file is replaced: one that fails has cut nothing.
class ChangeReport final : public ChangeListener {
 public:
  // `listed`: a preview's every value, told as it is found.
  ChangeReport(const std::string& path, bool preview, bool listed)
      : path_(path), preview_(preview), listed_(listed) {}
  void changed(const ValueChange& change) override {
    if (listed_) say(messages::wouldChange(change));
    if (change.cut.empty() || ++told_ > kToldInFull) return;
    if (preview_)
      sayWarning(messages::textCut(path_, change));
    else
      held_.push_back(messages::textCut(path_, change));
  }
  // Once the file is converted with `changes`: the warnings held, and how
  // many more lines lost text.
  void finish(const ChangeCounts& changes) const {
    for (const std::string& warning : held_) sayWarning(warning);
    if (changes.cut > kToldInFull)
      sayWarning(messages::moreTextCut(path_, changes.cut - kToldInFull));
  }

 private:
  static constexpr std::size_t kToldInFull = 5;
  const std::string& path_;
  bool preview_;
  bool listed_;
  std::size_t told_ = 0;
  std::vector<std::string> held_;
};

// What a preview converts into: nothing is kept.
class DiscardingSink final : public BufferedSink {
 public:
  using BufferedSink::BufferedSink;

 private:
  void write(const char* /*data*/, std::size_t /*size*/) override {}
};

// The folder's record, told once in a run where it is not trusted.
Record recordOf(const std::string& folder) {
  Record record = Record::read(folder);
  if (record.state() == Record::State::kIgnored && !toldIgnoredBefore(folder))
    sayWarning(messages::recordIgnored(record.path()));
  return record;
}

// What to do with a layout file, judged from its backup and its folder's
// record before anything is written.
struct Judged {
  std::optional<Outcome> ended;  // nothing to write: what became of it
  bool noBackup = false;         // the first conversion: keep the original
  bool newOriginal = false;      // kept in place of its backup, converted
};

Judged judge(const SystemFile& in, const FileVersion& state,
             const NamedFile& file, const std::string& target,
             const Options& options, const Record& record, Expected& expected) {
  const std::string& path = file.path;
  const std::string& backup = expected.backup;
  const Standing standing =
      compareWithBackup(in, state, path, backup, expected.backupFile);
  Judged judged;
  if (standing == Standing::kConverted) {
    tell(options, path, messages::alreadyConverted(backup));
    judged.ended = done(path, true);
    return judged;
  }
  judged.noBackup = standing == Standing::kNoBackup;
  const RecordEntry* entry = record.find(fileNameOf(target));
  // Bytes that hudconv wrote, whatever became of the backup.
  if (entry && standing != Standing::kSameFile &&
      holdsDigest(in, state.size, path, entry->written)) {
    tell(options, path,
         standing == Standing::kNoBackup
             ? messages::alreadyConvertedBackupGone(backup)
             : messages::alreadyConvertedBackupNotItsOriginal(backup));
    judged.ended = done(path, true);
    return judged;
  }
  // A file named by itself with --update is taken as its new original also
  // where it cannot be judged one.
  const bool named = options.update && file.byName;
  if (judged.noBackup) {
    // Converted once, and neither what was written nor its original now:
    // without the backup, a file tuned by hand and a game update's look
    // alike, and neither may move twice.
    if (entry && !holdsDigest(in, state.size, path, entry->original) && !named)
      judged.ended = fail(messages::changedSinceConversion(path, backup, true),
                          notDone(status::kNotConverted, path, Why::kEdited));
    return judged;
  }
  if (standing != Standing::kDifferent) return judged;
  const DriftReport drift =
      judgeAgainstBackup(in, state, path, backup, expected.backupFile);
  if (drift.drift == Drift::kTuned) {
    tell(options, path, messages::tunedKept(drift.changedValues));
    Outcome kept = done(path, true);
    kept.why = Why::kTuned;
    judged.ended = std::move(kept);
  } else if (drift.drift == Drift::kNewOriginal && !options.update) {
    judged.ended =
        fail(messages::newOriginal(path),
             notDone(status::kNotConverted, path, Why::kNewOriginal));
  } else if (drift.drift == Drift::kChanged && !named) {
    judged.ended = fail(messages::changedSinceConversion(path, backup, false),
                        notDone(status::kNotConverted, path, Why::kEdited));
  } else {
    judged.newOriginal = true;
  }
  return judged;
}

// What a conversion changed, and what it kept. Players delete what looks
// like clutter, and the backups must stay: a run over many files tells a
// line of each, and why the backups matter once.
void tellMade(const ChangeCounts& changes, const Expected& expected,
              const Options& options) {
  if (options.brief) {
    say(messages::madeKeeping(changes, expected.backup, expected.keepOriginal,
                              expected.replaceBackup));
    static bool explained = false;
    if (expected.keepOriginal && !std::exchange(explained, true))
      say(messages::kBackupsExplained);
    return;
  }
  say(messages::changesMade(changes));
  if (expected.keepOriginal) say(messages::originalKept(expected.backup));
  if (expected.replaceBackup) say(messages::newOriginalKept(expected.backup));
}

// A file converted into its new file, waiting to be committed with the
// others of its folder.
struct Prepared {
  std::unique_ptr<ReplacementFile> out;
  Expected expected;
  std::unique_ptr<ChangeReport> report;
  ChangeCounts changes;
};

// What became of a file whose replacement failed with `failure`.
Outcome failedWith(Failure failure, ReplacementFile* out,
                   const std::string& path) {
  if (failure.changed()) {
    if (out) out->discard();
    return fail(messages::describe(failure),
                notDone(status::kNotConverted, path, Why::kChanged));
  }
  if (out && !out->discard()) failure.leftBehind = out->tempPath();
  const std::string message =
      messages::leftUnchanged(messages::describe(failure), path);
  Outcome outcome = notDone(status::kNotConverted, path, Why::kFailed);
  outcome.detail = std::move(failure);
  return fail(message, std::move(outcome));
}

}  // namespace

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
      batched_(files > 1 && !options.preview && !options.restore) {}

LayoutRun::~LayoutRun() = default;

const Record& LayoutRun::recordIn(const std::string& folder) {
  if (!record_ || recordFolder_ != folder) {
    record_ = recordOf(folder);
    recordFolder_ = folder;
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
    if (item->prepared.out && item->prepared.expected.file.sameFile(state))
      return true;
  return false;
}

bool LayoutRun::inAnotherFolder(const std::string& folder) const {
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out)
      return folderOf(item->prepared.out->target()) != folder;
  return false;
}

void LayoutRun::commitBatch() {
  std::vector<Commit> batch;
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out)
      batch.push_back({item->prepared.out.get(), item->prepared.expected, {}});
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
        item->outcome = failedWith(*commit.failure, prepared.out.get(), path);
      } else {
        prepared.report->finish(prepared.changes);
        tellMade(prepared.changes, prepared.expected, options_);
        // Told once a batch, whose files it was to hold.
        if (recordFailure && !std::exchange(toldRecord, true))
          sayWarning(messages::recordNotUpdated(*recordFailure));
        item->outcome = done(path);
      }
      prepared.out.reset();
    }
    if (item->nameIsAPattern)
      say(messages::tookFileNamedAsPattern(item->outcome->path));
    outcomes_.push_back(std::move(*item->outcome));
  }
  items_.clear();
}

// Streams the open layout file through the converter into its replacement,
// which takes its place only once all of it is converted and on disk, at
// the commit of its batch; the first conversion keeps the original, and a
// new original takes the place of the old. A file is judged by its backup
// and its folder's record first, and converted only when it is an original.
std::optional<Outcome> LayoutRun::convert(SystemFile& in,
                                          const FileVersion& state,
                                          Item& item) {
  const NamedFile& file = *item.file;
  const Options& options = options_;
  const std::string& inputPath = file.path;
  Prepared& prepared = item.prepared;
  try {
    const std::string target = replacedFile(inputPath);
    const std::string folder = folderOf(target);
    // A batch is of one folder.
    if (inAnotherFolder(folder)) commitFirst();
    Expected& expected = prepared.expected;
    expected.file = state;
    expected.backup = backupOf(target);
    const Judged judged =
        judge(in, state, file, target, options, recordIn(folder), expected);
    if (judged.ended) return *judged.ended;
    expected.keepOriginal = judged.noBackup;
    expected.replaceBackup = judged.newOriginal;
    if (judged.newOriginal && !options.brief)
      say(messages::takenAsNewOriginal(options.preview));
    const std::size_t blockSize = blockSizeFor(state.size);
    if (options.preview) {
      ChangeReport report(inputPath, true, !options.brief);
      // Everything but the writing.
      DiscardingSink discarded(blockSize);
      LayoutConverter converter(discarded, &report);
      convertFile(in, inputPath, blockSize, converter);
      report.finish(converter.changes());
      if (options.brief)
        tell(options, inputPath,
             messages::wouldBeMadeBriefly(converter.changes(),
                                          judged.newOriginal));
      else
        say(messages::wouldBeMade(converter.changes()));
      return done(inputPath);
    }
    // What a stopped run left is looked for once a folder.
    if (cleaned_.insert(folder).second) removeLeftovers(folder);
    prepared.out = std::make_unique<ReplacementFile>(target, blockSize);
    // Told of cuts alone: on every changed line, the conversion took 5% more
    // instructions (callgrind, 4 MB).
    prepared.report = std::make_unique<ChangeReport>(inputPath, false, false);
    LayoutConverter converter(*prepared.out, prepared.report.get(),
                              LayoutConverter::Told::kCuts);
    ContentHash original;
    convertFile(in, inputPath, blockSize, converter, &original);
    expected.original = original.digest();
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
    std::string error = messages::badValue(inputPath, bad);
    // A replacement that could not be made has cleaned up after itself.
    if (prepared.out && !prepared.out->discard())
      error += messages::notRemoved(prepared.out->tempPath());
    prepared.out.reset();
    Outcome outcome = notDone(status::kNotConverted, inputPath, Why::kBadValue);
    outcome.detail = std::move(bad);
    return fail(messages::leftUnchanged(error, inputPath), std::move(outcome));
  } catch (const FileError& e) {
    Outcome outcome = failedWith(e.failure(), prepared.out.get(), inputPath);
    prepared.out.reset();
    return outcome;
  }
}

std::optional<Outcome> LayoutRun::convertLayoutFile(Item& item) {
  const NamedFile& file = *item.file;
  const std::string& path = file.path;
  const Options& options = options_;
  SystemFile in;
  FileVersion state;
  SystemError error = openForReading(path, in, state, Links::kOwned);
  // Named twice: the first is replaced before the second is read.
  if (!error && pendingHolds(state)) {
    in.close();
    commitFirst();
    error = openForReading(path, in, state, Links::kOwned);
  }
  // A preview over many files tells each in one line.
  if (!(options.brief && options.preview)) say(messages::inputFileIs(path));
  // A backup converted would be moved twice once put back.
  const std::string& argument = file.argument;
  if (isBackupName(fileNameOf(argument)))
    return fail(
        messages::isABackup(path, argument.substr(0, argument.size() - 4)),
        notDone(status::kNotConverted, path, Why::kIsABackup));
  if (isRecordName(fileNameOf(argument)))
    return fail(messages::isARecord(path),
                notDone(status::kNotConverted, path, Why::kIsARecord));
  if (error) {
    say(messages::cannotOpenInputFile(path));
    const bool missing = error.isNotFound() && !isFullPath(argument);
    Outcome outcome = notDone(status::kCannotOpen, path, Why::kCannotOpen);
    outcome.detail = error;
    return fail(
        messages::cannotOpen(
            path, error, missing ? folderOf(layoutFilePath(home_, "x")) : ""),
        outcome);
  }
  // The exceptions go by the file's bare name, whatever folder it is in.
  inputFileName = fileNameOf(path);
  return convert(in, state, item);
}

namespace {

// Whether the layout file `target`, with its backup open as `original`, may
// be put back from it: it is missing, or the backup converted, or the same
// bytes. Tells when the two are one file already, and otherwise what the
// file became since its conversion. Throws FileError.
bool mayRestore(const std::string& target, const std::string& backup,
                const FileVersion& backupState, bool& sameFile, Drift& drift) {
  SystemFile file;
  FileVersion state;
  const SystemError error = openForReading(target, file, state);
  if (error.isNotFound()) return true;
  check(error, Step::kRead, target);
  inputFileName = fileNameOf(target);
  FileVersion compared;
  const Standing standing =
      compareWithBackup(file, state, target, backup, compared);
  if (compared != backupState)
    throw FileError(failureOf(Failure::Kind::kBackupChanged, backup, target));
  sameFile = standing == Standing::kSameFile;
  if (standing == Standing::kDifferent)
    drift = judgeAgainstBackup(file, state, target, backup, compared).drift;
  return standing == Standing::kConverted || standing == Standing::kOriginal;
}

}  // namespace

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup; only where the
// file is that original converted, or its bytes, or missing.
Outcome LayoutRun::restore(const NamedFile& file) {
  const std::string& path = file.path;
  say(messages::inputFileIs(path));
  std::string target;
  if (resolveLinks(path, target)) target = path;  // gone: the link
  const std::string backup = backupOf(target);
  try {
    FileLock held;
    lockFile(held, target);
    SystemFile original;
    FileVersion backupState;
    const SystemError error = openBackup(backup, original, backupState);
    if (error.isNotFound())
      return fail(messages::noBackup(path, backup, error),
                  notDone(status::kCannotOpen, path, Why::kNoBackup));
    checkBackupOpened(error, path, backup);
    // What hudconv wrote is no original, whatever its name.
    const RecordEntry* entry =
        recordIn(folderOf(target)).find(fileNameOf(target));
    if (entry &&
        holdsDigest(original, backupState.size, backup, entry->written))
      return fail(messages::backupIsConverted(path, backup),
                  notDone(status::kNotConverted, path, Why::kBackupConverted));
    original.close();
    bool sameFile = false;
    Drift drift = Drift::kChanged;
    if (!mayRestore(target, backup, backupState, sameFile, drift)) {
      if (!sameFile)
        return fail(messages::notItsOriginal(path, backup, drift),
                    notDone(status::kNotConverted, path, Why::kNotItsOriginal));
      // Left by a run stopped before its rename: the file is the original.
      say(messages::originalInPlace(path, backup));
      return done(path, true);
    }
    // A file marked read-only is never replaced, by a conversion or here.
    InheritedAttributes attributes;
    if (!readAttributes(target, attributes) && attributes.readOnly)
      throw FileError(failureOf(Failure::Kind::kReadOnly, target));
    if (const SystemError renamed = renameOver(backup, target)) {
      Outcome outcome =
          notDone(status::kNotConverted, path, Why::kCannotPutBack);
      outcome.detail = renamed;
      return fail(messages::cannotRestore(
                      path, messages::cannotPutBack(backup, renamed)),
                  outcome);
    }
    (void)syncFolder(folderOf(target), target);
  } catch (const FileError& e) {
    Outcome outcome = notDone(status::kNotConverted, path, Why::kFailed);
    outcome.detail = e.failure();
    return fail(messages::cannotRestore(path, messages::describe(e.failure())),
                std::move(outcome));
  }
  say(messages::restored(backup));
  return done(path);
}
