// The rules that say what a layout file is, each in its place in the order.

#include "driver/judgement.h"

namespace {

Judgement is(Verdict verdict) { return {verdict, Fact::kBackupFound}; }
Judgement need(Fact fact) { return {std::nullopt, fact}; }

Verdict drifted(Drift drift) {
  switch (drift) {
    case Drift::kTuned:
      return Verdict::kTuned;
    case Drift::kNewOriginal:
      return Verdict::kNewOriginal;
    case Drift::kChanged:
      break;
  }
  return Verdict::kEdited;
}

}  // namespace

// Each rule reads as: where this fact is so, the file is that. A fact not
// yet read is asked for, and the judgement is made again once it is.
Judgement judgeConversion(const Facts& facts, const Asked& asked) {
  // 1. Its backup converted: nothing to do. The record tells it without a
  //    conversion where the file holds what hudconv wrote and the backup
  //    the original it was written from. The backup itself under both
  //    names was left by a run stopped before its rename.
  if (!facts.backupFound) return need(Fact::kBackupFound);
  const bool backup = *facts.backupFound;
  if (backup) {
    if (!facts.oneFile) return need(Fact::kOneFile);
    if (*facts.oneFile) return is(Verdict::kLeftByStoppedRun);
    if (!facts.recorded) return need(Fact::kRecorded);
    if (*facts.recorded) {
      if (!facts.holdsWritten) return need(Fact::kHoldsWritten);
      if (*facts.holdsWritten) {
        if (!facts.backupOriginal) return need(Fact::kBackupOriginal);
        if (*facts.backupOriginal) return is(Verdict::kAlreadyConverted);
      }
    }
    if (!facts.backupConverted) return need(Fact::kBackupConverted);
    if (*facts.backupConverted) return is(Verdict::kAlreadyConverted);
  }
  // 2. Bytes that hudconv wrote, whatever became of the backup, as the
  //    folder's record tells or else the player's memory.
  const Judgement written = is(backup ? Verdict::kConvertedNotItsBackup
                                      : Verdict::kConvertedBackupGone);
  if (!facts.recorded) return need(Fact::kRecorded);
  if (*facts.recorded) {
    if (!facts.holdsWritten) return need(Fact::kHoldsWritten);
    if (*facts.holdsWritten) return written;
  }
  if (!facts.remembered) return need(Fact::kRemembered);
  if (*facts.remembered) return written;
  // A file named by itself with --update is taken as its new original also
  // where it cannot be judged one.
  const bool named = asked.update && asked.byName;
  // 3. No backup: an original, unless the record knows it converted and it
  //    is neither what was written nor its original now. Without the
  //    backup, a file tuned by hand and a game update's look alike, and
  //    neither may move twice.
  if (!backup) {
    if (*facts.recorded && !named) {
      if (!facts.holdsOriginal) return need(Fact::kHoldsOriginal);
      if (!*facts.holdsOriginal) return is(Verdict::kEditedBackupGone);
    }
    return is(Verdict::kUnconverted);
  }
  // 4. Its backup's bytes, put back: converted again, the backup stays.
  if (!facts.backupBytes) return need(Fact::kBackupBytes);
  if (*facts.backupBytes) return is(Verdict::kBackupPutBack);
  // 5. Neither: what it became, by its values. A file that holds none that
  //    hudconv wrote is a new original, which --update takes; one edited
  //    otherwise, named with --update, is converted around them: a value
  //    hudconv wrote never moves twice, and its backup stays the original.
  if (!facts.drift) return need(Fact::kDrift);
  const Verdict drift = drifted(facts.drift->drift);
  if (drift == Verdict::kNewOriginal && asked.update)
    return is(Verdict::kNewOriginalTaken);
  if (drift == Verdict::kEdited && named) return is(Verdict::kEditedTaken);
  return is(drift);
}

Judgement judgeRestore(const Facts& facts) {
  // 1. Nothing to put back.
  if (!facts.backupFound) return need(Fact::kBackupFound);
  if (!*facts.backupFound) return is(Verdict::kNoBackup);
  // 2. What hudconv wrote is no original, whatever its name.
  if (!facts.recorded) return need(Fact::kRecorded);
  if (*facts.recorded) {
    if (!facts.holdsWritten) return need(Fact::kHoldsWritten);
    if (*facts.holdsWritten) return is(Verdict::kBackupConverted);
  }
  if (!facts.remembered) return need(Fact::kRemembered);
  if (*facts.remembered) return is(Verdict::kBackupConverted);
  // 3. A file that is gone is put back.
  if (!facts.fileFound) return need(Fact::kFileFound);
  if (!*facts.fileFound) return is(Verdict::kRestorable);
  // 4. Left by a run stopped before its rename: the file is the original.
  if (!facts.oneFile) return need(Fact::kOneFile);
  if (*facts.oneFile) return is(Verdict::kOriginalInPlace);
  // 5. Its backup converted, or its bytes: nothing of the player's is lost.
  if (!facts.backupConverted) return need(Fact::kBackupConverted);
  if (*facts.backupConverted) return is(Verdict::kRestorable);
  if (!facts.backupBytes) return need(Fact::kBackupBytes);
  if (*facts.backupBytes) return is(Verdict::kRestorable);
  // 6. Anything else is kept: tuned, a new original, or changed otherwise.
  if (!facts.drift) return need(Fact::kDrift);
  return is(drifted(facts.drift->drift));
}

Ruling rulingOf(Verdict verdict, bool restore) {
  constexpr int kLeft = status::kNotConverted;
  // A restore puts back only what nothing of the player's is lost to.
  if (restore &&
      (verdict == Verdict::kTuned || verdict == Verdict::kNewOriginal ||
       verdict == Verdict::kEdited))
    return {.status = kLeft, .why = Why::kNotItsOriginal};
  switch (verdict) {
    case Verdict::kUnconverted:
      return {.convert = true, .keepOriginal = true};
    case Verdict::kBackupPutBack:
    case Verdict::kLeftByStoppedRun:
      return {.convert = true};
    case Verdict::kNewOriginalTaken:
      return {.convert = true, .replaceBackup = true};
    case Verdict::kEditedTaken:
      return {.convert = true, .keepConverted = true};
    case Verdict::kAlreadyConverted:
    case Verdict::kConvertedBackupGone:
    case Verdict::kConvertedNotItsBackup:
    case Verdict::kOriginalInPlace:
      return {.already = true};
    case Verdict::kTuned:
      return {.why = Why::kTuned, .already = true};
    case Verdict::kNewOriginal:
      return {.status = kLeft, .why = Why::kNewOriginal};
    case Verdict::kEdited:
      return {.status = kLeft, .why = Why::kEdited};
    case Verdict::kEditedBackupGone:
      return {.status = kLeft, .why = Why::kEditedBackupGone};
    case Verdict::kRestorable:
      return {};
    case Verdict::kNoBackup:
      return {.status = status::kCannotOpen, .why = Why::kNoBackup};
    case Verdict::kBackupConverted:
      return {.status = kLeft, .why = Why::kBackupConverted};
  }
  return {};
}
