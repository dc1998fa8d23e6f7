#pragma once

// The first conversion of a layout file keeps its original beside it, as
// NAME.bak, in the same step as the replacement. A later run compares the
// file with its backup before it writes anything, so that no control is ever
// moved twice.

#include <string>

#include "convert/drift.h"
#include "driver/platform_files.h"

// Where the original of the layout file `target` is kept.
std::string backupOf(const std::string& target);
// Whether a file's bare `name` is that of a backup: it ends in ".bak", in
// any letter case. Such a file is never converted.
bool isBackupName(const std::string& name);

// Opens `backup` as the original is kept: a regular file of its own, never
// through a symbolic link.
SystemError openBackup(const std::string& backup, SystemFile& file,
                       FileVersion& state);
// Throws FileError, telling what stands at `backup` where that is not a
// backup, when opening the backup of the layout file `path` failed with
// `error` (not found is no failure).
void checkBackupOpened(const SystemError& error, const std::string& path,
                       const std::string& backup);

// What the layout file is, next to its backup.
enum class Standing {
  kNoBackup,   // not converted since backups are kept: convert it
  kOriginal,   // the backup's bytes, put back: convert it; the backup stays
  kSameFile,   // the backup itself, under both names, after a run stopped
               // between keeping the original and replacing the file
  kConverted,  // its backup converted: nothing to do
  kDifferent,  // edited after its conversion, or a new original: leave it
};

// Compares the layout file open as `in`, in the state `state`, at `path`,
// with its `backup`, whose state it tells in `backupState`. The backup is
// converted into a sink that compares each byte with the file's and stops at
// the first that differs; only where that does not match are the two
// compared as they are. Memory stays a few blocks. Leaves `in` at its start.
// Throws FileError, also where `backup` is not a regular file of its own.
Standing compareWithBackup(const SystemFile& in, const FileVersion& state,
                           const std::string& path, const std::string& backup,
                           FileVersion& backupState);

enum class Kept {
  kKept,         // the backup holds the file as it was read
  kFileChanged,  // the file is no longer the one read
  kOtherBackup,  // another run or program made a different backup meanwhile
};

// Keeps the layout file `target`, read in the state `expected`, as `backup`,
// which appears in one step: a second name of the file, or where the file
// system has none, a flushed copy with the file's mode and modification
// time. The folder is still to be flushed. Throws FileError when neither
// can be made.
Kept keepOriginal(const std::string& target, const FileVersion& expected,
                  const std::string& backup);
// The same in place of the backup there, for a new original: a flushed copy
// renamed over it, in one step. Throws FileError.
Kept replaceOriginal(const std::string& target, const FileVersion& expected,
                     const std::string& backup);

// Judges the layout file open as `in`, in the state `state`, at `layout`,
// which compareWithBackup() found neither its backup nor that converted,
// line by line against both (see judgeDrift). The backup must still be as
// `backupState` tells. Files beyond 64 MiB, held in memory here, are judged
// changed. Leaves `in` at its start. Throws FileError.
DriftReport judgeAgainstBackup(const SystemFile& in, const FileVersion& state,
                               const std::string& layout,
                               const std::string& backup,
                               const FileVersion& backupState);
