// What a layout file is next to its backup, which decides whether a run
// converts it, leaves it, or refuses.

#include "driver/backup.h"

#include "command_line_fixture.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"

namespace {

using BackupTest = ScratchTest;

TEST_F(BackupTest, AFileIsItsBackupConvertedOnlyToTheLastByte) {
  buildRuleTable();
  inputFileName = "map_p.gui.xml";
  // Several blocks of the comparison, so that a difference in the last
  // one counts too.
  std::string layout;
  std::string converted;
  while (layout.size() < 300000) {
    layout += kLayout;
    converted += kConverted;
  }
  const std::string lastChanged = converted.substr(0, converted.size() - 3) +
                                  "X" + converted.substr(converted.size() - 2);
  // Appended piece by piece: GCC 12 warns wrongly of an overlap in
  // "X" + layout.substr(1).
  std::string sameSize = "X";
  sameSize += layout.substr(1);
  const struct {
    const char* what;
    std::string file;
    std::string backup;
    Standing standing;
  } cases[] = {
      {"put back", layout, layout, Standing::kOriginal},
      {"converted", converted, layout, Standing::kConverted},
      {"converted, cut short", converted.substr(0, converted.size() - 1),
       layout, Standing::kDifferent},
      {"converted, then changed at its end", lastChanged, layout,
       Standing::kDifferent},
      {"another original of the same size", sameSize, layout,
       Standing::kDifferent},
  };
  const fs::path file = root_ / inputFileName;
  const std::string path = utf8(file);
  for (const auto& c : cases) {
    writeBytes(file, c.file);
    writeBytes(utf8Path(backupOf(path)), c.backup);
    SystemFile in;
    FileVersion state;
    ASSERT_FALSE(openForReading(path, in, state)) << c.what;
    FileVersion backupState;
    EXPECT_EQ(compareWithBackup(in, state, path, backupOf(path), backupState),
              c.standing)
        << c.what;
  }
}

}  // namespace
