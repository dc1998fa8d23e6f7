// What the player reads of each layout file and of a run.

#include "driver/file_report.h"

#include <utility>

#include "driver/backup.h"
#include "driver/console.h"
#include "driver/messages.h"

namespace {

Outcome outcomeOf(const std::string& path, const Ruling& ruling) {
  Outcome outcome;
  outcome.status = ruling.status;
  outcome.path = path;
  outcome.why = ruling.why;
  outcome.already = ruling.already;
  return outcome;
}

// A file not done: `message` told, and why in `outcome`.
Outcome notDone(const std::string& message, int status, const std::string& path,
                Why why) {
  sayError(message);
  Outcome outcome;
  outcome.status = status;
  outcome.path = path;
  outcome.why = why;
  return outcome;
}

}  // namespace

void ChangeReport::changed(const ValueChange& change) {
  if (listed_) say(messages::wouldChange(change));
  if (change.cut.empty() || ++told_ > kToldInFull) return;
  if (preview_)
    sayWarning(messages::textCut(path_, change));
  else
    held_.push_back(messages::textCut(path_, change));
}

void ChangeReport::finish(const ChangeCounts& changes) const {
  for (const std::string& warning : held_) sayWarning(warning);
  if (changes.cut > kToldInFull)
    sayWarning(messages::moreTextCut(path_, changes.cut - kToldInFull));
}

FileReport::FileReport(const Options& options, std::size_t files)
    : brief_(files > 1 && !options.verbose),
      preview_(options.preview),
      restore_(options.restore) {}

void FileReport::tell(const std::string& path, const std::string& line) const {
  say(brief_ && preview_ ? messages::aboutFile(path, line) : line);
}

void FileReport::announce(const std::string& path) const {
  if (!(brief_ && preview_)) say(messages::inputFileIs(path));
}

Outcome FileReport::told(const Decision& decision, const std::string& path,
                         const std::string& backup, const Facts& facts,
                         const SystemError& backupError) const {
  const Ruling& ruling = decision.ruling;
  Outcome outcome = outcomeOf(path, ruling);
  messages::FileAbout about{path, backup, 0, backupError, preview_, restore_};
  if (facts.drift) about.changedValues = facts.drift->changedValues;
  const std::string line = messages::verdict(decision.verdict, about);
  if (ruling.status != status::kConverted)
    sayError(line);
  else if (!ruling.convert)
    tell(about.path, line);
  else if (!brief_ && !line.empty())
    // A run over many files says it in the file's one line.
    say(line);
  return outcome;
}

ChangeReport FileReport::changeReport(const std::string& path) const {
  return ChangeReport(path, preview_, preview_ && !brief_);
}

Outcome FileReport::wouldBeMade(const std::string& path,
                                const ChangeCounts& changes,
                                const Ruling& ruling) const {
  if (brief_)
    tell(path, messages::wouldBeMadeBriefly(changes, ruling.replaceBackup));
  else
    say(messages::wouldBeMade(changes));
  return outcomeOf(path, {});
}

Outcome FileReport::made(const std::string& path, const ChangeCounts& changes,
                         const std::string& backup, const Ruling& ruling) {
  if (brief_) {
    say(messages::madeKeeping(changes, backup, ruling.keepOriginal,
                              ruling.replaceBackup));
    if (ruling.keepOriginal && !std::exchange(explained_, true))
      say(messages::kBackupsExplained);
  } else {
    say(messages::changesMade(changes));
    if (ruling.keepOriginal) say(messages::originalKept(backup));
    if (ruling.replaceBackup) say(messages::newOriginalKept(backup));
  }
  return outcomeOf(path, {});
}

Outcome FileReport::isABackup(const std::string& path,
                              const std::string& argument) const {
  return notDone(messages::isABackup(path, fileOfBackup(argument)),
                 status::kNotConverted, path, Why::kIsABackup);
}

Outcome FileReport::isARecord(const std::string& path) const {
  return notDone(messages::isARecord(path), status::kNotConverted, path,
                 Why::kIsARecord);
}

Outcome FileReport::cannotOpen(const std::string& path,
                               const SystemError& error,
                               const std::string& mustBeIn) const {
  say(messages::cannotOpenInputFile(path));
  Outcome outcome = notDone(messages::cannotOpen(path, error, mustBeIn),
                            status::kCannotOpen, path, Why::kCannotOpen);
  outcome.detail = error;
  return outcome;
}

Outcome FileReport::badValue(const std::string& path, const BadValue& bad,
                             const std::string& leftBehind) const {
  std::string error = messages::badValue(path, bad);
  if (!leftBehind.empty()) error += messages::notRemoved(leftBehind);
  Outcome outcome = notDone(messages::leftUnchanged(error, path),
                            status::kNotConverted, path, Why::kBadValue);
  outcome.detail = bad;
  return outcome;
}

Outcome FileReport::failed(const std::string& path, Failure failure) const {
  // Another program came between: the run itself did nothing wrong.
  if (failure.changed())
    return notDone(messages::describe(failure), status::kNotConverted, path,
                   Why::kChanged);
  Outcome outcome =
      notDone(messages::leftUnchanged(messages::describe(failure), path),
              status::kNotConverted, path, Why::kFailed);
  outcome.detail = std::move(failure);
  return outcome;
}

Outcome FileReport::cannotRestore(const std::string& path,
                                  const Failure& failure) const {
  Outcome outcome =
      notDone(messages::cannotRestore(path, messages::describe(failure)),
              status::kNotConverted, path, Why::kFailed);
  outcome.detail = failure;
  return outcome;
}

Outcome FileReport::cannotPutBack(const std::string& path,
                                  const std::string& backup,
                                  const SystemError& error) const {
  Outcome outcome = notDone(
      messages::cannotRestore(path, messages::cannotPutBack(backup, error)),
      status::kNotConverted, path, Why::kCannotPutBack);
  outcome.detail = error;
  return outcome;
}

void FileReport::recordRead(const Record& record) {
  const Record::State state = record.state();
  if ((state == Record::State::kIgnored ||
       state == Record::State::kNotTrusted) &&
      ignoredRecords_.insert(record.path()).second)
    sayWarning(state == Record::State::kIgnored
                   ? messages::recordIgnored(record.path())
                   : messages::recordNotTrusted(record.path()));
}

void FileReport::memoryNotWritten(const Failure& failure) {
  if (!std::exchange(toldMemory_, true))
    sayWarning(messages::memoryNotWritten(failure));
}

void FileReport::recordNotWritten(const Failure& failure,
                                  const std::string& folder,
                                  std::size_t files) const {
  sayError(messages::recordNotWritten(failure, folder, files));
}

Outcome FileReport::unrecorded(const std::string& path, Failure failure) const {
  // A backup made for it that stays is told of this file alone.
  if (failure.madeBackup == Failure::MadeBackup::kNotRemoved)
    return failed(path, std::move(failure));
  failure.madeBackup = Failure::MadeBackup::kNone;
  Outcome outcome;
  outcome.status = status::kNotConverted;
  outcome.path = path;
  outcome.why = Why::kFailed;
  outcome.detail = std::move(failure);
  return outcome;
}

void FileReport::tookNamedAsPattern(const std::string& path) const {
  say(messages::tookFileNamedAsPattern(path));
}

void tellSummary(const std::vector<Outcome>& outcomes, std::size_t passedOver,
                 const Options& options) {
  const RunKind kind = options.restore   ? RunKind::kRestore
                       : options.preview ? RunKind::kPreview
                                         : RunKind::kConversion;
  say(messages::summary(outcomes, passedOver, kind));
  std::size_t newOriginals = 0;
  std::vector<std::string> edited;
  std::vector<std::string> backupsGone;
  for (const Outcome& outcome : outcomes) {
    if (outcome.status != status::kConverted || outcome.why == Why::kTuned)
      say(messages::summaryLine(outcome, kind));
    newOriginals += outcome.why == Why::kNewOriginal ? 1 : 0;
    if (outcome.why == Why::kEdited) edited.push_back(outcome.path);
    if (outcome.why == Why::kEditedBackupGone)
      backupsGone.push_back(outcome.path);
  }
  if (newOriginals > 0) say(messages::updateAdvice(newOriginals));
  // A restore takes no file by --update.
  if (kind != RunKind::kRestore && (!edited.empty() || !backupsGone.empty()))
    say(messages::takeAllAdvice(edited, backupsGone));
}
