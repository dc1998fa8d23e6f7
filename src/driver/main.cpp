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
#include "driver/layout_file.h"
#include "driver/platform.h"

namespace {

// Exit statuses; with several files the highest of theirs.
constexpr int kConverted = 0;
constexpr int kNotConverted = 1;
constexpr int kCannotOpen = 2;
constexpr int kNoArgument = -1;  // after the wait for a key press

const char kUsage[] =
    "Usage: hudconv FILE...\n"
    "Moves the controls of Quellmarch HUD layout files onto the centre\n"
    "monitor. Each FILE is converted in place, in turn:\n"
    "  a name such as confirm_p.gui.xml, for the file in the folder Output\n"
    "  beside hudconv; or the path of the file, wherever it lies. On Windows\n"
    "  you can also drop one or more files onto hudconv.exe.\n"
    "  The first conversion keeps the original as FILE.bak; a file that is\n"
    "  already converted is left as it is.\n"
    "  hudconv --restore FILE...\n"
    "                      puts each original back from FILE.bak\n"
    "  hudconv --help      shows this text\n"
    "  hudconv --version   shows the version\n"
    "  hudconv -- FILE...  takes every FILE as a file, even one named like\n"
    "                      an option\n"
    "Exit status: 0 every file converted, 1 a file not converted, 2 a file\n"
    "that cannot be opened, -1 (255) no file named.\n";

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

std::string leftUnchanged(const std::string& path) {
  return ". " + path + " was left unchanged.";
}

std::string changesMade(const ChangeCounts& changes) {
  if (changes.left + changes.width == 0)
    return "Nothing to move: no LEFT or WIDTH value needed changing.";
  return "Changed " + std::to_string(changes.left) + " LEFT and " +
         std::to_string(changes.width) + " WIDTH values (" +
         std::to_string(changes.byException) + " by the built-in exceptions).";
}

// The file that `path` leads to, symbolic links followed: the one that is
// replaced, with its backup beside it.
std::string targetOf(const std::string& path) {
  std::string target;
  if (const SystemError error = resolveLinks(path, target))
    throw FileError(failureText("cannot find", path, error));
  return target;
}

// Streams the open layout file through the converter into its replacement,
// which takes its place only once all of it is converted and on disk; the
// first conversion keeps the original. A file that has a backup is compared
// with it first, and converted only when it is that original.
int convert(SystemFile& in, const FileState& state,
            const std::string& inputPath) {
  std::optional<ReplacementFile> out;
  std::string error;
  try {
    const std::string target = targetOf(inputPath);
    const std::string backup = backupOf(target);
    const Standing standing = compareWithBackup(in, state, inputPath, backup);
    if (standing == Standing::kConverted) {
      say("Already converted, so nothing was written. The original is kept "
          "as " +
          backup + ".");
      return kConverted;
    }
    if (standing == Standing::kDifferent)
      return fail(kNotConverted,
                  inputPath + " is neither its backup " + backup +
                      " nor that backup converted: it was edited after its "
                      "conversion, or it is a new original. It was left "
                      "unchanged. To convert it as a new original, delete " +
                      backup +
                      " and run hudconv again; to go back to the "
                      "original, run hudconv --restore " +
                      inputPath + ".");
    const std::size_t blockSize = blockSizeFor(state.size);
    out.emplace(target, blockSize);
    LayoutConverter converter(*out);
    convertFile(in, inputPath, blockSize, converter);
    in.close();  // Windows will not replace a file that is still open.
    out->commit(state, standing == Standing::kNoBackup ? backup : "");
    say(changesMade(converter.changes()));
    return kConverted;
  } catch (const ConversionError& e) {
    error = inputPath + ", line " + std::to_string(e.line()) + ": " + e.what();
  } catch (const FileChangedError& e) {
    return fail(kNotConverted, e.what());
  } catch (const FileError& e) {
    error = e.what();
  }
  // A replacement that could not be made has cleaned up after itself.
  if (out) error += out->discard();
  return fail(kNotConverted, error + leftUnchanged(inputPath));
}

// Opens the layout file that `argument` names: a full path where it lies; a
// relative one below Output, or, where no such file is there, from the
// current folder (`Output\map_p.gui.xml`, as tab completion types it). Sets
// `path` to the file opened, or where it was looked for.
SystemError openLayoutFile(const std::string& argument, const std::string& home,
                           SystemFile& in, FileState& state,
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
  FileState state;
  std::string path;
  const SystemError error = openLayoutFile(argument, home, in, state, path);
  say("Input file is: " + path);
  if (error) {
    say("Cannot open Input file " + path);
    std::string reason = error.text() + ".";
    if (error.isNotFound() && !isFullPath(argument))
      reason += " The layout file must be in the folder " +
                folderOf(layoutFilePath(home, "x")) +
                " beside hudconv, or be dropped on it.";
    return fail(kCannotOpen, "cannot open " + path + ": " + reason);
  }
  // The exceptions go by the file's bare name, whatever folder it is in.
  inputFileName = fileNameOf(path);
  return convert(in, state, path);
}

bool exists(const std::string& path) {
  FileState state;
  return !readState(path, state).isNotFound();
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
  say("Input file is: " + path);
  std::string target;
  if (resolveLinks(path, target)) target = path;  // gone: the link
  const std::string backup = backupOf(target);
  SystemFile original;
  FileState originalState;
  if (const SystemError error = openForReading(backup, original, originalState))
    return fail(kCannotOpen, "cannot restore " + path + ": no backup " +
                                 backup + " (" + error.text() +
                                 "). Nothing was changed.");
  original.close();
  // After a run stopped between keeping the original and replacing the
  // file, both names lead to the original: only the backup goes.
  FileState state;
  const bool same = !readState(target, state) && state.sameFile(originalState);
  if (const SystemError error =
          same ? removeFile(backup) : renameOver(backup, target))
    return fail(kNotConverted, "cannot put " + backup + " back in place: " +
                                   error.text() + leftUnchanged(path));
  syncFolder(folderOf(target));
  say("Restored the original from " + backup + ", which is gone now.");
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

const char kBanner[] =
    "Welcome to Quellmarch - Surround/Eyefinity HUD Converver";

int run(const Command& command) {
  if (!command.unknownOption.empty())
    return fail(kCannotOpen, "unknown option " + command.unknownOption +
                                 " (hudconv --help lists them; hudconv -- " +
                                 command.unknownOption +
                                 " converts a file of that name)");
  if (command.version) {
    say("hudconv " HUDCONV_VERSION);
    return kConverted;
  }
  say(kBanner);
  if (command.help) {
    writeText(stdout, kUsage);
    return kConverted;
  }
  if (command.files.empty()) {
    say("Input File not specified");
    writeText(stdout, kUsage);
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
    return fail(kNotConverted,
                "out of memory; the layout file was left unchanged.");
  } catch (const std::exception& e) {
    return fail(kNotConverted, std::string(e.what()) +
                                   "; the layout file was left unchanged.");
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
