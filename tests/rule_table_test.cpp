#include "convert/rule_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kLeft = R"(<Property Label="LEFT" Value="120" />)";
const std::string kWidth = R"(<Property Label="WIDTH" Value="120" />)";

class RuleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { buildRuleTable(); }
};

TEST_F(RuleTableTest, HoldsEveryRowInOrderAndFindsIt) {
  // Written out from the table of exceptions, not from the code.
  const struct {
    const char* file;
    int control;  // counted from 1 within its file
    const char* tag;
    const char* label;
    float amount;
  } rows[] = {
      {"confirm_p.gui.xml", 1, "LB_MESSAGE", "LEFT", 0.0f},
      {"container_p.gui.xml", 1, "LB_ITEMS", "LEFT", 0.0f},
      {"container_p.gui.xml", 2, "LBL_MESSAGE", "LEFT", 0.0f},
      {"container_p.gui.xml", 3, "PROTOITEM", "LEFT", 0.0f},
      {"container_p.gui.xml", 4, "SCROLLBAR", "LEFT", 1.0f},
      {"container_p.gui.xml", 5, "BTN_OK", "LEFT", 0.0f},
      {"container_p.gui.xml", 6, "BTN_GIVEITEMS", "LEFT", 0.0f},
      {"container_p.gui.xml", 7, "BTN_CANCEL", "LEFT", 0.0f},
      {"mipc28x6_p.gui.xml", 1, "LBL_TARGET", "LEFT", 0.0f},
      {"mipc28x6_p.gui.xml", 2, "BTN_TARGET", "LEFT", 0.0f},
      {"pause_p.gui.xml", 1, "LBL_PAUSEREASON", "LEFT", 0.0f},
      {"pause_p.gui.xml", 2, "LBL_PRESS", "LEFT", 0.0f},
      {"pause_p.gui.xml", 3, "TGuiPanel", "LEFT", 0.0f},
      {"skillinfo_p.gui.xml", 1, "LB_ITEMS", "LEFT", 0.0f},
      {"skillinfo_p.gui.xml", 2, "LBL_MESSAGE", "LEFT", 0.0f},
      {"skillinfo_p.gui.xml", 3, "PROTOITEM", "LEFT", 0.0f},
      {"skillinfo_p.gui.xml", 4, "SCROLLBAR", "LEFT", 1.0f},
      {"skillinfo_p.gui.xml", 5, "BTN_OK", "LEFT", 0.0f},
      {"skillinfo_p.gui.xml", 6, "LB_SKILLS", "LEFT", 0.0f},
      {"map_p.gui.xml", 1, "LBL_Map", "LEFT", 60.0f},
      {"map_p.gui.xml", 1, "LBL_Map", "WIDTH", 3.0f},
      {"map_p.gui.xml", 2, "LBL_Area", "LEFT", 60.0f},
      {"map_p.gui.xml", 2, "LBL_Area", "WIDTH", 1.0f},
      {"gameover_p.gui.xml", 1, "BTN_LASTSAVE", "LEFT", 0.0f},
      {"gameover_p.gui.xml", 2, "BTN_LOADGAME", "LEFT", 0.0f},
      {"gameover_p.gui.xml", 3, "BTN_QUIT", "LEFT", 0.0f},
      {"gameover_p.gui.xml", 4, "LBL_MESSAGE", "LEFT", 0.0f},
      {"pwrlvlup_p.gui.xml", 1, "LB_POWERS", "LEFT", 106.0f},
      {"pwrlvlup_p.gui.xml", 2, "LB_POWERS", "WIDTH", 2.57f},
      {"ftchrgen_p.gui.xml", 1, "LB_FEATS", "LEFT", 106.0f},
      {"ftchrgen_p.gui.xml", 2, "LB_FEATS", "WIDTH", 2.57f},
      {"savename_p.gui.xml", 1, "BTN_OK", "LEFT", 0.0f},
      {"savename_p.gui.xml", 2, "EDITBOX", "LEFT", 0.0f},
      {"savename_p.gui.xml", 3, "BTN_CANCEL", "LEFT", 0.0f},
      {"savename_p.gui.xml", 4, "LBL_TITLE", "LEFT", 0.0f},
      {"abilities_p.gui.xml", 1, "LB_ABILITY", "LEFT", 106.0f},
      {"abilities_p.gui.xml", 2, "LB_ABILITY", "WIDTH", 2.57f},
  };
  // The table flattened to the same rows, in its order.
  std::vector<std::string> flat;
  for (const FileRule& file : ruleTable) {
    int control = 0;
    for (const ControlRule& rule : file.controls) {
      ++control;
      for (const PropertyRule& property : rule.properties)
        flat.push_back(file.fileName + " " + std::to_string(control) + " " +
                       rule.tag + " " + property.label + " " +
                       std::to_string(property.amount));
    }
  }
  ASSERT_EQ(flat.size(), std::size(rows));
  for (std::size_t i = 0; i < flat.size(); ++i) {
    const auto& row = rows[i];
    EXPECT_EQ(flat[i], std::string(row.file) + " " +
                           std::to_string(row.control) + " " + row.tag + " " +
                           row.label + " " + std::to_string(row.amount));
    // Its own control and label find it, also as the first match.
    const std::string line =
        std::string("<Property Label=\"") + row.label + "\" Value=\"120\" />";
    const RuleMatch match =
        lookupRule(row.file, std::string(row.tag) + "\" />", line);
    EXPECT_TRUE(match.found) << flat[i];
    EXPECT_EQ(match.amount, row.amount) << flat[i];
  }

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

}  // namespace
