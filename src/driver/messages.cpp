#include "driver/messages.h"

namespace messages {

const char kBanner[] =
    "Welcome to Quellmarch - Surround/Eyefinity HUD Converver";

const char kUsage[] =
    "Usage: hudconv FILE...\n"
    "Moves the controls of Quellmarch HUD layout files onto the centre\n"
    "monitor. Each FILE is converted in place, in turn:\n"
    "  a name such as confirm_p.gui.xml, for the file in the folder Output\n"
    "  beside hudconv; or the path of the file, wherever it lies. On Windows\n"
    "  you can also drop one or more files onto hudconv.exe.\n"
    "  The first conversion keeps the original as FILE.bak; a file that is\n"
    "  already converted is left as it is.\n"
    "  hudconv --dry-run FILE...  (or -n)\n"
    "                      shows what would change, and changes nothing\n"
    "  hudconv --restore FILE...\n"
    "                      puts each original back from FILE.bak\n"
    "  hudconv --help      shows this text\n"
    "  hudconv --version   shows the version\n"
    "  hudconv -- FILE...  takes every FILE as a file, even one named like\n"
    "                      an option\n"
    "Exit status: 0 every file converted, 1 a file not converted, 2 a file\n"
    "that cannot be opened, -1 (255) no file named.\n";

const char kNoFile[] = "Input File not specified";
const char kOutOfMemory[] = "out of memory";
const char kPreviewOfRestore[] =
    "--dry-run shows what a conversion would change; it does not go with "
    "--restore";
const char kSavedAsUtf16[] =
    "it is saved as UTF-16 (\"Unicode\" in Notepad): save it as UTF-8 or "
    "ANSI and run again";

std::string inputFileIs(const std::string& path) {
  return "Input file is: " + path;
}

std::string cannotOpenInputFile(const std::string& path) {
  return "Cannot open Input file " + path;
}

std::string changesMade(const ChangeCounts& changes) {
  if (changes.left + changes.width == 0)
    return "Nothing to move: no LEFT or WIDTH value needed changing.";
  return "Changed " + std::to_string(changes.left) + " LEFT and " +
         std::to_string(changes.width) + " WIDTH values (" +
         std::to_string(changes.byException) + " by the built-in exceptions).";
}

std::string wouldChange(const ValueChange& change) {
  std::string text = "  line " + std::to_string(change.line) + ", " +
                     (change.control.empty() ? std::string("no control")
                                             : std::string(change.control)) +
                     ": " + (change.width ? "WIDTH " : "LEFT ") +
                     std::to_string(change.before) + " -> " +
                     std::to_string(change.after);
  if (change.byException) text += " (a built-in exception)";
  return text;
}

std::string wouldBeMade(const ChangeCounts& changes) {
  if (changes.left + changes.width == 0)
    return "Nothing would move: no LEFT or WIDTH value needs changing. "
           "Nothing was written.";
  return "Would change " + std::to_string(changes.left) + " LEFT and " +
         std::to_string(changes.width) + " WIDTH values (" +
         std::to_string(changes.byException) +
         " by the built-in exceptions). Nothing was written.";
}

std::string textCut(const std::string& path, const ValueChange& change) {
  return path + ", line " + std::to_string(change.line) +
         ": the new number replaced \"" + std::string(change.cut) +
         "\" as well, which was behind the old one";
}

std::string moreTextCut(const std::string& path, std::size_t more) {
  return path + ": " + std::to_string(more) +
         " more lines lost text behind their number in the same way";
}

std::string alreadyConverted(const std::string& backup) {
  return "Already converted, so nothing was written. The original is kept "
         "as " +
         backup + ".";
}

std::string originalKept(const std::string& backup) {
  return "The original is kept as " + backup +
         "; hudconv needs it there to know that the file is converted.";
}

std::string restored(const std::string& backup) {
  return "Restored the original from " + backup + ", which is gone now.";
}

std::string failed(Step step, const std::string& path,
                   const SystemError& error) {
  static const char* const kSteps[] = {
      "cannot read",
      "cannot read the attributes of",
      "cannot read the backup",
      "cannot write",
      "cannot create a temporary file in",
      "cannot set the permissions of",
      "cannot set the time of",
      "cannot flush",
      "cannot name",
      "cannot close",
      "cannot rename",
      "cannot find",
      "cannot find the backup",
      "cannot flush the folder",
  };
  return kSteps[static_cast<int>(step)] + (" " + path) + ": " + error.text();
}

std::string temporaryFileIn(const std::string& folder) {
  return "the temporary file in " + folder;
}

std::string readOnly(const std::string& path) {
  return "cannot write " + path + ": the file is read-only";
}

std::string notReplaceable(const std::string& path) {
  return "cannot replace " + path +
         ": it belongs to another user, and its folder lets only the owner "
         "of a file replace it";
}

std::string ownerWouldChange(const std::string& path,
                             const std::string& owner) {
  return "cannot convert " + path + ": it belongs to " + owner +
         ", and the converted file would belong to you instead, so that " +
         owner + " could no longer change it; " +
         (owner == "root" ? owner : owner + " or root") + " can convert it";
}

std::string cannotRenameTo(const std::string& from, const std::string& to,
                           const SystemError& error) {
  return "cannot rename " + from + " to " + to + ": " + error.text();
}

std::string cannotKeepOriginal(const std::string& backup,
                               const SystemError& linkError,
                               const std::string& copyFailure) {
  return "cannot keep the original as " + backup +
         ": a second name: " + linkError.text() + "; a copy: " + copyFailure;
}

std::string changedMeanwhile(const std::string& path,
                             const std::string& backupNote) {
  return path +
         " changed during the conversion (another program wrote to it), and "
         "was left as it is now" +
         (backupNote.empty() ? "" : "; " + backupNote) + ".";
}

std::string backupAppeared(const std::string& backup, const std::string& path) {
  return backup +
         " appeared during the conversion, made by another program or run; " +
         path + " was left as it is now. Run hudconv again.";
}

std::string notRemoved(const std::string& temporary) {
  return " (the temporary file " + temporary + " could not be removed)";
}

std::string backupRemoved(const std::string& backup) {
  return "the backup " + backup + " made for it was removed again";
}

std::string backupNotRemoved(const std::string& backup,
                             const SystemError& error) {
  return "the backup " + backup + " made for it could not be removed (" +
         error.text() + "), and holds the same bytes";
}

std::string leftUnchanged(const std::string& reason, const std::string& what) {
  return reason + ". " + what + " was left unchanged.";
}

std::string cannotOpen(const std::string& path, const SystemError& error,
                       const std::string& mustBeIn) {
  if (error.source() == SystemError::Source::kForeignLink)
    return "cannot open " + path +
           ": it is a symbolic link that another user made to a file that is "
           "not theirs. hudconv follows a link only for the user who made it "
           "or for the owner of the file it leads to, so that whoever may "
           "write a folder cannot have your run rewrite a file elsewhere.";
  std::string text = "cannot open " + path + ": " + error.text() + ".";
  if (!mustBeIn.empty())
    text += " The layout file must be in the folder " + mustBeIn +
            " beside hudconv, or be dropped on it.";
  if (error.isNotFound()) text += " hudconv --help shows how to use it.";
  return text;
}

std::string badValue(const std::string& path, std::size_t line,
                     const std::string& reason, const std::string& property,
                     const std::string& value) {
  std::string text = path + ", line " + std::to_string(line) + ": " + reason;
  if (property.empty()) return text;
  // What the reason means for the line.
  const std::string shown = "the " + property + " value \"" + value + "\"";
  if (reason == "invalid stoi argument")
    text += ": " + shown + " is not a whole number";
  else if (reason == "stoi argument out of range")
    text += ": " + shown + " does not fit a 32-bit integer";
  else if (reason == "invalid string position")
    text += ": the " + property + " line ends right behind its Value";
  else
    text += ": " + shown +
            ", scaled by its exception, does not fit a 32-bit "
            "integer";
  return text;
}

std::string neitherOriginalNorConverted(const std::string& path,
                                        const std::string& backup) {
  return path + " is neither its backup " + backup +
         " nor that backup converted: it was edited after its conversion, or "
         "it is a new original. It was left unchanged. To convert it as a "
         "new original, delete " +
         backup +
         " and run hudconv again; to go back to the original, run hudconv "
         "--restore " +
         path + ".";
}

std::string noBackup(const std::string& path, const std::string& backup,
                     const SystemError& error) {
  return "cannot restore " + path + ": no backup " + backup + " (" +
         error.text() + "). Nothing was changed.";
}

std::string cannotPutBack(const std::string& backup, const SystemError& error) {
  return "cannot put " + backup + " back in place: " + error.text();
}

std::string unknownOption(const std::string& option) {
  return "unknown option " + option +
         " (hudconv --help lists them; hudconv -- " + option +
         " converts a file of that name)";
}

std::string notABackup(const std::string& backup, EntryKind kind) {
  const char* const what = kind == EntryKind::kFolder ? "a folder"
                           : kind == EntryKind::kLink ? "a symbolic link"
                                                      : "a device or a pipe";
  return backup + " is " + what +
         ", not the original that hudconv keeps under that name: remove it "
         "or rename it, and run hudconv again";
}

std::string backupNameTooLong(const std::string& path,
                              const std::string& backup) {
  return "cannot keep the original of " + path + " as " + backup +
         ": that name is too long for the file system. Give " + path +
         " a shorter name, and run hudconv again";
}

std::string backupChanged(const std::string& backup, const std::string& path) {
  return backup +
         " changed during the conversion, changed or removed by another "
         "program; " +
         path + " was left as it is now. Run hudconv again.";
}

std::string isABackup(const std::string& path, const std::string& original) {
  return path +
         " is the original that an earlier conversion kept, and is never "
         "converted itself. To put it back in place of " +
         original + ", run hudconv --restore " + original + ".";
}

std::string cannotRestore(const std::string& path, const std::string& reason) {
  return "cannot restore " + path + ": " + reason + ". Nothing was changed.";
}

std::string notItsOriginal(const std::string& path, const std::string& backup) {
  return cannotRestore(
      path, "it is neither " + backup +
                " converted nor the same bytes: it was edited, or " + backup +
                " is not its original. To put " + backup +
                " back all the same, delete " + path + " and rename " + backup +
                " to it by hand");
}

std::string originalInPlace(const std::string& path,
                            const std::string& backup) {
  return "The original is in place already: " + path + " and " + backup +
         " are the same file, as a run stopped before replacing it left "
         "them. Nothing was changed.";
}

std::string cannotLock(const std::string& path, const SystemError& error) {
  if (error.source() != SystemError::Source::kLockHeld)
    return "cannot lock " + path +
           " against other runs of hudconv: " + error.text();
  if (error.lockHolder() == SystemError::LockHolder::kReader)
    return "another program is reading " + path +
           " and keeps it locked against changes; close that program, then "
           "run hudconv again";
  return "another run of hudconv (or another program) has been working on " +
         path +
         " for a minute and still holds it; let it finish, or close the "
         "console window it runs in, then run hudconv again";
}

std::string passedOverLink(const std::string& path) {
  return "passed over " + path +
         ": a symbolic link that another user made to a file that is not "
         "theirs, which hudconv never follows.";
}

std::string tookFileNamedAsPattern(const std::string& path) {
  return "Took the file named " + path +
         " itself. To convert every file that the pattern matches, name "
         "their folder instead (hudconv " +
         folderOf(path) + ").";
}

std::string noMatch(const std::string& pattern, const std::string& folder,
                    bool restore) {
  return std::string(restore ? "no file with a backup" : "no file") +
         " matches " + pattern + " in " + folder + ".";
}

std::string noLayoutFileIn(const std::string& folder) {
  return "no layout file (*.gui.xml) in " + folder + ".";
}

std::string noBackupIn(const std::string& folder) {
  return "no file with a backup (.bak) in " + folder + ".";
}

std::string summary(const std::vector<Outcome>& outcomes, bool restore) {
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
  return count(outcomes.size(), "files") + ": " +
         count(done, restore ? "restored" : "converted") + ", " +
         count(already, restore ? "already in place" : "already converted") +
         ", " + count(notDone, restore ? "not restored" : "not converted") +
         ", " +
         count(notOpened, restore ? "without a backup or not opened"
                                  : "could not be opened") +
         ".";
}

std::string summaryLine(const Outcome& outcome, bool restore) {
  const char* const what = outcome.status == status::kNotConverted
                               ? (restore ? "not restored" : "not converted")
                               : "could not be opened";
  return std::string("  ") + what + ": " + outcome.path + " (" +
         outcome.reason + ")";
}

}  // namespace messages
