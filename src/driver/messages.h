#pragma once

// Every text a player reads, in one place: the report on standard output,
// and what a failure says (main.cpp puts "hudconv: error: " in front).

#include <cstddef>
#include <string>
#include <vector>

#include "convert/layout_converter.h"
#include "driver/outcome.h"
#include "driver/platform.h"

namespace messages {

extern const char kBanner[];
extern const char kUsage[];
extern const char kNoFile[];
extern const char kOutOfMemory[];
extern const char kPreviewOfRestore[];
// Said of a file saved as UTF-16, instead of the NUL byte it holds.
extern const char kSavedAsUtf16[];

// The report of one file.
std::string inputFileIs(const std::string& path);
std::string cannotOpenInputFile(const std::string& path);
std::string changesMade(const ChangeCounts& changes);
// A preview: each value that would change, and what would change in all.
std::string wouldChange(const ValueChange& change);
std::string wouldBeMade(const ChangeCounts& changes);
// Text that a rewrite replaced along with the number.
std::string textCut(const std::string& path, const ValueChange& change);
std::string moreTextCut(const std::string& path, std::size_t more);
std::string alreadyConverted(const std::string& backup);
std::string originalKept(const std::string& backup);
std::string restored(const std::string& backup);

// The step of a file operation that failed.
enum class Step {
  kRead,
  kReadAttributes,
  kReadBackup,
  kWrite,
  kCreateTemporaryIn,
  kSetPermissions,
  kSetTime,
  kFlush,
  kName,
  kClose,
  kRename,
  kFind,
  kFindBackup,
  kFlushFolder,
};

// "cannot STEP PATH: REASON".
std::string failed(Step step, const std::string& path,
                   const SystemError& error);
// How a temporary file without a name is named in a message.
std::string temporaryFileIn(const std::string& folder);
std::string readOnly(const std::string& path);
std::string notReplaceable(const std::string& path);
// A file of another user's, which a conversion would give to this one.
std::string ownerWouldChange(const std::string& path, const std::string& owner);
std::string cannotRenameTo(const std::string& from, const std::string& to,
                           const SystemError& error);
std::string cannotKeepOriginal(const std::string& backup,
                               const SystemError& linkError,
                               const std::string& copyFailure);
// With `backupNote`, what became of the backup made for it.
std::string changedMeanwhile(const std::string& path,
                             const std::string& backupNote = "");
std::string backupAppeared(const std::string& backup, const std::string& path);
std::string notRemoved(const std::string& temporary);
// What became of the backup that a run made for a replacement that then
// failed: "the backup ... removed again".
std::string backupRemoved(const std::string& backup);
std::string backupNotRemoved(const std::string& backup,
                             const SystemError& error);

// A run that ends with the file as it was: "REASON. WHAT was left
// unchanged.", WHAT being the file's path or "The layout file".
std::string leftUnchanged(const std::string& reason, const std::string& what);
std::string cannotOpen(const std::string& path, const SystemError& error,
                       const std::string& mustBeIn);
// With the property and its value text, where the converter told them.
std::string badValue(const std::string& path, std::size_t line,
                     const std::string& reason,
                     const std::string& property = "",
                     const std::string& value = "");
std::string neitherOriginalNorConverted(const std::string& path,
                                        const std::string& backup);
std::string noBackup(const std::string& path, const std::string& backup,
                     const SystemError& error);
std::string cannotPutBack(const std::string& backup, const SystemError& error);
std::string unknownOption(const std::string& option);
// What stands at `backup`, which is no backup: what to do about it.
std::string notABackup(const std::string& backup, EntryKind kind);
std::string backupNameTooLong(const std::string& path,
                              const std::string& backup);
std::string backupChanged(const std::string& backup, const std::string& path);
// A backup named to be converted: how to put it back instead.
std::string isABackup(const std::string& path, const std::string& original);
// "cannot restore PATH: REASON. Nothing was changed."
std::string cannotRestore(const std::string& path, const std::string& reason);
std::string notItsOriginal(const std::string& path, const std::string& backup);
std::string originalInPlace(const std::string& path, const std::string& backup);
std::string cannotLock(const std::string& path, const SystemError& error);
// A link that a folder or a pattern found, and that is not followed.
std::string passedOverLink(const std::string& path);
// A file named as a pattern is written, taken as that one file.
std::string tookFileNamedAsPattern(const std::string& path);
// A pattern or a folder that names no file.
std::string noMatch(const std::string& pattern, const std::string& folder,
                    bool restore);
std::string noLayoutFileIn(const std::string& folder);
std::string noBackupIn(const std::string& folder);
// The end of a run over several files: how many came to what, and then a
// line for each one that was not done.
std::string summary(const std::vector<Outcome>& outcomes, bool restore);
std::string summaryLine(const Outcome& outcome, bool restore);

}  // namespace messages
