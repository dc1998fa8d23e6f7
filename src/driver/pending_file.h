#pragma once

#include <cstddef>
#include <string>

#include "driver/failure.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"

// A new file in the folder of the file it is to become: without a name while
// it is written where the system allows, so that a run that is killed leaves
// nothing behind, and removed again unless it was renamed into place. While
// it has a name, it holds that name's cover against signals (SignalCleanup),
// which it lets go of once it is renamed or removed. The new layout file and
// the copy kept as a backup both start as one.
class PendingFile {
 public:
  // Creates it in `folder`. Throws FileError.
  explicit PendingFile(const std::string& folder);
  ~PendingFile() { discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const SystemFile& file() const { return file_; }
  // Where it is named, once it is; empty before.
  const std::string& path() const { return path_; }
  // The file as a message names it.
  std::string name() const;
  // Throws FileError: "cannot STEP" the file, when `error` tells a failure.
  void check(const SystemError& error, Step step) const;

  // Gives it a name, where it had none, and closes it; where the system
  // allows, it stays held from other runs until it is renamed or removed.
  // Throws FileError.
  void nameAndClose();
  // Renames it, once named and closed, over `target` or to `target` unless
  // that exists, in one step; returns the system's error.
  SystemError renameOver(const std::string& target);
  SystemError renameNoReplace(const std::string& target);
  // Removes it unless it was renamed; false when it stays behind, at path().
  bool discard();

 private:
  SystemError renamed(const SystemError& error);

  std::string folder_, path_;
  SystemFile file_, hold_;
  SignalCleanup cleanup_;
  bool done_ = false;  // renamed, or removed
};
