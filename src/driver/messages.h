#pragma once

// Every text a player reads, in one place: the report on standard output,
// and what a failure says (main.cpp puts "hudconv: error: " in front).

#include <cstddef>
#include <string>
#include <vector>

#include "convert/drift.h"
#include "convert/layout_converter.h"
#include "driver/failure.h"
#include "driver/judgement.h"
#include "driver/outcome.h"
#include "driver/platform_files.h"

namespace messages {

extern const char kBanner[];
// The usage text around its list of options.
extern const char kUsageHead[];
extern const char kUsageTail[];
extern const char kNoFile[];
extern const char kOutOfMemory[];
extern const char kPreviewOfRestore[];
extern const char kUpdateOfRestore[];
// Said of a file saved as UTF-16, instead of the NUL byte it holds.
extern const char kSavedAsUtf16[];

// What the words of a file's verdict are about.
struct FileAbout {
  std::string path, backup;
  DriftReport drift;        // against the backup, where it was judged so
  SystemError backupError;  // why no backup was found
  bool preview = false;
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
// A new original taken by --update; in a preview, what would be done.
std::string takenAsNewOriginal(bool preview);
std::string newOriginalKept(const std::string& backup);
// The folder's record: not trusted, named to be converted, not updated.
std::string recordIgnored(const std::string& path);
std::string isARecord(const std::string& path);
std::string recordNotUpdated(const Failure& failure);
std::string originalKept(const std::string& backup);
std::string restored(const std::string& backup);

// A failed file operation in full ("cannot STEP PATH: REASON", and what
// became of a backup made for it, or of a temporary file), and in the few
// words of a summary ("cannot STEP: REASON").
std::string describe(const Failure& failure);
std::string shortReason(const Failure& failure);
// How a temporary file without a name is named in a message.
std::string temporaryFileIn(const std::string& folder);
std::string notRemoved(const std::string& temporary);

// A run that ends with the file as it was: "REASON. WHAT was left
// unchanged.", WHAT being the file's path or "The layout file".
std::string leftUnchanged(const std::string& reason, const std::string& what);
std::string cannotOpen(const std::string& path, const SystemError& error,
                       const std::string& mustBeIn);
// "PATH, line N: REASON", with what the reason means for the property's
// value where the converter told them.
std::string badValue(const std::string& path, const BadValue& bad);
std::string noBackup(const std::string& path, const std::string& backup,
                     const SystemError& error);
std::string cannotPutBack(const std::string& backup, const SystemError& error);
std::string unknownOption(const std::string& option);
// A backup named to be converted: how to put it back instead.
std::string isABackup(const std::string& path, const std::string& original);
// "cannot restore PATH: REASON. Nothing was changed."
std::string cannotRestore(const std::string& path, const std::string& reason);
// A file that --restore leaves, for it is not what its backup became: tuned
// by hand, a new original, or changed in other ways.
std::string notItsOriginal(const std::string& path, const std::string& backup,
                           Drift drift);
std::string backupIsConverted(const std::string& path,
                              const std::string& backup);
std::string originalInPlace(const std::string& path, const std::string& backup);
// A link that a folder or a pattern found, and that is not followed.
std::string passedOverLink(const std::string& path);
// A file named as a pattern is written, taken as that one file.
std::string tookFileNamedAsPattern(const std::string& path);
// An argument taken without the " at its end, which cmd leaves of a \".
std::string tookWithoutStrayQuote(const std::string& taken,
                                  const std::string& given);
// A pattern or a folder that names no file.
std::string noneNamed(const NoneNamed& none);
// The end of a run over several files: how many came to what, and then a
// line for each one that was not done.
// A preview's summary says what would be done; `backupsPassedOver` counts
// the backups that came along with their files.
std::string summary(const std::vector<Outcome>& outcomes,
                    std::size_t backupsPassedOver, RunKind run);
std::string summaryLine(const Outcome& outcome, RunKind run);
// After the summary, where some files are new originals: the one command
// that takes them.
std::string updateAdvice(std::size_t newOriginals);

}  // namespace messages
