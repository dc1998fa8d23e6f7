// One layout file's story: found, compared with its backup, converted in
// place or put back from that backup, and told.

#include "driver/layout_file.h"

#include <algorithm>
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
  ChangeReport(const std::string& path, bool preview)
      : path_(path), preview_(preview) {}
  void changed(const ValueChange& change) override {
    if (preview_) say(messages::wouldChange(change));
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

// Streams the open layout file through the converter into its replacement,
// which takes its place only once all of it is converted and on disk; the
// first conversion keeps the original. A file that has a backup is compared
// with it first, and converted only when it is that original.
Outcome convert(SystemFile& in, const FileVersion& state,
                const std::string& inputPath, bool preview) {
  std::optional<ReplacementFile> out;
  try {
    const std::string target = replacedFile(inputPath);
    Expected expected;
    expected.file = state;
    expected.backup = backupOf(target);
    const Standing standing = compareWithBackup(
        in, state, inputPath, expected.backup, expected.backupFile);
    if (standing == Standing::kConverted) {
      say(messages::alreadyConverted(expected.backup));
      return done(inputPath, true);
    }
    if (standing == Standing::kDifferent)
      return fail(
          messages::neitherOriginalNorConverted(inputPath, expected.backup),
          notDone(status::kNotConverted, inputPath, Why::kEdited));
    expected.keepOriginal = standing == Standing::kNoBackup;
    const std::size_t blockSize = blockSizeFor(state.size);
    if (preview) {
      ChangeReport report(inputPath, true);
      // Everything but the writing.
      DiscardingSink discarded(blockSize);
      LayoutConverter converter(discarded, &report);
      convertFile(in, inputPath, blockSize, converter);
      report.finish(converter.changes());
      say(messages::wouldBeMade(converter.changes()));
      return done(inputPath);
    }
    removeLeftovers(folderOf(target));
    out.emplace(target, blockSize);
    // Told of cuts alone: on every changed line, the conversion took 5% more
    // instructions (callgrind, 4 MB).
    ChangeReport report(inputPath, false);
    LayoutConverter converter(*out, &report, LayoutConverter::Told::kCuts);
    convertFile(in, inputPath, blockSize, converter);
    out->commit(in, expected);
    report.finish(converter.changes());
    say(messages::changesMade(converter.changes()));
    // Players delete what looks like clutter; this one must stay.
    if (expected.keepOriginal) say(messages::originalKept(expected.backup));
    return done(inputPath);
  } catch (const ConversionError& e) {
    BadValue bad{e.line(), e.kind(), e.property(), e.value()};
    // Notepad's "Unicode": told in words a player can act on.
    if (e.kind() == ConversionError::Kind::kNulByte && savedAsUtf16(in))
      bad.kind = ConversionError::Kind::kSavedAsUtf16;
    std::string error = messages::badValue(inputPath, bad);
    // A replacement that could not be made has cleaned up after itself.
    if (out && !out->discard()) error += messages::notRemoved(out->tempPath());
    Outcome outcome = notDone(status::kNotConverted, inputPath, Why::kBadValue);
    outcome.detail = std::move(bad);
    return fail(messages::leftUnchanged(error, inputPath), std::move(outcome));
  } catch (const FileError& e) {
    if (e.failure().changed()) {
      if (out) out->discard();
      return fail(messages::describe(e.failure()),
                  notDone(status::kNotConverted, inputPath, Why::kChanged));
    }
    Failure failure = e.failure();
    if (out && !out->discard()) failure.leftBehind = out->tempPath();
    const std::string message =
        messages::leftUnchanged(messages::describe(failure), inputPath);
    Outcome outcome = notDone(status::kNotConverted, inputPath, Why::kFailed);
    outcome.detail = std::move(failure);
    return fail(message, std::move(outcome));
  }
}

}  // namespace

Outcome convertLayoutFile(const NamedFile& file, const std::string& home,
                          const Options& options) {
  const std::string& path = file.path;
  SystemFile in;
  FileVersion state;
  const SystemError error = openForReading(path, in, state, Links::kOwned);
  say(messages::inputFileIs(path));
  // A backup converted would be moved twice once put back.
  const std::string& argument = file.argument;
  if (isBackupName(fileNameOf(argument)))
    return fail(
        messages::isABackup(path, argument.substr(0, argument.size() - 4)),
        notDone(status::kNotConverted, path, Why::kIsABackup));
  if (error) {
    say(messages::cannotOpenInputFile(path));
    const bool missing = error.isNotFound() && !isFullPath(argument);
    Outcome outcome = notDone(status::kCannotOpen, path, Why::kCannotOpen);
    outcome.detail = error;
    return fail(
        messages::cannotOpen(
            path, error, missing ? folderOf(layoutFilePath(home, "x")) : ""),
        outcome);
  }
  // The exceptions go by the file's bare name, whatever folder it is in.
  inputFileName = fileNameOf(path);
  return convert(in, state, path, options.preview);
}

namespace {

// Whether the layout file `target`, with its backup open as `original`, may
// be put back from it: it is missing, or the backup converted, or the same
// bytes. Tells when the two are one file already. Throws FileError.
bool mayRestore(const std::string& target, const std::string& backup,
                const FileVersion& backupState, bool& sameFile) {
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
  return standing == Standing::kConverted || standing == Standing::kOriginal;
}

}  // namespace

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup; only where the
// file is that original converted, or its bytes, or missing.
Outcome restoreLayoutFile(const NamedFile& file) {
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
    original.close();
    bool sameFile = false;
    if (!mayRestore(target, backup, backupState, sameFile)) {
      if (!sameFile)
        return fail(messages::notItsOriginal(path, backup),
                    notDone(status::kNotConverted, path, Why::kNotItsOriginal));
      // Left by a run stopped before its rename: the file is the original.
      say(messages::originalInPlace(path, backup));
      return done(path, true);
    }
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
