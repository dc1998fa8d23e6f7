// What the report says of one layout file.

#include "driver/file_messages.h"

#include "driver/message_words.h"

namespace messages {

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
    case Verdict::kEditedTaken:
      return takenAroundConverted(backup, about.preview);
    case Verdict::kAlreadyConverted:
      return alreadyConverted(backup);
    case Verdict::kConvertedBackupGone:
      return alreadyConvertedBackupGone(backup);
    case Verdict::kConvertedNotItsBackup:
      return alreadyConvertedBackupNotItsOriginal(backup);
    case Verdict::kTuned:
    case Verdict::kNewOriginal:
    case Verdict::kEdited:
      break;
    case Verdict::kEditedBackupGone:
      return changedSinceConversion(path, backup, true);
    case Verdict::kRestorable:
      return restored(backup);
    case Verdict::kOriginalInPlace:
      return originalInPlace(path, backup);
    case Verdict::kNoBackup:
      return noBackup(path, backup, about.backupError);
    case Verdict::kBackupConverted:
      return backupIsConverted(path, backup);
  }
  // Neither its backup nor that converted.
  if (about.restore) return notItsOriginal(path, backup, verdict);
  if (verdict == Verdict::kTuned) return tunedKept(about.changedValues);
  if (verdict == Verdict::kNewOriginal) return newOriginal(path);
  return changedSinceConversion(path, backup, false);
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
         " nor that converted, and holds values hudconv wrote. It was left "
         "unchanged. To convert the rest of it and keep those values, run: " +
         command("--update", path) +
         " ; to go back to the original instead, move " + path +
         " away and run: " + command("--restore", path);
}

std::string takenAroundConverted(const std::string& backup, bool preview) {
  return std::string(preview ? "Changed since its conversion: it would be"
                             : "Changed since its conversion: it was") +
         " converted but for the values hudconv wrote in it, which stay as "
         "they are; " +
         backup + " stays its original.";
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

std::string recordNotTrusted(const std::string& path) {
  return path +
         " (a record of the files hudconv converted there) belongs to another "
         "user, not to you or the folder's owner, who may have made it up, "
         "and is ignored; the backups still tell what is converted, and your "
         "next conversion there writes a record of your own in its place";
}

std::string isARecord(const std::string& path) {
  return path +
         " is hudconv's record of the files it converted in its folder, not "
         "a layout file: it is never converted.";
}

std::string originalKept(const std::string& backup) {
  return "The original is kept as " + backup +
         "; hudconv needs it there to know that the file is converted.";
}

std::string restored(const std::string& backup) {
  return "Restored the original from " + backup + ", which is gone now.";
}

std::string noBackup(const std::string& path, const std::string& backup,
                     const SystemError& error) {
  return "cannot restore " + path + ": no backup " + backup + " (" +
         error.text() + "). Nothing was changed.";
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
                           Verdict what) {
  const std::string anyway = "to put the original back all the same, move " +
                             path +
                             " away and run: " + command("--restore", path);
  if (what == Verdict::kTuned)
    return cannotRestore(path,
                         "values were tuned by hand in it since its "
                         "conversion, and putting " +
                             backup + " back would lose them; " + anyway);
  const std::string update =
      "to convert the new one instead, run: " + command("--update", path) +
      " ; ";
  if (what == Verdict::kNewOriginal)
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

}  // namespace messages
