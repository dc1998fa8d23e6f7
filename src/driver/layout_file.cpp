#include "driver/layout_file.h"

#include <optional>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "driver/backup.h"
#include "driver/console.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/platform.h"
#include "driver/replacement_file.h"

namespace {

int fail(int status, const std::string& message) {
  sayError(message);
  return status;
}

// Removes the backup made for a replacement that then failed, and tells
// what became of it.
std::string removeKept(const std::string& backup) {
  const SystemError error = removeFile(backup);
  return error ? messages::backupNotRemoved(backup, error)
               : messages::backupRemoved(backup);
}

// Puts the converted file in place of the layout file `target`, read in the
// state `state`, after keeping the original as `backup` where it has none.
// A backup made here is removed again when the replacement fails after it,
// and the error says so.
void replaceKeepingOriginal(ReplacementFile& out, const std::string& target,
                            const FileVersion& state, Standing standing,
                            const std::string& backup) {
  out.finish();
  out.checkUnchanged(state);
  if (standing != Standing::kNoBackup) {
    out.replace(state);
    return;
  }
  const Kept kept = keepOriginal(target, state, backup);
  if (kept == Kept::kOtherBackup)
    throw FileChangedError(messages::backupAppeared(backup, target));
  try {
    if (kept == Kept::kFileChanged)
      throw FileChangedError(messages::changedMeanwhile(target));
    out.replace(state);
  } catch (const FileChangedError&) {
    throw FileChangedError(
        messages::changedMeanwhile(target, removeKept(backup)));
  } catch (const FileError& e) {
    throw FileError(std::string(e.what()) + "; " + removeKept(backup));
  }
}

// Streams the open layout file through the converter into its replacement,
// which takes its place only once all of it is converted and on disk; the
// first conversion keeps the original. A file that has a backup is compared
// with it first, and converted only when it is that original.
int convert(SystemFile& in, const FileVersion& state,
            const std::string& inputPath) {
  std::optional<ReplacementFile> out;
  std::string error;
  try {
    const std::string target = replacedFile(inputPath);
    const std::string backup = backupOf(target);
    const Standing standing = compareWithBackup(in, state, inputPath, backup);
    if (standing == Standing::kConverted) {
      say(messages::alreadyConverted(backup));
      return status::kConverted;
    }
    if (standing == Standing::kDifferent)
      return fail(status::kNotConverted,
                  messages::neitherOriginalNorConverted(inputPath, backup));
    const std::size_t blockSize = blockSizeFor(state.size);
    out.emplace(target, blockSize);
    LayoutConverter converter(*out);
    convertFile(in, inputPath, blockSize, converter);
    in.close();  // Windows will not replace a file that is still open.
    replaceKeepingOriginal(*out, target, state, standing, backup);
    say(messages::changesMade(converter.changes()));
    return status::kConverted;
  } catch (const ConversionError& e) {
    error = messages::badValue(inputPath, e.line(), e.what());
  } catch (const FileChangedError& e) {
    if (out) out->discard();
    return fail(status::kNotConverted, e.what());
  } catch (const FileError& e) {
    error = e.what();
  }
  // A replacement that could not be made has cleaned up after itself.
  if (out && !out->discard()) error += messages::notRemoved(out->tempPath());
  return fail(status::kNotConverted, messages::leftUnchanged(error, inputPath));
}

// Opens the layout file that `argument` names: a full path where it lies; a
// relative one below Output, or, where no such file is there, from the
// current folder (`Output\map_p.gui.xml`, as tab completion types it). Sets
// `path` to the file opened, or where it was looked for.
SystemError openLayoutFile(const std::string& argument, const std::string& home,
                           SystemFile& in, FileVersion& state,
                           std::string& path) {
  if (isFullPath(argument)) {
    path = argument;
    return openForReading(path, in, state);
  }
  path = layoutFilePath(home, argument);
  const SystemError error = openForReading(path, in, state);
  if (!error || !error.isNotFound() || argument.empty()) return error;
  if (openForReading(argument, in, state)) return error;
  path = argument;
  return {};
}

}  // namespace

int convertLayoutFile(const std::string& argument, const std::string& home) {
  SystemFile in;
  FileVersion state;
  std::string path;
  const SystemError error = openLayoutFile(argument, home, in, state, path);
  say(messages::inputFileIs(path));
  if (error) {
    say(messages::cannotOpenInputFile(path));
    const bool missing = error.isNotFound() && !isFullPath(argument);
    return fail(
        status::kCannotOpen,
        messages::cannotOpen(
            path, error, missing ? folderOf(layoutFilePath(home, "x")) : ""));
  }
  // The exceptions go by the file's bare name, whatever folder it is in.
  inputFileName = fileNameOf(path);
  return convert(in, state, path);
}

namespace {

bool exists(const std::string& path) {
  FileVersion state;
  return !readVersion(path, state).isNotFound();
}

}  // namespace

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup.
int restoreLayoutFile(const std::string& argument, const std::string& home) {
  // Found as a file to convert is, by the file or by its backup alone.
  std::string path =
      isFullPath(argument) ? argument : layoutFilePath(home, argument);
  if (!isFullPath(argument) && !exists(path) && !exists(backupOf(path)) &&
      (exists(argument) || exists(backupOf(argument))))
    path = argument;
  say(messages::inputFileIs(path));
  std::string target;
  if (resolveLinks(path, target)) target = path;  // gone: the link
  const std::string backup = backupOf(target);
  SystemFile original;
  FileVersion originalState;
  if (const SystemError error = openForReading(backup, original, originalState))
    return fail(status::kCannotOpen, messages::noBackup(path, backup, error));
  original.close();
  // After a run stopped between keeping the original and replacing the
  // file, both names lead to the original: only the backup goes.
  FileVersion state;
  const bool same =
      !readVersion(target, state) && state.sameFile(originalState);
  if (const SystemError error =
          same ? removeFile(backup) : renameOver(backup, target))
    return fail(
        status::kNotConverted,
        messages::leftUnchanged(messages::cannotPutBack(backup, error), path));
  syncFolder(folderOf(target));
  say(messages::restored(backup));
  return status::kConverted;
}
