#pragma once

// The first conversion of a layout file keeps its original beside it, as
// NAME.bak, in the same step as the replacement. A later run compares the
// file with its backup before it writes anything, so that no control is ever
// moved twice (see Evidence).

#include <string>

#include "driver/platform_files.h"

// Where the original of the layout file `target` is kept, and the layout
// file whose original `backup` is.
std::string backupOf(const std::string& target);
std::string fileOfBackup(const std::string& backup);
// Whether `backup` is where the original of `target` is kept.
bool isBackupOf(const std::string& backup, const std::string& target);
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
