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

#include "convert/rule_table.h"
#include "driver/arguments.h"
#include "driver/console.h"
#include "driver/layout_file.h"
#include "driver/messages.h"
#include "driver/platform.h"

namespace {

// No file named, after the wait for a key press.
constexpr int kNoArgument = -1;

int fail(int status, const std::string& message) {
  sayError(message);
  return status;
}

// "--" and a word, or "-" and letters, as options are written; a file named
// so is given behind "--".
bool looksLikeAnOption(const std::string& arg) {
  if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) return true;
  if (arg.size() < 2 || arg[0] != '-') return false;
  return std::all_of(arg.begin() + 1, arg.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

struct Command {
  bool help = false, version = false, restore = false, preview = false;
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
    } else if (options &&
               (arg == "--help" || arg == "-h" || arg == "/?" || arg == "-?" ||
                arg == "-help" || isSystemHelpOption(arg))) {
      command.help = true;
    } else if (options && arg == "--version") {
      command.version = true;
    } else if (options && arg == "--restore") {
      command.restore = true;
    } else if (options && (arg == "--dry-run" || arg == "-n")) {
      command.preview = true;
    } else if (options && looksLikeAnOption(arg)) {
      if (command.unknownOption.empty()) command.unknownOption = arg;
    } else {
      command.files.push_back(arg);
    }
  }
  return command;
}

int run(const Command& command) {
  if (!command.unknownOption.empty())
    return fail(status::kCannotOpen,
                messages::unknownOption(command.unknownOption));
  if (command.version) {
    say("hudconv " HUDCONV_VERSION);
    return status::kConverted;
  }
  say(messages::kBanner);
  if (command.help) {
    writeText(stdout, messages::kUsage);
    return status::kConverted;
  }
  if (command.files.empty()) {
    say(messages::kNoFile);
    writeText(stdout, messages::kUsage);
    std::fflush(stdout);
    waitForKeyPress();
    return kNoArgument;
  }
  if (command.restore && command.preview)
    return fail(status::kCannotOpen, messages::kPreviewOfRestore);
  const std::string home = executableDirectory();
  // A preview makes nothing, not even the folders.
  if (!command.preview) {
    createFolder(home + "/Output");
    createFolder(home + "/Override");
  }
  const auto handle = [&](const std::string& file) {
    return command.restore ? restoreLayoutFile(file, home)
                           : convertLayoutFile(file, home, command.preview);
  };
  std::vector<Outcome> outcomes;
  for (const std::string& argument : command.files) {
    const Named named = expandArgument(argument, home, command.restore);
    // Told and counted as not converted: a folder run that found one should
    // not end as if all went well.
    for (const std::string& link : named.passedOver) {
      sayWarning(messages::passedOverLink(link));
      outcomes.push_back({status::kNotConverted, false, link,
                          "a link of another user's, not followed"});
    }
    if (!named.many) {
      outcomes.push_back(handle(argument));
      if (named.nameIsAPattern)
        say(messages::tookFileNamedAsPattern(outcomes.back().path));
    } else if (named.paths.empty() && named.passedOver.empty()) {
      sayError(named.noneBecause);
      outcomes.push_back(
          {status::kCannotOpen, false, argument,
           named.noneBecause.substr(0, named.noneBecause.find(" in "))});
    } else {
      for (const std::string& path : named.paths)
        outcomes.push_back(handle(path));
    }
  }
  // Several files: what became of them, on screen when the window waits.
  if (outcomes.size() > 1) {
    say(messages::summary(outcomes, command.restore));
    for (const Outcome& outcome : outcomes)
      if (outcome.status != status::kConverted)
        say(messages::summaryLine(outcome, command.restore));
  }
  int highest = status::kConverted;
  for (const Outcome& outcome : outcomes)
    highest = std::max(highest, outcome.status);
  return highest;
}

int runAndReport(const Command& command) {
  try {
    buildRuleTable();
    return run(command);
  } catch (const std::bad_alloc&) {
    return fail(
        status::kNotConverted,
        messages::leftUnchanged(messages::kOutOfMemory, "The layout file"));
  } catch (const std::exception& e) {
    return fail(status::kNotConverted,
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
