// hudconv: moves the controls of one HUD layout file onto the centre monitor
// of a three-monitor desktop, rewriting the file in place.

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
#include "driver/layout_file.h"
#include "driver/platform.h"

namespace {

// The console report of the run stays on standard output as players know it;
// failures go to standard error, on a line of their own.
int fail(const std::string& message) {
  std::fflush(stdout);
  writeText(stderr, "\nhudconv: error: " + message + "\n");
  return 1;
}

std::string leftUnchanged(const std::string& path) {
  return ". " + path + " was left unchanged.";
}

// Streams the layout file through the converter into its replacement, which
// takes its place only once all of it is converted and on disk.
int convert(const std::string& inputPath) {
  SystemFile in;
  FileState state;
  if (openForReading(inputPath, in, state) != 0) {
    writeText(stdout, "Cannot open Input file " + inputPath);
    return 0;
  }
  std::optional<ReplacementFile> out;
  std::string error;
  try {
    out.emplace(inputPath);
    const std::size_t blockSize = blockSizeFor(state.size);
    LayoutConverter converter(*out, blockSize);
    convertFile(in, inputPath, blockSize, converter);
    in.close();  // Windows will not replace a file that is still open.
    out->commit(state);
    return 0;
  } catch (const ConversionError& e) {
    error = inputPath + ", line " + std::to_string(e.line()) + ": " + e.what();
  } catch (const FileChangedError& e) {
    return fail(e.what());
  } catch (const FileError& e) {
    error = e.what();
  }
  // A replacement that could not be made has cleaned up after itself.
  if (out) error += out->discard();
  return fail(error + leftUnchanged(inputPath));
}

// The status of a run without an argument, which has waited already.
constexpr int kNoArgument = -1;

int run(const std::vector<std::string>& args) {
  buildRuleTable();
  std::printf("Welcome to Quellmarch - Surround/Eyefinity HUD Converver\n");
  if (args.size() < 2) {
    std::printf("Input File not specified\n");
    std::fflush(stdout);
    waitForKeyPress();
    return kNoArgument;
  }
  const std::string& argument = args[1];
  const std::string home = executableDirectory();
  // A file dropped on the program arrives as its full path: it is converted
  // where it is, with the exceptions of its bare name.
  const bool dropped = isFullPath(argument);
  inputFileName = dropped ? fileNameOf(argument) : argument;
  const std::string inputPath =
      dropped ? argument : layoutFilePath(home, argument);
  writeText(stdout, "Input file is: " + inputPath);
  createFolder(home + "/Output");
  createFolder(home + "/Override");
  return convert(inputPath);
}

int runAndReport(int argc, char** argv) {
  try {
    return run(programArguments(argc, argv));
  } catch (const std::bad_alloc&) {
    return fail("out of memory; the layout file was left unchanged.");
  } catch (const std::exception& e) {
    return fail(std::string(e.what()) +
                "; the layout file was left unchanged.");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int status = runAndReport(argc, argv);
  // A window that would close at once is kept open to be read.
  if (status != kNoArgument && consoleClosesWithProgram()) {
    std::printf("\n");
    std::fflush(stdout);
    waitForKeyPress();
  }
  return status;
}
