// The words a run ends with: what they count, and how.

#include "driver/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "support/program.h"

namespace {

TEST(MessagesTest, TheSummaryCountsEachFileUnderWhatBecameOfIt) {
  const auto outcome = [](int status, bool already, const char* path,
                          Why why = Why::kDone) {
    Outcome made;
    made.status = status;
    made.already = already;
    made.path = path;
    made.why = why;
    return made;
  };
  const std::vector<Outcome> outcomes = {
      outcome(status::kConverted, false, "a"),
      outcome(status::kConverted, true, "b"),
      outcome(status::kConverted, true, "c"),
      outcome(status::kNotConverted, false, "d", Why::kEdited),
      outcome(status::kCannotOpen, false, "e", Why::kNoBackup),
  };
  const RunKind converting = RunKind::kConversion;
  const RunKind restoring = RunKind::kRestore;
  const RunKind previewing = RunKind::kPreview;
  EXPECT_EQ(messages::summary(outcomes, 0, converting),
            "5 files: 1 converted, 2 already converted, 1 not converted, 1 "
            "could not be opened.");
  EXPECT_EQ(messages::summary(outcomes, 0, restoring),
            "5 files: 1 restored, 2 already in place, 1 not restored, 1 "
            "without a backup or not opened.");
  // A preview converts nothing, and says so.
  EXPECT_EQ(messages::summary(outcomes, 2, previewing),
            "5 files: 1 would be converted, 2 already converted, 1 would not "
            "be converted, 1 could not be opened; 2 backups passed over, "
            "named along with their files. Nothing was written.");
  EXPECT_EQ(messages::summaryLine(outcomes[3], converting),
            "  not converted: d (changed since its conversion)");
  EXPECT_EQ(messages::summaryLine(outcomes[3], restoring),
            "  not restored: d (changed since its conversion)");
  EXPECT_EQ(messages::summaryLine(outcomes[3], previewing),
            "  would not be converted: d (changed since its conversion)");
  EXPECT_EQ(messages::summaryLine(outcomes[4], restoring),
            "  could not be opened: e (no backup)");
}

TEST(MessagesTest, AnyValueThatMovesIsToldWhateverItsKind) {
  // Also in the one line a preview over many files gives each.
  const struct {
    ChangeCounts changes;
    std::string made, wouldBe, briefly;
  } cases[] = {
      {{0, 1, 0, 0},
       "Changed 0 LEFT and 1 WIDTH values (0 by the built-in exceptions).",
       "Would change 0 LEFT and 1 WIDTH values (0 by the built-in "
       "exceptions). Nothing was written.",
       "would change 0 LEFT and 1 WIDTH values, 0 by an exception"},
      {{1, 0, 1, 0},
       "Changed 1 LEFT and 0 WIDTH values (1 by the built-in exceptions).",
       "Would change 1 LEFT and 0 WIDTH values (1 by the built-in "
       "exceptions). Nothing was written.",
       "would change 1 LEFT and 0 WIDTH values, 1 by an exception"},
      {{0, 0, 0, 0},
       "Nothing to move: no LEFT or WIDTH value needed changing.",
       "Nothing would move: no LEFT or WIDTH value needs changing. Nothing "
       "was written.",
       "nothing would move"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(messages::changesMade(c.changes), c.made);
    EXPECT_EQ(messages::wouldBeMade(c.changes), c.wouldBe);
    EXPECT_EQ(messages::wouldBeMadeBriefly(c.changes, false), c.briefly);
  }
}

}  // namespace

namespace {

// Each failure's words, once: in full, and in the few words of a summary.
TEST(MessagesTest, EachFailureIsToldInFullAndInAFewWords) {
  using Kind = Failure::Kind;
  const SystemError io{SystemError::Source::kErrno, EIO};
  const SystemError denied{SystemError::Source::kErrno, EACCES};
  Failure copy = stepFailed(Step::kWrite, "F/.hudconv-1", io);
  Failure kept = failureOf(Kind::kKeepOriginal, "F/a.bak", "", denied);
  kept.cause = std::make_shared<const Failure>(copy);
  Failure removed = stepFailed(Step::kFlushFolder, "F", io);
  removed.madeBackup = Failure::MadeBackup::kRemoved;
  removed.backup = "F/a.bak";
  Failure changed = failureOf(Kind::kChangedMeanwhile, "F/a");
  changed.madeBackup = Failure::MadeBackup::kNotRemoved;
  changed.backup = "F/a.bak";
  changed.backupError = denied;
  Failure leftBehind = stepFailed(Step::kSetPermissions, "F/.hudconv-2", io);
  leftBehind.leftBehind = "F/.hudconv-2";
  const struct {
    Failure failure;
    const char* full;
    const char* few;
  } cases[] = {
      {stepFailed(Step::kReadAttributes, "F/a", io),
       "cannot read the attributes of F/a: Input/output error",
       "cannot read: Input/output error"},
      {failureOf(Kind::kReadOnly, "F/a"),
       kOnWindows ? "cannot write F/a: the file is marked read-only; clear "
                    "the mark with attrib -r F/a (or untick Read-only in the "
                    "file's Properties), and run hudconv again"
                  : "cannot write F/a: the file is marked read-only; clear "
                    "the mark with chmod u+w F/a, and run hudconv again",
       "cannot write: the file is marked read-only"},
      {failureOf(Kind::kNotReplaceable, "F/a"),
       "cannot replace F/a: it belongs to another user, and its folder lets "
       "only the owner of a file replace it",
       "cannot replace: it belongs to another user, and its folder lets only "
       "the owner of a file replace it"},
      {failureOf(Kind::kOwnerWouldChange, "F/a", "ann"),
       "cannot convert F/a: it belongs to ann, and the converted file would "
       "belong to you instead, so that ann could no longer change it; ann or "
       "root can convert it",
       "cannot convert: it belongs to ann, and the converted file would "
       "belong to you instead, so that ann could no longer change it"},
      {failureOf(Kind::kRenameTo, "F/.hudconv-1", "F/a.bak", denied),
       "cannot rename F/.hudconv-1 to F/a.bak: Permission denied",
       "cannot rename: Permission denied"},
      {kept,
       "cannot keep the original as F/a.bak: a second name: Permission "
       "denied; a copy: cannot write F/.hudconv-1: Input/output error",
       "cannot keep: Permission denied"},
      {failureOf(Kind::kNotABackup, "F/a.bak", "",
                 SystemError::notARegularFile(EntryKind::kFolder)),
       "F/a.bak is a folder, not the original that hudconv keeps under that "
       "name: remove it or rename it, and run hudconv again",
       "F/a.bak is a folder"},
      {failureOf(Kind::kBackupNameTooLong, "F/a", "F/a.bak"),
       "cannot keep the original of F/a as F/a.bak: that name is too long for "
       "the file system. Give F/a a shorter name, and run hudconv again",
       "cannot keep: that name is too long for the file system. Give F/a a "
       "shorter name, and run hudconv again"},
      {failureOf(Kind::kLock, "F/a", "", denied),
       "cannot lock F/a against other runs of hudconv: Permission denied",
       "cannot lock: Permission denied"},
      {failureOf(Kind::kLock, "F/a", "",
                 SystemError::lockHeld(SystemError::LockHolder::kReader)),
       "another program is reading F/a and keeps it locked against changes; "
       "close that program, then run hudconv again",
       "another program is reading F/a and keeps it locked against changes"},
      {failureOf(Kind::kLock, "F/a", "",
                 SystemError::lockHeld(SystemError::LockHolder::kWriter)),
       "another run of hudconv (or another program) has been working on F/a "
       "for a minute and still holds it; let it finish, or close the console "
       "window it runs in, then run hudconv again",
       "another run of hudconv (or another program) has been working on F/a "
       "for a minute and still holds it"},
      {changed,
       "F/a changed during the conversion (another program wrote to it), and "
       "was left as it is now; the backup F/a.bak made for it could not be "
       "removed (Permission denied), and holds the same bytes.",
       "F/a changed during the conversion (another program wrote to it)"},
      {failureOf(Kind::kBackupAppeared, "F/a.bak", "F/a"),
       "F/a.bak appeared during the conversion, made by another program or "
       "run; F/a was left as it is now. Run hudconv again.",
       "F/a.bak appeared during the conversion"},
      {failureOf(Kind::kBackupChanged, "F/a.bak", "F/a"),
       "F/a.bak changed during the conversion, changed or removed by another "
       "program; F/a was left as it is now. Run hudconv again.",
       "F/a.bak changed during the conversion"},
      {removed,
       "cannot flush the folder F: Input/output error; the backup F/a.bak "
       "made for it was removed again",
       "cannot flush: Input/output error"},
      {leftBehind,
       "cannot set the permissions of F/.hudconv-2: Input/output error (the "
       "temporary file F/.hudconv-2 could not be removed)",
       "cannot set: Input/output error"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(messages::describe(c.failure), c.full);
    EXPECT_EQ(messages::shortReason(c.failure), c.few);
  }
}

// Why a file was not done, in the few words of its summary line, for the
// reasons no failure or bad value carries.
TEST(MessagesTest, EachReasonIsToldInAFewWords) {
  const std::string path = "F";
  const auto outcome = [&](int status, Why why) {
    Outcome made;
    made.status = status;
    made.path = path;
    made.why = why;
    return made;
  };
  const auto noneNamed = [&](NoneNamed::Kind kind, bool restore) {
    Outcome none = outcome(status::kCannotOpen, Why::kNothingNamed);
    none.detail = NoneNamed{kind, path, "*.xml", restore};
    return none;
  };
  Outcome putBack = outcome(status::kNotConverted, Why::kCannotPutBack);
  putBack.detail = SystemError{SystemError::Source::kErrno, EACCES};
  const struct {
    Outcome outcome;
    RunKind run;
    const char* line;
  } cases[] = {
      {noneNamed(NoneNamed::Kind::kNoLayoutFile, false), RunKind::kConversion,
       "  could not be opened: F (no layout file (*.gui.xml))"},
      {noneNamed(NoneNamed::Kind::kNoBackup, true), RunKind::kRestore,
       "  could not be opened: F (no file with a backup (.bak))"},
      {noneNamed(NoneNamed::Kind::kNoMatch, false), RunKind::kConversion,
       "  could not be opened: F (no file matches *.xml)"},
      {noneNamed(NoneNamed::Kind::kNoMatch, true), RunKind::kRestore,
       "  could not be opened: F (no file with a backup matches *.xml)"},
      {outcome(status::kNotConverted, Why::kIsABackup), RunKind::kConversion,
       "  not converted: F (a backup, which is never converted)"},
      {outcome(status::kNotConverted, Why::kIsARecord), RunKind::kConversion,
       "  not converted: F (hudconv's record, which is never converted)"},
      {outcome(status::kNotConverted, Why::kChanged), RunKind::kConversion,
       "  not converted: F (changed during the conversion)"},
      {outcome(status::kNotConverted, Why::kBackupConverted), RunKind::kRestore,
       "  not restored: F (its backup is converted, not an original)"},
      {putBack, RunKind::kRestore,
       "  not restored: F (cannot put the backup back: Permission denied)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(messages::summaryLine(c.outcome, c.run), c.line);
}

// A bad value's words, once for each kind, in full and in a summary.
TEST(MessagesTest, EachBadValueSaysWhatItMeansForTheLine) {
  using Kind = ConversionError::Kind;
  const struct {
    BadValue bad;
    const char* full;
    const char* few;
  } cases[] = {
      {{3, Kind::kNotANumber, "LEFT", "abc"},
       "F, line 3: invalid stoi argument: the LEFT value \"abc\" is not a "
       "whole number",
       "line 3: the LEFT value \"abc\" is not a whole number"},
      {{3, Kind::kOutOfRange, "WIDTH", "9999999999"},
       "F, line 3: stoi argument out of range: the WIDTH value \"9999999999\" "
       "does not fit a 32-bit integer",
       "line 3: the WIDTH value \"9999999999\" does not fit a 32-bit "
       "integer"},
      {{3, Kind::kEndsAtValue, "LEFT", ""},
       "F, line 3: invalid string position: the LEFT line ends right behind "
       "its Value",
       "line 3: the LEFT line ends right behind its Value"},
      {{3, Kind::kWidthOverflow, "WIDTH", "900000000"},
       "F, line 3: scaled width does not fit a 32-bit integer: the WIDTH "
       "value \"900000000\", scaled by its exception, does not fit a 32-bit "
       "integer",
       "line 3: the WIDTH value \"900000000\", scaled by its exception, "
       "does not fit a 32-bit integer"},
      {{3, Kind::kSavedAsUtf16, "", ""},
       "F, line 3: it is saved as UTF-16 (\"Unicode\" in Notepad): save it as "
       "UTF-8 or ANSI and run again",
       "line 3: it is saved as UTF-16 (\"Unicode\" in Notepad): save it as "
       "UTF-8 or ANSI and run again"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(messages::badValue("F", c.bad), c.full);
    Outcome outcome;
    outcome.status = status::kNotConverted;
    outcome.path = "F";
    outcome.why = Why::kBadValue;
    outcome.detail = c.bad;
    EXPECT_EQ(messages::summaryLine(outcome, RunKind::kConversion),
              std::string("  not converted: F (") + c.few + ")");
  }
}

}  // namespace
