// Every text a player reads, made from the values that say what happened.

#include "driver/messages.h"

#include "driver/platform_console.h"

namespace messages {

namespace {

// A command to run, as a player pastes it: `path` quoted where the shell
// would split it.
std::string command(const std::string& options, const std::string& path) {
  return "hudconv " + (options.empty() ? "" : options + " ") +
         quotedForShell(path);
}

}  // namespace

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
const char kOutOfMemory[] = "out of memory";
const char kPreviewOfRestore[] =
    "--dry-run shows what a conversion would change; it does not go with "
    "--restore";
const char kUpdateOfRestore[] =
    "--update takes new originals for a conversion; it does not go with "
    "--restore";
const char kSavedAsUtf16[] =
    "it is saved as UTF-16 (\"Unicode\" in Notepad): save it as UTF-8 or "
    "ANSI and run again";

std::string verdict(Verdict verdict, const FileAbout& about) {
  const std::string& path = about.path;
  const std::string& backup = about.backup;
  switch (verdict) {
    case Verdict::kUnconverted:
    case Verdict::kBackupPutBack:
    case Verdict::kLeftByStoppedRun:
      return {};
    case Verdict::kNewOriginalTaken:
      return takenAsNewOriginal(about.preview);
    case Verdict::kAlreadyConverted:
      return alreadyConverted(backup);
    case Verdict::kConvertedBackupGone:
      return alreadyConvertedBackupGone(backup);
    case Verdict::kConvertedNotItsBackup:
      return alreadyConvertedBackupNotItsOriginal(backup);
    case Verdict::kTuned:
      return tunedKept(about.drift.changedValues);
    case Verdict::kNewOriginal:
      return newOriginal(path);
    case Verdict::kChanged:
      return changedSinceConversion(path, backup, false);
    case Verdict::kChangedBackupGone:
      return changedSinceConversion(path, backup, true);
    case Verdict::kRestorable:
      return restored(backup);
    case Verdict::kOriginalInPlace:
      return originalInPlace(path, backup);
    case Verdict::kNoBackup:
      return noBackup(path, backup, about.backupError);
    case Verdict::kBackupConverted:
      return backupIsConverted(path, backup);
    case Verdict::kNotItsOriginal:
      return notItsOriginal(path, backup, about.drift.drift);
  }
  return {};
}

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

std::string aboutFile(const std::string& path, const std::string& line) {
  return path + ": " + line;
}

std::string wouldBeMadeBriefly(const ChangeCounts& changes, bool newOriginal) {
  const std::string taken =
      newOriginal ? "a new original (game update?), would be kept as its "
                    "backup in place of the old one; "
                  : "";
  if (changes.left + changes.width == 0) return taken + "nothing would move";
  return taken + "would change " + std::to_string(changes.left) + " LEFT and " +
         std::to_string(changes.width) + " WIDTH values, " +
         std::to_string(changes.byException) + " by an exception";
}

std::string madeKeeping(const ChangeCounts& changes, const std::string& backup,
                        bool kept, bool newOriginal) {
  std::string text = changesMade(changes);
  if (newOriginal)
    text += " A new original (game update?): kept as " + backup +
            " in place of the old one.";
  else if (kept)
    text += " The original is kept as " + backup + ".";
  return text;
}

const char kBackupsExplained[] =
    "Leave each .bak beside its file: it is the original, the only way back "
    "to it (hudconv --restore), and it tells hudconv that the file is "
    "converted.";

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

std::string alreadyConvertedBackupGone(const std::string& backup) {
  return "Already converted (hudconv wrote these bytes), so nothing was "
         "written. Its original cannot be put back with --restore: " +
         backup + " was deleted.";
}

std::string alreadyConvertedBackupNotItsOriginal(const std::string& backup) {
  return "Already converted (hudconv wrote these bytes), so nothing was "
         "written. " +
         backup +
         " is not the original it was converted from, and --restore will "
         "not put it back.";
}

std::string tunedKept(std::size_t changed) {
  return "Already converted; " + std::to_string(changed) +
         (changed == 1 ? " value was" : " values were") +
         " changed after the conversion and " + (changed == 1 ? "is" : "are") +
         " kept. Nothing was written.";
}

std::string newOriginal(const std::string& path) {
  return path + " is a new original (a game update?) and was left unchanged; " +
         command("--update", path) + " keeps it as its backup and converts it.";
}

std::string changedSinceConversion(const std::string& path,
                                   const std::string& backup, bool backupGone) {
  if (backupGone)
    return path + " was changed since hudconv converted it, and its backup " +
           backup +
           " was deleted, so whether it was tuned by hand or replaced by a "
           "game update cannot be told. It was left unchanged. If a game "
           "update replaced it, run: " +
           command("--update", path);
  return path +
         " was changed since its conversion: it is neither its original " +
         backup +
         " nor that converted, with or without values tuned by hand. It was "
         "left unchanged. If a game update replaced it, run: hudconv "
         "--update " +
         quotedForShell(path) + " ; to go back to the original instead, move " +
         path + " away and run: " + command("--restore", path);
}

std::string takenAsNewOriginal(bool preview) {
  return preview ? "A new original (game update?): it would be kept as the "
                   "backup in place of the old one, and converted."
                 : "A new original (game update?): kept as the backup in "
                   "place of the old one, and converted.";
}

std::string newOriginalKept(const std::string& backup) {
  return "The new original is kept as " + backup +
         "; hudconv needs it there to know that the file is converted.";
}

std::string recordIgnored(const std::string& path) {
  return path +
         " (hudconv's record of the files it converted there) is damaged or "
         "of another version, and is ignored; the backups still tell what "
         "is converted, and the record is written anew at the next "
         "conversion there";
}

std::string isARecord(const std::string& path) {
  return path +
         " is hudconv's record of the files it converted in its folder, not "
         "a layout file: it is never converted.";
}

std::string recordNotUpdated(const Failure& failure) {
  return "the conversion stands, but hudconv's record of it could not be "
         "written: " +
         describe(failure) +
         ". The backup still tells that the file is converted";
}

std::string originalKept(const std::string& backup) {
  return "The original is kept as " + backup +
         "; hudconv needs it there to know that the file is converted.";
}

std::string restored(const std::string& backup) {
  return "Restored the original from " + backup + ", which is gone now.";
}

namespace {

// What each step did, as "cannot VERB[ WHAT] PATH" tells it; the summary
// keeps the verb alone.
struct StepWords {
  const char* verb;
  const char* what;
};
const StepWords kSteps[] = {
    {"cannot read", ""},
    {"cannot read", " the attributes of"},
    {"cannot read", " the backup"},
    {"cannot write", ""},
    {"cannot create", " a temporary file in"},
    {"cannot set", " the permissions of"},
    {"cannot set", " the time of"},
    {"cannot flush", ""},
    {"cannot name", ""},
    {"cannot close", ""},
    {"cannot rename", ""},
    {"cannot find", ""},
    {"cannot find", " the backup"},
    {"cannot flush", " the folder"},
};

const StepWords& wordsOf(Step step) { return kSteps[static_cast<int>(step)]; }

std::string whatStandsAt(EntryKind kind) {
  return kind == EntryKind::kFolder ? "a folder"
         : kind == EntryKind::kLink ? "a symbolic link"
                                    : "a device or a pipe";
}

std::string ownerWouldChangeReason(const std::string& owner) {
  return "it belongs to " + owner +
         ", and the converted file would belong to you instead, so that " +
         owner + " could no longer change it";
}

const char kNotReplaceableReason[] =
    "it belongs to another user, and its folder lets only the owner of a "
    "file replace it";

std::string nameTooLongReason(const std::string& path) {
  return "that name is too long for the file system. Give " + path +
         " a shorter name, and run hudconv again";
}

std::string lockHeldBy(const std::string& path,
                       SystemError::LockHolder holder) {
  if (holder == SystemError::LockHolder::kReader)
    return "another program is reading " + path +
           " and keeps it locked against changes";
  return "another run of hudconv (or another program) has been working on " +
         path + " for a minute and still holds it";
}

std::string madeBackupNote(const Failure& failure) {
  if (failure.madeBackup == Failure::MadeBackup::kReplaced)
    return failure.backup +
           " now holds the file as it is, as its new original; run hudconv "
           "again to convert it";
  if (failure.madeBackup == Failure::MadeBackup::kRemoved)
    return "the backup " + failure.backup + " made for it was removed again";
  return "the backup " + failure.backup +
         " made for it could not be removed (" + failure.backupError.text() +
         "), and holds the same bytes";
}

// The failure itself, without what became of what it made.
std::string describeItself(const Failure& f) {
  using Kind = Failure::Kind;
  switch (f.kind) {
    case Kind::kStep:
      return std::string(wordsOf(f.step).verb) + wordsOf(f.step).what + " " +
             f.path + ": " + f.error.text();
    case Kind::kReadOnly:
      return "cannot write " + f.path + ": the file is marked read-only; " +
             (thisSystem() == System::kWindows
                  ? "clear the mark with attrib -r " + quotedForShell(f.path) +
                        " (or untick Read-only in the file's Properties)"
                  : "clear the mark with chmod u+w " + quotedForShell(f.path)) +
             ", and run hudconv again";
    case Kind::kNotReplaceable:
      return "cannot replace " + f.path + ": " + kNotReplaceableReason;
    case Kind::kOwnerWouldChange:
      return "cannot convert " + f.path + ": " +
             ownerWouldChangeReason(f.other) + "; " +
             (f.other == "root" ? f.other : f.other + " or root") +
             " can convert it";
    case Kind::kRenameTo:
      return "cannot rename " + f.path + " to " + f.other + ": " +
             f.error.text();
    case Kind::kKeepOriginal:
      return "cannot keep the original as " + f.path +
             ": a second name: " + f.error.text() +
             "; a copy: " + (f.cause ? describe(*f.cause) : "");
    case Kind::kNotABackup:
      return f.path + " is " + whatStandsAt(f.error.entryKind()) +
             ", not the original that hudconv keeps under that name: remove "
             "it or rename it, and run hudconv again";
    case Kind::kBackupNameTooLong:
      return "cannot keep the original of " + f.path + " as " + f.other + ": " +
             nameTooLongReason(f.path);
    case Kind::kLock:
      if (f.error.source() != SystemError::Source::kLockHeld)
        return "cannot lock " + f.path +
               " against other runs of hudconv: " + f.error.text();
      if (f.error.lockHolder() == SystemError::LockHolder::kReader)
        return lockHeldBy(f.path, f.error.lockHolder()) +
               "; close that program, then run hudconv again";
      return lockHeldBy(f.path, f.error.lockHolder()) +
             "; let it finish, or close the console window it runs in, then "
             "run hudconv again";
    case Kind::kChangedMeanwhile:
      return f.path +
             " changed during the conversion (another program wrote to it), "
             "and was left as it is now" +
             (f.madeBackup == Failure::MadeBackup::kNone
                  ? ""
                  : "; " + madeBackupNote(f)) +
             ".";
    case Kind::kBackupAppeared:
      return f.path +
             " appeared during the conversion, made by another program or "
             "run; " +
             f.other + " was left as it is now. Run hudconv again.";
    case Kind::kBackupChanged:
      return f.path +
             " changed during the conversion, changed or removed by another "
             "program; " +
             f.other + " was left as it is now. Run hudconv again.";
  }
  return {};
}

}  // namespace

std::string describe(const Failure& failure) {
  std::string text = describeItself(failure);
  if (failure.madeBackup != Failure::MadeBackup::kNone &&
      failure.kind != Failure::Kind::kChangedMeanwhile)
    text += "; " + madeBackupNote(failure);
  if (!failure.leftBehind.empty()) text += notRemoved(failure.leftBehind);
  return text;
}

std::string shortReason(const Failure& f) {
  using Kind = Failure::Kind;
  switch (f.kind) {
    case Kind::kStep:
      return wordsOf(f.step).verb + (": " + f.error.text());
    case Kind::kReadOnly:
      return "cannot write: the file is marked read-only";
    case Kind::kNotReplaceable:
      return std::string("cannot replace: ") + kNotReplaceableReason;
    case Kind::kOwnerWouldChange:
      return "cannot convert: " + ownerWouldChangeReason(f.other);
    case Kind::kRenameTo:
      return "cannot rename: " + f.error.text();
    case Kind::kKeepOriginal:
      return "cannot keep: " + f.error.text();
    case Kind::kNotABackup:
      return f.path + " is " + whatStandsAt(f.error.entryKind());
    case Kind::kBackupNameTooLong:
      return "cannot keep: " + nameTooLongReason(f.path);
    case Kind::kLock:
      if (f.error.source() != SystemError::Source::kLockHeld)
        return "cannot lock: " + f.error.text();
      return lockHeldBy(f.path, f.error.lockHolder());
    case Kind::kChangedMeanwhile:
      return f.path +
             " changed during the conversion (another program wrote to it)";
    case Kind::kBackupAppeared:
      return f.path + " appeared during the conversion";
    case Kind::kBackupChanged:
      return f.path + " changed during the conversion";
  }
  return {};
}

std::string temporaryFileIn(const std::string& folder) {
  return "the temporary file in " + folder;
}

std::string notRemoved(const std::string& temporary) {
  return " (the temporary file " + temporary + " could not be removed)";
}

std::string leftUnchanged(const std::string& reason, const std::string& what) {
  return reason + ". " + what + " was left unchanged.";
}

namespace {

const char kStrayQuote[] =
    " (cmd passes a \" for the \\\" that ends a quoted name: leave off the "
    "last \\, or put . behind it)";

}  // namespace

std::string cannotOpen(const std::string& path, const SystemError& error,
                       const std::string& mustBeIn) {
  if (error.source() == SystemError::Source::kForeignLink)
    return "cannot open " + path +
           ": it is a symbolic link that another user made to a file that is "
           "not theirs. hudconv follows a link only for the user who made it "
           "or for the owner of the file it leads to, so that whoever may "
           "write a folder cannot have your run rewrite a file elsewhere.";
  std::string text = "cannot open " + path + ": " + error.text() + ".";
  // A name that ends in a quote is seldom a name at all.
  if (!path.empty() && path.back() == '"')
    text += std::string(" The \" at its end is stray") + kStrayQuote + ".";
  if (!mustBeIn.empty())
    text += " The layout file must be in the folder " + mustBeIn +
            " beside hudconv, or be dropped on it.";
  if (error.isNotFound()) text += " hudconv --help shows how to use it.";
  return text;
}

namespace {

// The reason for a bad value, as rewriteLine and the converter give it.
std::string reasonOf(ConversionError::Kind kind) {
  switch (kind) {
    case ConversionError::Kind::kNotANumber:
      return kNotANumberText;
    case ConversionError::Kind::kOutOfRange:
      return kOutOfRangeText;
    case ConversionError::Kind::kEndsAtValue:
      return kEndsAtValueText;
    case ConversionError::Kind::kWidthOverflow:
      return kWidthOverflowText;
    case ConversionError::Kind::kNulByte:
      return kNulByteText;
    case ConversionError::Kind::kSavedAsUtf16:
      return kSavedAsUtf16;
  }
  return {};
}

// What a bad value means for its line, in plain words; the reason itself
// where the converter told no property.
std::string meaningOf(const BadValue& bad) {
  if (bad.property.empty()) return reasonOf(bad.kind);
  const std::string shown =
      "the " + bad.property + " value \"" + bad.value + "\"";
  switch (bad.kind) {
    case ConversionError::Kind::kNotANumber:
      return shown + " is not a whole number";
    case ConversionError::Kind::kOutOfRange:
      return shown + " does not fit a 32-bit integer";
    case ConversionError::Kind::kEndsAtValue:
      return "the " + bad.property + " line ends right behind its Value";
    default:
      return shown + ", scaled by its exception, does not fit a 32-bit integer";
  }
}

}  // namespace

std::string badValue(const std::string& path, const BadValue& bad) {
  std::string text =
      path + ", line " + std::to_string(bad.line) + ": " + reasonOf(bad.kind);
  if (bad.property.empty()) return text;
  return text + ": " + meaningOf(bad);
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
  return "unknown option " + option + " (hudconv --help lists them; " +
         command("--", option) + " converts a file of that name)";
}

std::string isABackup(const std::string& path, const std::string& original) {
  return path +
         " is the original that an earlier conversion kept, and is never "
         "converted itself. To put it back in place of " +
         original + ", run " + command("--restore", original) + ".";
}

std::string cannotRestore(const std::string& path, const std::string& reason) {
  return "cannot restore " + path + ": " + reason + ". Nothing was changed.";
}

std::string notItsOriginal(const std::string& path, const std::string& backup,
                           Drift drift) {
  const std::string anyway = "to put the original back all the same, move " +
                             path +
                             " away and run: " + command("--restore", path);
  if (drift == Drift::kTuned)
    return cannotRestore(path,
                         "values were tuned by hand in it since its "
                         "conversion, and putting " +
                             backup + " back would lose them; " + anyway);
  const std::string update =
      "to convert the new one instead, run: " + command("--update", path) +
      " ; ";
  if (drift == Drift::kNewOriginal)
    return cannotRestore(
        path, "it is a new original, as a game update brings, and putting " +
                  backup + " back would put an older file in its place; " +
                  update + anyway);
  return cannotRestore(
      path, "it was changed since its conversion, and putting " + backup +
                " back would lose that. If a game update replaced it, " +
                update + anyway);
}

std::string backupIsConverted(const std::string& path,
                              const std::string& backup) {
  return cannotRestore(path, backup +
                                 " holds the file as hudconv converted it, not "
                                 "its original: put back, each control would "
                                 "move again");
}

std::string originalInPlace(const std::string& path,
                            const std::string& backup) {
  return "The original is in place already: " + path + " and " + backup +
         " are the same file, as a run stopped before replacing it left "
         "them. Nothing was changed.";
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

std::string noneNamed(const NoneNamed& none) {
  switch (none.kind) {
    case NoneNamed::Kind::kNoLayoutFile:
      return "no layout file (*.gui.xml) in " + none.folder + ".";
    case NoneNamed::Kind::kNoBackup:
      return "no file with a backup (.bak) in " + none.folder + ".";
    case NoneNamed::Kind::kNoMatch:
      break;
  }
  return std::string(none.restore ? "no file with a backup" : "no file") +
         " matches " + none.pattern + " in " + none.folder + ".";
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
      switch (outcome.none().kind) {
        case NoneNamed::Kind::kNoLayoutFile:
          return "no layout file (*.gui.xml)";
        case NoneNamed::Kind::kNoBackup:
          return "no file with a backup (.bak)";
        case NoneNamed::Kind::kNoMatch:
          break;
      }
      return std::string(outcome.none().restore ? "no file with a backup"
                                                : "no file") +
             " matches " + outcome.none().pattern;
    case Why::kIsABackup:
      return "a backup, which is never converted";
    case Why::kIsARecord:
      return "hudconv's record, which is never converted";
    case Why::kCannotOpen:
      return outcome.error().text();
    case Why::kEdited:
      return "changed since its conversion";
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

std::string updateAdvice(std::size_t newOriginals) {
  return std::to_string(newOriginals) +
         (newOriginals == 1 ? " file is a new original"
                            : " files are new originals") +
         ", as a game update brings: to convert " +
         (newOriginals == 1 ? "it" : "them") +
         ", run the same command again with --update.";
}

}  // namespace messages
