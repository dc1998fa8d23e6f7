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
#include "driver/platform.h"
#include "driver/replacement_file.h"

namespace {

Outcome fail(int status, const std::string& path, const std::string& message,
             const std::string& reason) {
  sayError(message);
  return {status, false, path, reason};
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

// A failure's message in a few words: the step and the system's reason
// ("cannot write: No space left on device"), or its first clause.
std::string inFewWords(const std::string& message) {
  std::string text = message.substr(0, message.find("; "));
  if (text.rfind("cannot ", 0) == 0) {
    const std::size_t verb = text.find(' ', 7);
    const std::size_t reason = text.rfind(": ");
    if (verb != std::string::npos && reason != std::string::npos)
      return text.substr(0, verb) + text.substr(reason);
  }
  return text.substr(0, std::min(text.find(", "), text.find(". ")));
}

// Removes the backup made for a replacement that then failed, and tells
// what became of it.
std::string removeKept(const std::string& backup) {
  const SystemError error = removeFile(backup);
  return error ? messages::backupNotRemoved(backup, error)
               : messages::backupRemoved(backup);
}

// Holds the lock of the layout file `target` while it is replaced or
// restored. Throws FileError.
void lock(FileLock& held, const std::string& target) {
  const SystemError error = held.lock(target);
  // A file that is gone has nothing to guard; the steps after tell of it.
  if (error && !error.isNotFound())
    throw FileError(messages::cannotLock(target, error));
}

// Puts the converted file in place of the layout file `target`, read in the
// state `state`, after keeping the original as `backup` where it has none;
// where it has one, the backup is still as it was found (`backupState`). The
// original is on disk before the rename, or nothing is renamed. A backup
// made here is removed again when the replacement fails after it, and the
// error says so. The steps run under the file's lock, so that another run of
// hudconv never comes between them.
void replaceKeepingOriginal(ReplacementFile& out, const std::string& target,
                            const FileVersion& state, Standing standing,
                            const std::string& backup,
                            const FileVersion& backupState) {
  out.finish();
  FileLock held;
  lock(held, target);
  out.checkUnchanged(state);
  if (standing != Standing::kNoBackup) {
    FileVersion now;
    if (readVersion(backup, now, Links::kRefuse) || now != backupState)
      throw FileChangedError(messages::backupChanged(backup, target));
    out.replace(state);
    return;
  }
  const Kept kept = keepOriginal(target, state, backup);
  if (kept == Kept::kOtherBackup)
    throw FileChangedError(messages::backupAppeared(backup, target));
  try {
    if (kept == Kept::kFileChanged)
      throw FileChangedError(messages::changedMeanwhile(target));
    const std::string folder = folderOf(target);
    check(syncFolder(folder, backup), messages::Step::kFlushFolder, folder);
    out.replace(state);
  } catch (const FileChangedError&) {
    throw FileChangedError(
        messages::changedMeanwhile(target, removeKept(backup)));
  } catch (const FileError& e) {
    throw FileError(std::string(e.what()) + "; " + removeKept(backup));
  }
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
  std::string error;
  std::string reason;
  try {
    const std::string target = replacedFile(inputPath);
    const std::string backup = backupOf(target);
    FileVersion backupState;
    const Standing standing =
        compareWithBackup(in, state, inputPath, backup, backupState);
    if (standing == Standing::kConverted) {
      say(messages::alreadyConverted(backup));
      return {status::kConverted, true, inputPath, ""};
    }
    if (standing == Standing::kDifferent)
      return fail(status::kNotConverted, inputPath,
                  messages::neitherOriginalNorConverted(inputPath, backup),
                  "edited after its conversion");
    const std::size_t blockSize = blockSizeFor(state.size);
    if (preview) {
      ChangeReport report(inputPath, true);
      // Everything but the writing.
      DiscardingSink discarded(blockSize);
      LayoutConverter converter(discarded, &report);
      convertFile(in, inputPath, blockSize, converter);
      report.finish(converter.changes());
      say(messages::wouldBeMade(converter.changes()));
      return {status::kConverted, false, inputPath, ""};
    }
    removeLeftovers(folderOf(target));
    out.emplace(target, blockSize);
    // Told of cuts alone: on every changed line, the conversion took 5% more
    // instructions (callgrind, 4 MB).
    ChangeReport report(inputPath, false);
    LayoutConverter converter(*out, &report, LayoutConverter::Told::kCuts);
    convertFile(in, inputPath, blockSize, converter);
    in.close();  // Windows will not replace a file that is still open.
    replaceKeepingOriginal(*out, target, state, standing, backup, backupState);
    report.finish(converter.changes());
    say(messages::changesMade(converter.changes()));
    // Players delete what looks like clutter; this one must stay.
    if (standing == Standing::kNoBackup) say(messages::originalKept(backup));
    return {status::kConverted, false, inputPath, ""};
  } catch (const ConversionError& e) {
    // Notepad's "Unicode": told in words a player can act on.
    const std::string what =
        std::string(e.what()) == kNulByteText && savedAsUtf16(in)
            ? messages::kSavedAsUtf16
            : e.what();
    error =
        messages::badValue(inputPath, e.line(), what, e.property(), e.value());
    reason = "line " + std::to_string(e.line()) + ": " + what;
  } catch (const FileChangedError& e) {
    if (out) out->discard();
    return fail(status::kNotConverted, inputPath, e.what(),
                "changed during the conversion");
  } catch (const FileError& e) {
    error = e.what();
    reason = inFewWords(error);
  }
  // A replacement that could not be made has cleaned up after itself.
  if (out && !out->discard()) error += messages::notRemoved(out->tempPath());
  return fail(status::kNotConverted, inputPath,
              messages::leftUnchanged(error, inputPath), reason);
}

// Opens the layout file that `argument` names, at the first of its places
// that holds it (see placesOf). An error at the first place other than "not
// found" is final; where no place holds it, the error is the one below
// Output. Sets `path` to the file opened, or where it was looked for.
SystemError openLayoutFile(const std::string& argument, const std::string& home,
                           SystemFile& in, FileVersion& state,
                           std::string& path) {
  const std::vector<std::string> places = placesOf(argument, home);
  const std::string output =
      isFullPath(argument) ? argument : layoutFilePath(home, argument);
  SystemError belowOutput;
  for (std::size_t i = 0; i < places.size(); ++i) {
    SystemFile file;
    FileVersion version;
    const SystemError error =
        openForReading(places[i], file, version, Links::kOwned);
    if (!error) {
      path = places[i];
      in = std::move(file);
      state = version;
      return {};
    }
    if (places[i] == output) belowOutput = error;
    if (i == 0 && !error.isNotFound()) {
      path = places[i];
      return error;
    }
  }
  path = output;
  return belowOutput;
}

}  // namespace

Outcome convertLayoutFile(const std::string& argument, const std::string& home,
                          bool preview) {
  SystemFile in;
  FileVersion state;
  std::string path;
  const SystemError error = openLayoutFile(argument, home, in, state, path);
  say(messages::inputFileIs(path));
  // A backup converted would be moved twice once put back.
  if (isBackupName(fileNameOf(argument)))
    return fail(
        status::kNotConverted, path,
        messages::isABackup(path, argument.substr(0, argument.size() - 4)),
        "a backup, which is never converted");
  if (error) {
    say(messages::cannotOpenInputFile(path));
    const bool missing = error.isNotFound() && !isFullPath(argument);
    return fail(
        status::kCannotOpen, path,
        messages::cannotOpen(
            path, error, missing ? folderOf(layoutFilePath(home, "x")) : ""),
        error.text());
  }
  // The exceptions go by the file's bare name, whatever folder it is in.
  inputFileName = fileNameOf(path);
  return convert(in, state, path, preview);
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
  check(error, messages::Step::kRead, target);
  inputFileName = fileNameOf(target);
  FileVersion compared;
  const Standing standing =
      compareWithBackup(file, state, target, backup, compared);
  if (compared != backupState)
    throw FileChangedError(messages::backupChanged(backup, target));
  sameFile = standing == Standing::kSameFile;
  return standing == Standing::kConverted || standing == Standing::kOriginal;
}

}  // namespace

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup; only where the
// file is that original converted, or its bytes, or missing.
Outcome restoreLayoutFile(const std::string& argument,
                          const std::string& home) {
  // The backup named stands for its file.
  const std::string named = isBackupName(fileNameOf(argument))
                                ? argument.substr(0, argument.size() - 4)
                                : argument;
  // Found as a file to convert is, by the file or by its backup alone.
  std::string path = isFullPath(named) ? named : layoutFilePath(home, named);
  for (const std::string& place : placesOf(named, home)) {
    if (exists(place, Links::kRefuse) ||
        exists(backupOf(place), Links::kRefuse)) {
      path = place;
      break;
    }
  }
  say(messages::inputFileIs(path));
  std::string target;
  if (resolveLinks(path, target)) target = path;  // gone: the link
  const std::string backup = backupOf(target);
  try {
    FileLock held;
    lock(held, target);
    SystemFile original;
    FileVersion backupState;
    const SystemError error = openBackup(backup, original, backupState);
    if (error.isNotFound())
      return fail(status::kCannotOpen, path,
                  messages::noBackup(path, backup, error), "no backup");
    checkBackupOpened(error, path, backup);
    original.close();
    bool sameFile = false;
    if (!mayRestore(target, backup, backupState, sameFile)) {
      if (!sameFile)
        return fail(status::kNotConverted, path,
                    messages::notItsOriginal(path, backup),
                    "not what its backup became");
      // Left by a run stopped before its rename: the file is the original.
      say(messages::originalInPlace(path, backup));
      return {status::kConverted, true, path, ""};
    }
    if (const SystemError renamed = renameOver(backup, target))
      return fail(status::kNotConverted, path,
                  messages::cannotRestore(
                      path, messages::cannotPutBack(backup, renamed)),
                  "cannot put the backup back: " + renamed.text());
    (void)syncFolder(folderOf(target), target);
  } catch (const FileError& e) {
    return fail(status::kNotConverted, path,
                messages::cannotRestore(path, e.what()), inFewWords(e.what()));
  }
  say(messages::restored(backup));
  return {status::kConverted, false, path, ""};
}
