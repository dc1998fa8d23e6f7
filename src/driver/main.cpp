// hudconv: moves the controls of HUD layout files onto the centre monitor
// of a three-monitor desktop, rewriting each file in place.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "driver/backup.h"
#include "driver/file_reading.h"
#include "driver/layout_file.h"
#include "driver/messages.h"
#include "driver/platform.h"

namespace {

// Exit statuses; with several files the highest of theirs.
constexpr int kConverted = 0;
constexpr int kNotConverted = 1;
constexpr int kCannotOpen = 2;
constexpr int kNoArgument = -1;  // after the wait for a key press

// A line of the report on standard output, there before the work it
// announces starts.
void say(const std::string& line) {
  writeText(stdout, line + "\n");
  std::fflush(stdout);
}

// Failures go to standard error, on a line of their own.
int fail(int status, const std::string& message) {
  std::fflush(stdout);
  writeText(stderr, "hudconv: error: " + message + "\n");
  return status;
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
      return kConverted;
    }
    if (standing == Standing::kDifferent)
      return fail(kNotConverted,
                  messages::neitherOriginalNorConverted(inputPath, backup));
    const std::size_t blockSize = blockSizeFor(state.size);
    out.emplace(target, blockSize);
    LayoutConverter converter(*out);
    convertFile(in, inputPath, blockSize, converter);
    in.close();  // Windows will not replace a file that is still open.
    out->commit(state, standing == Standing::kNoBackup ? backup : "");
    say(messages::changesMade(converter.changes()));
    return kConverted;
  } catch (const ConversionError& e) {
    error = messages::badValue(inputPath, e.line(), e.what());
  } catch (const FileChangedError& e) {
    return fail(kNotConverted, e.what());
  } catch (const FileError& e) {
    error = e.what();
  }
  // A replacement that could not be made has cleaned up after itself.
  if (out && !out->discard()) error += messages::notRemoved(out->tempPath());
  return fail(kNotConverted, messages::leftUnchanged(error, inputPath));
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

int convertArgument(const std::string& argument, const std::string& home) {
  SystemFile in;
  FileVersion state;
  std::string path;
  const SystemError error = openLayoutFile(argument, home, in, state, path);
  say(messages::inputFileIs(path));
  if (error) {
    say(messages::cannotOpenInputFile(path));
    const bool missing = error.isNotFound() && !isFullPath(argument);
    return fail(
        kCannotOpen,
        messages::cannotOpen(
            path, error, missing ? folderOf(layoutFilePath(home, "x")) : ""));
  }
  // The exceptions go by the file's bare name, whatever folder it is in.
  inputFileName = fileNameOf(path);
  return convert(in, state, path);
}

bool exists(const std::string& path) {
  FileVersion state;
  return !readVersion(path, state).isNotFound();
}

// Puts the original kept by the first conversion back in place of the
// layout file, in one rename, which also removes the backup.
int restoreArgument(const std::string& argument, const std::string& home) {
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
    return fail(kCannotOpen, messages::noBackup(path, backup, error));
  original.close();
  // After a run stopped between keeping the original and replacing the
  // file, both names lead to the original: only the backup goes.
  FileVersion state;
  const bool same =
      !readVersion(target, state) && state.sameFile(originalState);
  if (const SystemError error =
          same ? removeFile(backup) : renameOver(backup, target))
    return fail(
        kNotConverted,
        messages::leftUnchanged(messages::cannotPutBack(backup, error), path));
  syncFolder(folderOf(target));
  say(messages::restored(backup));
  return kConverted;
}

struct Command {
  bool help = false, version = false, restore = false;
  std::string unknownOption;
  std::vector<std::string> files;
};

Command parseArguments(const std::vector<std::string>& args) {
  Command command;
  bool options = true;  // until "--"
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h" || arg == "/?")) {
      command.help = true;
    } else if (options && arg == "--version") {
      command.version = true;
    } else if (options && arg == "--restore") {
      command.restore = true;
    } else if (options && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (command.unknownOption.empty()) command.unknownOption = arg;
    } else {
      command.files.push_back(arg);
    }
  }
  return command;
}

int run(const Command& command) {
  if (!command.unknownOption.empty())
    return fail(kCannotOpen, messages::unknownOption(command.unknownOption));
  if (command.version) {
    say("hudconv " HUDCONV_VERSION);
    return kConverted;
  }
  say(messages::kBanner);
  if (command.help) {
    writeText(stdout, messages::kUsage);
    return kConverted;
  }
  if (command.files.empty()) {
    say(messages::kNoFile);
    writeText(stdout, messages::kUsage);
    std::fflush(stdout);
    waitForKeyPress();
    return kNoArgument;
  }
  const std::string home = executableDirectory();
  createFolder(home + "/Output");
  createFolder(home + "/Override");
  int status = kConverted;
  for (const std::string& file : command.files)
    status = std::max(status, command.restore ? restoreArgument(file, home)
                                              : convertArgument(file, home));
  return status;
}

int runAndReport(const Command& command) {
  try {
    buildRuleTable();
    return run(command);
  } catch (const std::bad_alloc&) {
    return fail(kNotConverted, messages::leftUnchanged(messages::kOutOfMemory,
                                                       "The layout file"));
  } catch (const std::exception& e) {
    return fail(kNotConverted,
                messages::leftUnchanged(e.what(), "The layout file"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  prepareProcess();
  const Command command = parseArguments(programArguments(argc, argv));
  const int status = runAndReport(command);
  // A window that would close at once is kept open to be read, once, after
  // every file.
  const bool converting = !command.files.empty() && !command.help &&
                          !command.version && command.unknownOption.empty();
  if (converting && consoleClosesWithProgram()) {
    std::printf("\n");
    std::fflush(stdout);
    waitForKeyPress();
  }
  return status;
}
