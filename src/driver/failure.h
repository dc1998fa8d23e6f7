#pragma once

// Why a step of the driver's work did not happen, as values: what was being
// done to which file and the system's reason, a value the converter could
// not take, a name that named nothing. The words a player reads are made
// from them in messages, and nothing reads those words back.

#include <cstddef>
#include <memory>
#include <string>

#include "convert/layout_converter.h"
#include "driver/platform_files.h"

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

// A file operation that failed, with what a player needs to act.
struct Failure {
  enum class Kind {
    kStep,               // `step` on `path` failed with `error`
    kReadOnly,           // `path` has the read-only attribute
    kNotReplaceable,     // `path` is another user's, in a sticky folder
    kOwnerWouldChange,   // `path` belongs to the user `other`
    kRenameTo,           // renaming `path` to `other` failed with `error`
    kKeepOriginal,       // neither a second name `path` (`error`) nor a copy
                         // (`cause`) of the original could be made
    kNotABackup,         // what stands at the backup `path` (`error`)
    kBackupNameTooLong,  // `path` has no room for its backup `other`
    kLock,               // `path` could not be locked: `error`
    // Another program came between the steps:
    kChangedMeanwhile,  // it wrote to `path`
    kBackupAppeared,    // it made the backup `path` of `other`
    kBackupChanged,     // it changed or removed the backup `path` of `other`
  };
  // What became of a backup that was made for a replacement that failed:
  // removed again, or not; or one put in place of the old, which stays.
  enum class MadeBackup { kNone, kRemoved, kNotRemoved, kReplaced };

  Kind kind = Kind::kStep;
  Step step = Step::kRead;
  std::string path, other;
  SystemError error;
  std::shared_ptr<const Failure> cause;
  MadeBackup madeBackup = MadeBackup::kNone;
  std::string backup;       // the backup made, where one was
  SystemError backupError;  // why it is still there
  std::string leftBehind;   // a temporary file that could not be removed

  // Whether another program changed a file meanwhile: the run itself did
  // nothing wrong.
  bool changed() const {
    return kind == Kind::kChangedMeanwhile || kind == Kind::kBackupAppeared ||
           kind == Kind::kBackupChanged;
  }
};

// What a failed file operation throws.
class FileError : public std::exception {
 public:
  explicit FileError(Failure failure) : failure_(std::move(failure)) {}
  const Failure& failure() const { return failure_; }
  Failure& failure() { return failure_; }
  const char* what() const noexcept override { return "a file step failed"; }

 private:
  Failure failure_;
};

inline Failure stepFailed(Step step, const std::string& path,
                          const SystemError& error) {
  Failure failure;
  failure.step = step;
  failure.path = path;
  failure.error = error;
  return failure;
}

inline Failure failureOf(Failure::Kind kind, const std::string& path,
                         const std::string& other = "",
                         const SystemError& error = {}) {
  Failure failure;
  failure.kind = kind;
  failure.path = path;
  failure.other = other;
  failure.error = error;
  return failure;
}

// Throws the FileError of `step` on `path` when `error` tells a failure.
inline void check(const SystemError& error, Step step,
                  const std::string& path) {
  if (error) throw FileError(stepFailed(step, path, error));
}

// A value in a layout file that the converter could not take: where, why,
// and which property it was, with its text.
struct BadValue {
  std::size_t line = 0;
  ConversionError::Kind kind = ConversionError::Kind::kNotANumber;
  std::string property, value;
};

// Why a folder or a pattern named no file.
struct NoneNamed {
  enum class Kind { kNoLayoutFile, kNoBackup, kNoMatch };
  Kind kind = Kind::kNoLayoutFile;
  std::string folder;
  std::string pattern;  // for kNoMatch
  bool restore = false;
};
