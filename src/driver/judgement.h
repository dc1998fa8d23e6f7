#pragma once

// What a layout file is, decided from what is known of it and nothing else:
// no file is read here. The facts are read one at a time, in the order the
// rules ask for them (see Evidence), so that a file is read only as far as
// its judgement needs.

#include <optional>

#include "convert/drift.h"
#include "driver/outcome.h"

// The facts about one layout file, each unknown until read.
struct Facts {
  std::optional<bool> backupFound;      // NAME.bak is there
  std::optional<bool> oneFile;          // the file and its backup are one file
                                        // under both names
  std::optional<bool> fileFound;        // (restore) the layout file is there
  std::optional<bool> backupConverted;  // the file is its backup converted
  std::optional<bool> backupBytes;      // the file holds its backup's bytes
  std::optional<bool> recorded;         // the folder's record knows the file
  // The file (for a restore, its backup) holds the bytes that the record
  // says hudconv wrote; the file holds the original the record knows.
  std::optional<bool> holdsWritten;
  std::optional<bool> holdsOriginal;
  std::optional<bool> backupOriginal;  // the backup holds the original the
                                       // record knows
  // The file (for a restore, its backup) holds bytes that the player's
  // memory says hudconv wrote, wherever.
  std::optional<bool> remembered;
  std::optional<DriftReport> drift;  // the file line by line against the
                                     // backup and its conversion
};

// The fact that a judgement needs next.
enum class Fact {
  kBackupFound,
  kOneFile,
  kFileFound,
  kBackupConverted,
  kBackupBytes,
  kRecorded,
  kHoldsWritten,
  kHoldsOriginal,
  kBackupOriginal,
  kRemembered,
  kDrift,
};

// What a layout file is, as a player would say it, and so what is done.
enum class Verdict {
  // Converted now:
  kUnconverted,       // never converted: the original is kept as the backup
  kBackupPutBack,     // its backup's bytes, put back: the backup stays
  kLeftByStoppedRun,  // the backup itself under both names: the backup stays
  kNewOriginalTaken,  // a new original, taken by --update: kept in place of
                      // the old backup
  kEditedTaken,       // changed since, named with --update: converted but
                      // for the values hudconv wrote; the backup stays
  // Left as it is:
  kAlreadyConverted,       // its backup converted
  kConvertedBackupGone,    // what hudconv wrote, as the record tells
  kConvertedNotItsBackup,  // the same, its backup not its original
  kEditedBackupGone,       // edited since, and its backup is gone
  // Neither its backup nor that converted; never restored either:
  kTuned,        // converted, values tuned by hand since: kept
  kNewOriginal,  // a new original, as a game update brings
  kEdited,       // changed since its conversion in other ways
  // A restore:
  kRestorable,       // missing, its backup converted, or the backup's bytes
  kOriginalInPlace,  // the original already, under both names
  kNoBackup,         // nothing to restore it from
  kBackupConverted,  // the backup holds what hudconv wrote
};

// What the player asked for the file.
struct Asked {
  bool update = false;  // --update
  bool byName = false;  // named by itself, not found by a folder or pattern
};

// A verdict, or else the fact that must be read before one can be given.
struct Judgement {
  std::optional<Verdict> verdict;
  Fact next = Fact::kBackupFound;
};

// The rules, in the order they apply, for a conversion and for a restore.
Judgement judgeConversion(const Facts& facts, const Asked& asked);
Judgement judgeRestore(const Facts& facts);

// What a verdict means for a conversion, or for a `restore`.
struct Ruling {
  int status = status::kConverted;
  Why why = Why::kDone;
  bool already = false;        // done already: nothing is written
  bool convert = false;        // the file is converted
  bool keepOriginal = false;   // its original is kept as the backup
  bool replaceBackup = false;  // it is kept in place of the backup there
  bool keepConverted = false;  // the values hudconv wrote in it stay as
                               // they are
};
Ruling rulingOf(Verdict verdict, bool restore);

// A verdict given, with what it means.
struct Decision {
  Verdict verdict = Verdict::kUnconverted;
  Ruling ruling;
};
