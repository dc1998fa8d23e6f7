// The words a run ends with: what they count, and how.

#include "driver/messages.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(messages::summary(outcomes, false),
            "5 files: 1 converted, 2 already converted, 1 not converted, 1 "
            "could not be opened.");
  EXPECT_EQ(messages::summary(outcomes, true),
            "5 files: 1 restored, 2 already in place, 1 not restored, 1 "
            "without a backup or not opened.");
  EXPECT_EQ(messages::summaryLine(outcomes[3], false),
            "  not converted: d (edited after its conversion)");
  EXPECT_EQ(messages::summaryLine(outcomes[3], true),
            "  not restored: d (edited after its conversion)");
  EXPECT_EQ(messages::summaryLine(outcomes[4], true),
            "  could not be opened: e (no backup)");
}

TEST(MessagesTest, AnyValueThatMovesIsToldWhateverItsKind) {
  const struct {
    ChangeCounts changes;
    std::string made, wouldBe;
  } cases[] = {
      {{0, 1, 0, 0},
       "Changed 0 LEFT and 1 WIDTH values (0 by the built-in exceptions).",
       "Would change 0 LEFT and 1 WIDTH values (0 by the built-in "
       "exceptions). Nothing was written."},
      {{1, 0, 1, 0},
       "Changed 1 LEFT and 0 WIDTH values (1 by the built-in exceptions).",
       "Would change 1 LEFT and 0 WIDTH values (1 by the built-in "
       "exceptions). Nothing was written."},
      {{0, 0, 0, 0},
       "Nothing to move: no LEFT or WIDTH value needed changing.",
       "Nothing would move: no LEFT or WIDTH value needs changing. Nothing "
       "was written."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(messages::changesMade(c.changes), c.made);
    EXPECT_EQ(messages::wouldBeMade(c.changes), c.wouldBe);
  }
}

}  // namespace
