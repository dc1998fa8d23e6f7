// What a layout file is next to its backup, which decides whether a run
// converts it, leaves it, or refuses.

#include "driver/backup.h"

#include "command_line_fixture.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "driver/evidence.h"

namespace {

using BackupTest = ScratchTest;

TEST_F(BackupTest, AFileIsItsBackupConvertedOnlyToTheLastByte) {
  buildRuleTable();
  inputFileName = "map_p.gui.xml";
  // Several blocks of the comparison, so that a difference in the last
  // one counts too; and a file held whole, and one too large to be.
  for (const std::size_t size : {std::size_t{300000}, std::size_t{1200000}}) {
    std::string layout;
    std::string converted;
    while (layout.size() < size) {
      layout += kLayout;
      converted += kConverted;
    }
    const std::string lastChanged = converted.substr(0, converted.size() - 3) +
                                    "X" +
                                    converted.substr(converted.size() - 2);
    // Appended piece by piece: GCC 12 warns wrongly of an overlap in
    // "X" + layout.substr(1).
    std::string sameSize = "X";
    sameSize += layout.substr(1);
    const struct {
      const char* what;
      std::string file;
      std::string backup;
      bool converted, bytes;
    } cases[] = {
        {"put back", layout, layout, false, true},
        {"converted", converted, layout, true, false},
        {"converted, cut short", converted.substr(0, converted.size() - 1),
         layout, false, false},
        {"converted, then changed at its end", lastChanged, layout, false,
         false},
        {"another original of the same size", sameSize, layout, false, false},
    };
    const fs::path file = root_ / inputFileName;
    const std::string path = utf8(file);
    for (const auto& c : cases) {
      writeBytes(file, c.file);
      writeBytes(utf8Path(backupOf(path)), c.backup);
      SystemFile in;
      FileVersion state;
      ASSERT_FALSE(openForReading(path, in, state)) << c.what;
      const std::string backup = backupOf(path);
      Record record = Record::read(utf8(root_));
      Memory none("");
      Evidence evidence(in, state, path, backup, record, none);
      evidence.judgeConversion({});
      EXPECT_EQ(evidence.facts().backupConverted, c.converted)
          << c.what << size;
      EXPECT_EQ(evidence.facts().backupBytes.value_or(false), c.bytes)
          << c.what << size;
    }
  }
}

}  // namespace
