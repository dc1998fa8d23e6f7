#pragma once

// What the report says of one layout file: its verdict, what its
// conversion changed or would change, what was kept, and what a restore
// did or would not do.

#include <cstddef>
#include <string>

#include "convert/layout_converter.h"
#include "driver/judgement.h"
#include "driver/platform_files.h"

namespace messages {

// What the words of a file's verdict are about.
struct FileAbout {
  const std::string& path;
  const std::string& backup;
  std::size_t changedValues = 0;  // tuned by hand
  SystemError backupError;        // why no backup was found
  bool preview = false;
  bool restore = false;
};
// The sentence of `verdict`; none for a file that is simply converted.
std::string verdict(Verdict verdict, const FileAbout& about);

// The report of one file.
std::string inputFileIs(const std::string& path);
std::string cannotOpenInputFile(const std::string& path);
std::string changesMade(const ChangeCounts& changes);
// A preview: each value that would change, and what would change in all.
std::string wouldChange(const ValueChange& change);
std::string wouldBeMade(const ChangeCounts& changes);
// A run over many files: a preview's line of each, which aboutFile() puts
// behind its path; a conversion's line of each, with the backup it kept or
// the new original it took (`kept`, `newOriginal`); and once, why the
// backups must stay.
std::string aboutFile(const std::string& path, const std::string& line);
std::string wouldBeMadeBriefly(const ChangeCounts& changes, bool newOriginal);
std::string madeKeeping(const ChangeCounts& changes, const std::string& backup,
                        bool kept, bool newOriginal);
extern const char kBackupsExplained[];
// Text that a rewrite replaced along with the number.
std::string textCut(const std::string& path, const ValueChange& change);
std::string moreTextCut(const std::string& path, std::size_t more);
std::string alreadyConverted(const std::string& backup);
// Converted already, as the folder's record tells: its backup deleted, or
// not the original that it was converted from.
std::string alreadyConvertedBackupGone(const std::string& backup);
std::string alreadyConvertedBackupNotItsOriginal(const std::string& backup);
// Converted already, with `changed` values tuned by hand since.
std::string tunedKept(std::size_t changed);
// A file that is neither its backup nor that converted: a new original, or
// changed in other ways (`backupGone`: there is no backup to tell which).
std::string newOriginal(const std::string& path);
std::string changedSinceConversion(const std::string& path,
                                   const std::string& backup, bool backupGone);
// A file changed since its conversion, named with --update, converted but
// for the values hudconv wrote; in a preview, what would be done.
std::string takenAroundConverted(const std::string& backup, bool preview);
// A new original taken by --update; in a preview, what would be done.
std::string takenAsNewOriginal(bool preview);
std::string newOriginalKept(const std::string& backup);
// The folder's record: not trusted, or named to be converted.
std::string recordIgnored(const std::string& path);
// A warning, once a folder: its record is another user's, and ignored.
std::string recordNotTrusted(const std::string& path);
std::string isARecord(const std::string& path);
std::string originalKept(const std::string& backup);
std::string restored(const std::string& backup);
std::string noBackup(const std::string& path, const std::string& backup,
                     const SystemError& error);
// A backup named to be converted: how to put it back instead.
std::string isABackup(const std::string& path, const std::string& original);
// "cannot restore PATH: REASON. Nothing was changed."
std::string cannotRestore(const std::string& path, const std::string& reason);
// A file that --restore leaves, for it is not what its backup became: as
// `what` tells, tuned by hand, a new original, or changed in other ways.
std::string notItsOriginal(const std::string& path, const std::string& backup,
                           Verdict what);
std::string backupIsConverted(const std::string& path,
                              const std::string& backup);
std::string originalInPlace(const std::string& path, const std::string& backup);

}  // namespace messages
