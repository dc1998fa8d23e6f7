#include "convert/rule_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

const std::string kLeft = R"(<Property Label="LEFT" Value="120" />)";
const std::string kWidth = R"(<Property Label="WIDTH" Value="120" />)";

class RuleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { buildRuleTable(); }
};

TEST_F(RuleTableTest, HoldsEveryFileControlAndRowInOrder) {
  const char* files[] = {
      "confirm_p.gui.xml",  "container_p.gui.xml", "mipc28x6_p.gui.xml",
      "pause_p.gui.xml",    "skillinfo_p.gui.xml", "map_p.gui.xml",
      "gameover_p.gui.xml", "pwrlvlup_p.gui.xml",  "ftchrgen_p.gui.xml",
      "savename_p.gui.xml", "abilities_p.gui.xml"};
  const std::size_t controlsPerFile[] = {1, 7, 2, 3, 6, 2, 4, 2, 2, 4, 2};
  ASSERT_EQ(ruleTable.size(), 11u);
  std::size_t controls = 0;
  std::size_t rows = 0;
  for (std::size_t i = 0; i < ruleTable.size(); ++i) {
    EXPECT_EQ(ruleTable[i].fileName, files[i]);
    EXPECT_EQ(ruleTable[i].controls.size(), controlsPerFile[i]) << files[i];
    for (const ControlRule& control : ruleTable[i].controls) {
      ++controls;
      rows += control.properties.size();
    }
  }
  EXPECT_EQ(controls, 35u);
  EXPECT_EQ(rows, 37u);

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
      // A WIDTH line holding the word LEFT hits the LEFT row first.
      {"map_p.gui.xml", "LBL_Map\" />", kWidth + " <!-- LEFT -->", true, 60.0f},
      // Listed only for other files; unlisted file; before the first TAG.
      {"confirm_p.gui.xml", "BTN_OK\" />", kLeft, false, 0.0f},
      {"other_p.gui.xml", "LB_MESSAGE\" />", kLeft, false, 0.0f},
      {"confirm_p.gui.xml", "", kLeft, false, 0.0f},
      // File names compare exactly: case and folders count.
      {"Confirm_p.gui.xml", "LB_MESSAGE\" />", kLeft, false, 0.0f},
      {"sub/confirm_p.gui.xml", "LB_MESSAGE\" />", kLeft, false, 0.0f},
      {"confirm_p.gui.xml ", "LB_MESSAGE\" />", kLeft, false, 0.0f},
  };
  for (const Case& c : cases) {
    const RuleMatch match = lookupRule(c.file, c.tagText, c.line);
    EXPECT_EQ(match.found, c.found) << c.file << " / " << c.tagText;
    EXPECT_EQ(match.amount, c.amount) << c.file << " / " << c.tagText;
  }
}

}  // namespace
