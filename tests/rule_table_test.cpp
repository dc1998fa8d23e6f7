// The built-in exceptions: which one a line finds, and what it does.

#include "convert/rule_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kLeft = R"(<Property Label="LEFT" Value="120" />)";
const std::string kWidth = R"(<Property Label="WIDTH" Value="120" />)";

class RuleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { buildRuleTable(); }
};

// What holds of every row, whatever the rows are; the lookups below pick
// the rows whose behaviour differs.
TEST_F(RuleTableTest, EveryRowIsFoundByItsOwnControlAndLabel) {
  std::size_t rows = 0;
  std::vector<std::string> files;
  for (const FileRule& file : ruleTable) {
    EXPECT_TRUE(
        file.fileName.size() > 10 &&
        file.fileName.compare(file.fileName.size() - 10, 10, "_p.gui.xml") == 0)
        << file.fileName;
    files.emplace_back(file.fileName);
    for (const ControlRule& rule : file.controls) {
      EXPECT_FALSE(rule.tag.empty()) << file.fileName;
      for (const PropertyRule& property : rule.properties) {
        ++rows;
        const bool left = property.label == "LEFT";
        EXPECT_TRUE(left || property.label == "WIDTH") << rule.tag;
        // A LEFT amount is added as a whole number; a WIDTH factor scales.
        EXPECT_TRUE(left ? property.amount == static_cast<int>(property.amount)
                         : property.amount > 0.0f)
            << rule.tag;
        const std::string line = "<Property Label=\"" +
                                 std::string(property.label) +
                                 "\" Value=\"120\" />";
        const RuleMatch match =
            lookupRule(file.fileName, std::string(rule.tag) + "\" />", line);
        EXPECT_TRUE(match.found) << file.fileName << " " << rule.tag;
        EXPECT_EQ(match.amount, property.amount)
            << file.fileName << " " << rule.tag;
      }
    }
  }
  EXPECT_EQ(rows, 37u);
  EXPECT_EQ(files.size(), 11u);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(std::unique(files.begin(), files.end()), files.end());

  buildRuleTable();
  EXPECT_EQ(ruleTable.size(), 11u) << "a second build must not duplicate";
}

TEST_F(RuleTableTest, WidthFactorIsTheFloatNearest257) {
  const float amount = ruleTable[7].controls[1].properties[0].amount;
  std::uint32_t bits;
  std::memcpy(&bits, &amount, sizeof bits);
  EXPECT_EQ(bits, 0x40247AE1u);
}

TEST_F(RuleTableTest, LookupFindsTheFirstMatchingRule) {
  struct Case {
    const char* file;
    const char* tagText;
    std::string line;
    bool found;
    float amount;
  };
  const Case cases[] = {
      // A match of 0.0 is still a match.
      {"confirm_p.gui.xml", "LB_MESSAGE\" />", kLeft, true, 0.0f},
      {"confirm_p.gui.xml", "LB_MESSAGE\" />", kWidth, false, 0.0f},
      {"map_p.gui.xml", "LBL_Map\" />", kLeft, true, 60.0f},
      {"map_p.gui.xml", "LBL_Map\" />", kWidth, true, 3.0f},
      {"map_p.gui.xml", "LBL_Area\" />", kWidth, true, 1.0f},
      // WIDTH passes over the LEFT-only control of the same name.
      {"pwrlvlup_p.gui.xml", "LB_POWERS\" />", kLeft, true, 106.0f},
      {"pwrlvlup_p.gui.xml", "LB_POWERS\" />", kWidth, true, 2.57f},
      {"abilities_p.gui.xml", "LB_ABILITY\" />", kWidth, true, 2.57f},
      {"skillinfo_p.gui.xml", "SCROLLBAR\" />", kLeft, true, 1.0f},
      // The tag is a fragment: a longer control name contains it.
      {"container_p.gui.xml", "BTN_OKAY\" />", kLeft, true, 0.0f},
      // Two listed controls in one tag text: the earlier row wins.
      {"container_p.gui.xml", "SCROLLBAR_PROTOITEM\" />", kLeft, true, 0.0f},
      // A TAG text cut short ends with the control's name.
      {"confirm_p.gui.xml", "LB_MESSAGE", kLeft, true, 0.0f},
      // A WIDTH line holding the word LEFT hits the LEFT row first.
      {"map_p.gui.xml", "LBL_Map\" />", kWidth + " <!-- LEFT -->", true, 60.0f},
      // Listed only for other files; unlisted file; before the first TAG.
      {"confirm_p.gui.xml", "BTN_OK\" />", kLeft, false, 0.0f},
      {"other_p.gui.xml", "LB_MESSAGE\" />", kLeft, false, 0.0f},
      {"confirm_p.gui.xml", "", kLeft, false, 0.0f},
      // File names ignore ASCII letter case, as the game does; control
      // names do not, and only letters fold.
      {"Confirm_p.gui.xml", "LB_MESSAGE\" />", kLeft, true, 0.0f},
      {"MAP_P.GUI.XML", "LBL_Area\" />", kWidth, true, 1.0f},
      {"map_p.gui.xml", "lbl_area\" />", kWidth, false, 0.0f},
      {"confirm_p\x0Egui.xml", "LB_MESSAGE\" />", kLeft, false, 0.0f},
      // The caller strips the folder; a name with one is another name.
      {"sub/confirm_p.gui.xml", "LB_MESSAGE\" />", kLeft, false, 0.0f},
      {"confirm_p.gui.xml ", "LB_MESSAGE\" />", kLeft, false, 0.0f},
  };
  for (const Case& c : cases) {
    const RuleMatch match = lookupRule(c.file, c.tagText, c.line);
    EXPECT_EQ(match.found, c.found) << c.file << " / " << c.tagText;
    EXPECT_EQ(match.amount, c.amount) << c.file << " / " << c.tagText;
    // The same through the lookup for one file's lines, after a TAG text
    // that named other controls.
    FileRuleLookup rules(c.file);
    rules.setTagText("LB_MESSAGE LBL_Map LB_POWERS SCROLLBAR PROTOITEM");
    rules.setTagText(c.tagText);
    const RuleMatch fast = rules.find(c.line, findMarkers(c.line));
    EXPECT_EQ(fast.found, c.found) << c.file << " / " << c.tagText;
    EXPECT_EQ(fast.amount, c.amount) << c.file << " / " << c.tagText;
  }
}

// The players' READMEs list every built-in exception as the table holds it,
// in its order: a row changed here and not there fails, and the message
// shows the lines to paste.
TEST_F(RuleTableTest, TheReadmesListEveryException) {
  std::string markdown =
      "| Screen | Control (part of its TAG) | Property | Becomes |\n"
      "|---|---|---|---|\n";
  std::string text =
      "  Screen                Control            Property  Becomes\n";
  const auto padded = [](std::string_view word, std::size_t width) {
    std::string cell(word);
    return cell +
           std::string(width > cell.size() ? width - cell.size() : 1, ' ');
  };
  for (const FileRule& file : ruleTable)
    for (const ControlRule& control : file.controls)
      for (const PropertyRule& property : control.properties) {
        std::ostringstream becomes;
        if (property.label == "LEFT")
          becomes << "a third + " << static_cast<int>(property.amount);
        else
          becomes << "a third x " << property.amount;
        markdown += "| `" + std::string(file.fileName) + "` | `" +
                    std::string(control.tag) + "` | `" +
                    std::string(property.label) + "` | " + becomes.str() +
                    " |\n";
        text += "  " + padded(file.fileName, 22) + padded(control.tag, 19) +
                padded(property.label, 10) + becomes.str() + "\n";
      }
  const struct {
    const char* file;
    std::string table;
  } readmes[] = {{"README.md", markdown}, {"package/README.txt", text}};
  for (const auto& readme : readmes) {
    std::ifstream in(std::string(HUDCONV_SOURCE_DIR) + "/" + readme.file,
                     std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_NE(bytes.str().find(readme.table), std::string::npos)
        << readme.file << " should hold, byte for byte:\n"
        << readme.table;
  }
}

}  // namespace
