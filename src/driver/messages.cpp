// The run's own texts: the banner, the usage, what an argument named, and
// the summary.

#include "driver/messages.h"

#include "driver/message_words.h"

namespace messages {

const char kBanner[] =
    "Welcome to Quellmarch - Surround/Eyefinity HUD Converver";

const char kUsageHead[] =
    "Usage: hudconv FOLDER | PATTERN | FILE...\n"
    "Moves the controls of Quellmarch HUD layout files onto the centre\n"
    "monitor, rewriting each file in place. A whole HUD at once:\n"
    "  hudconv Output      every layout file (*.gui.xml) in a folder, here\n"
    "                      the folder Output beside hudconv; on Windows you\n"
    "                      can also drop the folder onto hudconv.exe\n"
    "  hudconv *.gui.xml   every layout file in Output that the pattern\n"
    "                      matches (* any letters, ? one letter)\n"
    "One file, or several:\n"
    "  hudconv confirm_p.gui.xml\n"
    "                      the file in Output, or the path of a file\n"
    "                      wherever it lies; on Windows you can also drop\n"
    "                      files onto hudconv.exe\n"
    "The first conversion keeps each original as FILE.bak; a file that is\n"
    "already converted is left as it is. Options:\n";
const char kUsageTail[] =
    "Exit status: 0 every file converted, 1 a file not converted, 2 a file\n"
    "that cannot be opened, -1 (255) no file named.\n";

const char kNoFile[] = "Input File not specified";
const char kPreviewOfRestore[] =
    "--dry-run shows what a conversion would change; it does not go with "
    "--restore";
const char kUpdateOfRestore[] =
    "--update takes new originals for a conversion; it does not go with "
    "--restore";

std::string unknownOption(const std::string& option) {
  return "unknown option " + option + " (hudconv --help lists them; " +
         command("--", option) + " converts a file of that name)";
}

std::string passedOverLink(const std::string& path) {
  return "passed over " + path +
         ": a symbolic link that another user made to a file that is not "
         "theirs, which hudconv never follows.";
}

std::string tookFileNamedAsPattern(const std::string& path) {
  return "Took the file named " + path +
         " itself. To convert every file that the pattern matches, name "
         "their folder instead (" +
         command("", folderOf(path)) + ").";
}

std::string tookWithoutStrayQuote(const std::string& taken,
                                  const std::string& given) {
  return "Took " + taken + " for " + given + kStrayQuote + ".";
}

namespace {

// What a folder or a pattern did not name, said once for the error and the
// summary.
std::string noFile(const NoneNamed& none) {
  switch (none.kind) {
    case NoneNamed::Kind::kNoLayoutFile:
      return "no layout file (*.gui.xml)";
    case NoneNamed::Kind::kNoBackup:
      return "no file with a backup (.bak)";
    case NoneNamed::Kind::kNoMatch:
      break;
  }
  return std::string(none.restore ? "no file with a backup" : "no file") +
         " matches " + none.pattern;
}

}  // namespace

std::string noneNamed(const NoneNamed& none) {
  return noFile(none) + " in " + none.folder + ".";
}

std::string summary(const std::vector<Outcome>& outcomes,
                    std::size_t backupsPassedOver, RunKind run) {
  std::size_t done = 0;
  std::size_t already = 0;
  std::size_t notDone = 0;
  std::size_t notOpened = 0;
  for (const Outcome& outcome : outcomes) {
    if (outcome.status == status::kConverted)
      ++(outcome.already ? already : done);
    else
      ++(outcome.status == status::kNotConverted ? notDone : notOpened);
  }
  const auto count = [](std::size_t n, const char* what) {
    return std::to_string(n) + " " + what;
  };
  const bool restore = run == RunKind::kRestore;
  const bool preview = run == RunKind::kPreview;
  std::string text =
      count(outcomes.size(), outcomes.size() == 1 ? "file" : "files") + ": " +
      count(done, restore   ? "restored"
                  : preview ? "would be converted"
                            : "converted") +
      ", " +
      count(already, restore ? "already in place" : "already converted") +
      ", " +
      count(notDone, restore   ? "not restored"
                     : preview ? "would not be converted"
                               : "not converted") +
      ", " +
      count(notOpened,
            restore ? "without a backup or not opened" : "could not be opened");
  if (backupsPassedOver > 0)
    text += "; " +
            count(backupsPassedOver,
                  backupsPassedOver == 1 ? "backup" : "backups") +
            " passed over, named along with " +
            (backupsPassedOver == 1 ? "its file" : "their files");
  return text + (preview ? ". Nothing was written." : ".");
}

namespace {

// Why a file was not done, in a few words.
std::string reasonOf(const Outcome& outcome) {
  switch (outcome.why) {
    case Why::kDone:
      return {};
    case Why::kForeignLink:
      return "a link of another user's, not followed";
    case Why::kNothingNamed:
      return noFile(outcome.none());
    case Why::kIsABackup:
      return "a backup, which is never converted";
    case Why::kIsARecord:
      return "hudconv's record, which is never converted";
    case Why::kCannotOpen:
      return outcome.error().text();
    case Why::kEdited:
      return "changed since its conversion";
    case Why::kEditedBackupGone:
      return "changed since its conversion, its backup deleted";
    case Why::kNewOriginal:
      return "new original (game update?)";
    case Why::kTuned:
      return "tuned by hand, kept";
    case Why::kChanged:
      return "changed during the conversion";
    case Why::kFailed:
      return shortReason(outcome.failure());
    case Why::kBadValue:
      return "line " + std::to_string(outcome.badValue().line) + ": " +
             meaningOf(outcome.badValue());
    case Why::kNoBackup:
      return "no backup";
    case Why::kNotItsOriginal:
      return "changed since its conversion";
    case Why::kBackupConverted:
      return "its backup is converted, not an original";
    case Why::kCannotPutBack:
      return "cannot put the backup back: " + outcome.error().text();
  }
  return {};
}

}  // namespace

std::string summaryLine(const Outcome& outcome, RunKind run) {
  const char* const what =
      outcome.status == status::kConverted ? "already converted"
      : outcome.status == status::kNotConverted
          ? (run == RunKind::kRestore   ? "not restored"
             : run == RunKind::kPreview ? "would not be converted"
                                        : "not converted")
          : "could not be opened";
  return std::string("  ") + what + ": " + outcome.path + " (" +
         reasonOf(outcome) + ")";
}

std::string backupsWithoutFile(const std::vector<std::string>& backups) {
  // A few by name: a run still fits a screen.
  constexpr std::size_t kNamed = 5;
  std::string names;
  for (std::size_t i = 0; i < backups.size() && i < kNamed; ++i)
    names += (i == 0 ? "" : ", ") + backups[i];
  if (backups.size() > kNamed)
    names += " and " + std::to_string(backups.size() - kNamed) + " more";
  const bool one = backups.size() == 1;
  return std::to_string(backups.size()) +
         (one ? " backup has no layout file beside it, left as it is: "
              : " backups have no layout file beside them, left as they "
                "are: ") +
         names + "; name a file to bring it back: hudconv --restore NAME";
}

std::string updateAdvice(std::size_t newOriginals) {
  return std::to_string(newOriginals) +
         (newOriginals == 1 ? " file is a new original"
                            : " files are new originals") +
         ", as a game update brings: to convert " +
         (newOriginals == 1 ? "it" : "them") +
         ", run the same command again with --update.";
}

std::string takeAllAdvice(const std::vector<std::string>& edited,
                          const std::vector<std::string>& backupsGone) {
  std::string text;
  const auto files = [](std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
  };
  if (!edited.empty())
    text = files(edited.size()) + (edited.size() == 1 ? " holds" : " hold") +
           " values hudconv wrote and was changed otherwise since (lines "
           "added, removed or rewritten): named with --update, the rest of "
           "it is converted and those values stay, with the original kept "
           "as the backup.";
  if (!backupsGone.empty() && !text.empty()) text += ' ';
  if (!backupsGone.empty())
    text += files(backupsGone.size()) +
            (backupsGone.size() == 1 ? " is" : " are") +
            " not what hudconv wrote and " +
            (backupsGone.size() == 1 ? "has" : "have") +
            (backupsGone.size() == 1 ? " no backup beside it"
                                     : " no backup beside them") +
            " (a new copy of the game's files?): named "
            "with --update, each is converted as an original; first set "
            "aside any that you tuned by hand, whose controls would move "
            "twice.";
  text += " To convert them: hudconv --update";
  for (const std::vector<std::string>* paths : {&edited, &backupsGone})
    for (const std::string& path : *paths) {
      text += ' ';
      text += quotedForShell(path);
    }
  return text;
}

}  // namespace messages
