#pragma once

#include <string>
#include <variant>

#include "driver/failure.h"

// The exit statuses of one file; with several files the highest counts.
namespace status {
constexpr int kConverted = 0;     // converted, already converted, restored
constexpr int kNotConverted = 1;  // left as it was, and why
constexpr int kCannotOpen = 2;    // could not be opened, or has no backup
}  // namespace status

// What a run does to its files, as its summary tells it.
enum class RunKind { kConversion, kPreview, kRestore };

// Why a file was not done.
enum class Why {
  kDone,
  kForeignLink,       // a link of another user's, passed over
  kNothingNamed,      // a folder or a pattern that named no file: `none`
  kIsABackup,         // a backup, named to be converted
  kIsARecord,         // the folder's record, named to be converted
  kCannotOpen,        // `error`
  kEdited,            // changed since its conversion, not as kNewOriginal
  kEditedBackupGone,  // changed since its conversion, its backup deleted
  kNewOriginal,       // a new original, as a game update brings
  kTuned,             // converted, values tuned by hand since: kept (done)
  kChanged,           // another program changed it during the conversion
  kFailed,            // `failure`
  kBadValue,          // `badValue`
  kNoBackup,          // nothing to restore it from
  kNotItsOriginal,    // not what its backup became
  kBackupConverted,   // the backup holds what hudconv wrote
  kCannotPutBack,     // the backup's rename failed with `error`
};

// What became of one file, for the summary of a run over several.
struct Outcome {
  int status = status::kConverted;
  bool already = false;  // found converted, or restored, already
  std::string path;      // as reported
  Why why = Why::kDone;
  // What the reason is made from, as `why` tells: the system's error
  // (kCannotOpen, kCannotPutBack), the failure (kFailed), the bad value
  // (kBadValue), or why nothing was named (kNothingNamed).
  std::variant<std::monostate, SystemError, Failure, BadValue, NoneNamed>
      detail;

  const SystemError& error() const { return std::get<SystemError>(detail); }
  const Failure& failure() const { return std::get<Failure>(detail); }
  const BadValue& badValue() const { return std::get<BadValue>(detail); }
  const NoneNamed& none() const { return std::get<NoneNamed>(detail); }
};
