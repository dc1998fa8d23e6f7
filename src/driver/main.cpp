// hudconv: moves the controls of HUD layout files onto the centre monitor
// of a three-monitor desktop, rewriting each file in place.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "convert/rule_table.h"
#include "driver/arguments.h"
#include "driver/console.h"
#include "driver/file_report.h"
#include "driver/layout_file.h"
#include "driver/messages.h"
#include "driver/options.h"
#include "driver/platform_console.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"

namespace {

// No file named, after the wait for a key press.
constexpr int kNoArgument = -1;

int fail(int status, const std::string& message) {
  sayError(message);
  return status;
}

int run(const Options& command) {
  if (!command.unknownOption.empty())
    return fail(status::kCannotOpen,
                messages::unknownOption(command.unknownOption));
  if (command.version) {
    say("hudconv " HUDCONV_VERSION);
    return status::kConverted;
  }
  say(messages::kBanner);
  if (command.help) {
    writeText(stdout, usage());
    return status::kConverted;
  }
  if (command.files.empty()) {
    say(messages::kNoFile);
    writeText(stdout, usage());
    std::fflush(stdout);
    waitForKeyPress();
    return kNoArgument;
  }
  if (command.restore && command.preview)
    return fail(status::kCannotOpen, messages::kPreviewOfRestore);
  if (command.restore && command.update)
    return fail(status::kCannotOpen, messages::kUpdateOfRestore);
  const std::string home = executableDirectory();
  // A preview makes nothing, not even the folders.
  if (!command.preview) {
    createFolder(home + "/Output");
    createFolder(home + "/Override");
  }
  // Every argument is looked for first: how many files the run goes over
  // decides how much is told of each.
  std::vector<Outcome> outcomes;
  std::vector<Named> named;
  std::vector<std::string> lonely;  // backups whose files are gone
  for (const std::string& given : command.files) {
    const std::string argument = withoutStrayQuote(given, home);
    if (argument != given)
      say(messages::tookWithoutStrayQuote(argument, given));
    named.push_back(expandArgument(argument, home, command.restore));
    const Named& found = named.back();
    // Told and counted as not converted: a folder run that found one should
    // not end as if all went well.
    for (const std::string& link : found.passedOver) {
      sayWarning(messages::passedOverLink(link));
      Outcome passed;
      passed.status = status::kNotConverted;
      passed.path = link;
      passed.why = Why::kForeignLink;
      outcomes.push_back(std::move(passed));
    }
    lonely.insert(lonely.end(), found.lonelyBackups.begin(),
                  found.lonelyBackups.end());
    if (found.many && found.files.empty() && found.passedOver.empty() &&
        found.lonelyBackups.empty()) {
      sayError(messages::noneNamed(found.none));
      Outcome none;
      none.status = status::kCannotOpen;
      none.path = argument;
      none.why = Why::kNothingNamed;
      none.detail = found.none;
      outcomes.push_back(std::move(none));
    }
  }
  // The files to handle, each with whether its name is written as a
  // pattern; the backups handed along are passed over.
  const HandedAlong backups = backupsHandedAlong(named, command.restore);
  std::vector<std::pair<const NamedFile*, bool>> toHandle;
  std::size_t passedOver = 0;
  for (const Named& found : named)
    for (const NamedFile& file : found.files) {
      if (backups.has(file))
        ++passedOver;
      else
        toHandle.emplace_back(&file, found.nameIsAPattern);
    }
  LayoutRun layoutRun(home, command, toHandle.size());
  for (const auto& [file, nameIsAPattern] : toHandle) layoutRun.expect(*file);
  for (Named& found : named)
    if (found.listing) layoutRun.listed(std::move(found.listing));
  for (const auto& [file, nameIsAPattern] : toHandle)
    layoutRun.handle(*file, nameIsAPattern);
  for (Outcome& outcome : layoutRun.finish())
    outcomes.push_back(std::move(outcome));
  // Several files: what became of them, on screen when the window waits.
  if (outcomes.size() + passedOver > 1)
    tellSummary(outcomes, passedOver, command);
  if (!lonely.empty()) say(messages::backupsWithoutFile(lonely));
  int highest = status::kConverted;
  for (const Outcome& outcome : outcomes)
    highest = std::max(highest, outcome.status);
  return highest;
}

int runAndReport(const Options& command) {
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
  const Options command = parseOptions(programArguments(argc, argv));
  const int status = runAndReport(command);
  // A window that would close at once is kept open to be read, once, after
  // every file.
  if (command.converting() && consoleClosesWithProgram()) {
    std::printf("\n");
    std::fflush(stdout);
    waitForKeyPress();
  }
  return status;
}
