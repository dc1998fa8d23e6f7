// One line rewritten: the numbers it gets and the errors it raises.

#include "convert/line_rewriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "convert/rule_table.h"

namespace {

class LineRewriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buildRuleTable();
    inputFileName = "unlisted_p.gui.xml";
    currentTagText.clear();
  }

  static std::string line(const std::string& label, const std::string& value) {
    return "    <Property Label=\"" + label + "\" Value=\"" + value + "\" />";
  }
};

TEST_F(LineRewriterTest, DefaultRulesMoveValuesToTheCentre) {
  struct Case {
    const char* label;
    const char* value;
    const char* written;  // nullptr: the line stays as it was
  };
  const Case cases[] = {
      {"LEFT", "120", "307"},
      {"LEFT", "1", "267"},
      {"LEFT", "2", "267"},
      {"LEFT", "800", "533"},
      {"LEFT", "0", nullptr},
      {"LEFT", "-40", nullptr},
      {"LEFT", " +0120", "307"},
      {"LEFT", "\t\n\v\f\r 120", "307"},  // all the white space strtol skips
      {"LEFT", "12.5", "271"},
      {"LEFT", "2147483647", "715828149"},
      {"WIDTH", "300", "100"},
      {"WIDTH", "799", "266"},
      {"WIDTH", "800", nullptr},
      {"WIDTH", "800.5", nullptr},
      {"WIDTH", "0", "0"},
      {"WIDTH", "-5", "-1"},
      {"WIDTH", "2", "0"},
      {"WIDTH", "-2147483648", "-715827882"},
  };
  for (const Case& c : cases) {
    const std::string in = line(c.label, c.value);
    const std::string expected = c.written ? line(c.label, c.written) : in;
    EXPECT_EQ(rewriteLine(in), expected) << in;
  }
}

TEST(NumberWriterTest, WritesAsPrintfDoesAtEveryNumberOfDigits) {
  // Where a digit pair gives way to a single digit, and the limits.
  for (const std::int32_t number :
       {0, 9, 10, 11, 99, 100, 101, 1009, 1010, 99999, 100000, -1, -10, -100,
        INT32_MAX, INT32_MIN}) {
    char at[16] = {};
    char* const end = writeNumber(at, number);
    EXPECT_EQ(std::string(at, end), std::to_string(number));
  }
}

TEST_F(LineRewriterTest, ExceptionsReplaceShiftAndFactor) {
  // LEFT: a third plus the amount; WIDTH: the third times the amount in float.
  const char* cases[][5] = {
      // file, control, label, value read, value written
      {"pwrlvlup_p.gui.xml", "LB_POWERS", "LEFT", "120", "146"},
      {"confirm_p.gui.xml", "LB_MESSAGE", "LEFT", "120", "40"},
      {"map_p.gui.xml", "LBL_Map", "WIDTH", "100", "99"},
      {"ftchrgen_p.gui.xml", "LB_FEATS", "WIDTH", "120", "102"},
      // 100 * 2.57f rounds to 257.0f; kept in double it would give 256.
      {"abilities_p.gui.xml", "LB_ABILITY", "WIDTH", "300", "257"},
      // -40 * 2.57 = -102.8 is cut toward zero, not floored.
      {"abilities_p.gui.xml", "LB_ABILITY", "WIDTH", "-120", "-102"},
      {"map_p.gui.xml", "LBL_Map", "WIDTH", "800", "800"},
      {"map_p.gui.xml", "LBL_Map", "LEFT", "0", "0"},
      // The confirm screen has no WIDTH exception: the default third applies.
      {"confirm_p.gui.xml", "LB_MESSAGE", "WIDTH", "300", "100"},
  };
  for (const auto& c : cases) {
    inputFileName = c[0];
    rewriteLine(line("TAG", c[1]));
    EXPECT_EQ(rewriteLine(line(c[2], c[3])), line(c[2], c[4])) << c[0];
  }
}

TEST_F(LineRewriterTest, BadValuesRaiseTheirErrors) {
  struct Case {
    std::string line;
    const char* text;
  };
  const Case cases[] = {
      {line("LEFT", ""), "invalid stoi argument"},
      {line("WIDTH", "wide"), "invalid stoi argument"},
      {line("LEFT", "-"), "invalid stoi argument"},
      {line("LEFT", "2147483648"), "stoi argument out of range"},
      {line("WIDTH", "-2147483649"), "stoi argument out of range"},
      {line("LEFT", "99999999999999999999999"), "stoi argument out of range"},
      {R"(Label="LEFT" Value)", "invalid string position"},
      {R"(Label="WIDTH" Value=)", "invalid string position"},
      {R"(Label="TAG" Value=)", "invalid string position"},
  };
  for (const Case& c : cases) {
    try {
      rewriteLine(c.line);
      ADD_FAILURE() << "no error for " << c.line;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.text) << c.line;
      const bool invalid = dynamic_cast<const std::invalid_argument*>(&e);
      const bool range = dynamic_cast<const std::out_of_range*>(&e);
      EXPECT_TRUE(c.text == std::string("invalid stoi argument") ? invalid
                                                                 : range);
    }
  }
  // A scaled width beyond 32 bits is refused rather than wrapped: the word
  // LEFT in a WIDTH line brings the LEFT offset 106 in as its factor.
  inputFileName = "pwrlvlup_p.gui.xml";
  rewriteLine(line("TAG", "LB_POWERS"));
  EXPECT_THROW(rewriteLine(line("WIDTH", "2000000000") + " LEFT"),
               std::out_of_range);
}

TEST_F(LineRewriterTest, SpliceReplacesAtMostAHundredCharacters) {
  // The old value and whatever follows it give way to the new number.
  EXPECT_EQ(rewriteLine(R"(Label="LEFT" Value="120"/> <!-- x -->)"),
            R"(Label="LEFT" Value="307" />)");
  const std::string tail(30, 't');
  const std::string valueText = "120\"" + std::string(96, 'x') + tail;
  ASSERT_EQ(valueText.size(), 130u);
  EXPECT_EQ(rewriteLine("\tLabel=\"LEFT\" Value=\"" + valueText),
            "\tLabel=\"LEFT\" Value=\"307\" />" + tail);
  // The hundred count on the value text, not on the line: a long line with
  // a short value text loses all of it.
  const std::string indent(120, ' ');
  EXPECT_EQ(rewriteLine(indent + R"(Label="LEFT" Value="120" /> <!-- x -->)"),
            indent + R"(Label="LEFT" Value="307" />)");
  // Value before the label: the label is swallowed with the value text.
  EXPECT_EQ(rewriteLine(R"(<P Value="120" Label="LEFT" />)"),
            R"(<P Value="307" />)");
  // The first `Value` counts, even inside a longer attribute name.
  EXPECT_EQ(rewriteLine(R"(<P DefaultValue="12" Label="WIDTH" Value="300" />)"),
            R"(<P DefaultValue="4" />)");
}

TEST_F(LineRewriterTest, TagLinesSetTheCurrentControl) {
  const std::string tag = line("TAG", "LB_ITEMS");
  EXPECT_EQ(rewriteLine(tag), tag);
  EXPECT_EQ(currentTagText, "LB_ITEMS\" />");
  rewriteLine(R"(<Property Label="TAG" />)");  // no Value: kept
  EXPECT_EQ(currentTagText, "LB_ITEMS\" />");
  rewriteLine(line("TOP", "5"));  // other lines do not clear it
  EXPECT_EQ(currentTagText, "LB_ITEMS\" />");
  rewriteLine(R"(<Property Label="TAG" Value=")");
  EXPECT_EQ(currentTagText, "");

  // A TAG line that is also a LEFT line is looked up with its own tag text.
  inputFileName = "confirm_p.gui.xml";
  EXPECT_EQ(rewriteLine(R"(Label="TAG" Label="LEFT" Value="120 LB_MESSAGE")"),
            R"(Label="TAG" Label="LEFT" Value="40" />)");
}

TEST_F(LineRewriterTest, OnlyExactMarkersAreRewritten) {
  const std::string untouched[] = {
      "",
      line("TOP", "120"),
      line("left", "120"),
      "<Property Label='LEFT' Value=\"120\" />",
      "<Property Label = \"LEFT\" Value=\"120\" />",
      line("LEFTX", "120"),
      R"(<Property Label="LEFT" />)",  // value on another line
      R"(  Value="120" />)",
  };
  for (const std::string& in : untouched) EXPECT_EQ(rewriteLine(in), in);
  // A line holding both labels is a LEFT line; a marker counts anywhere.
  EXPECT_EQ(rewriteLine(R"(Label="WIDTH" Label="LEFT" Value="120" />)"),
            R"(Label="WIDTH" Label="LEFT" Value="307" />)");
  EXPECT_EQ(rewriteLine(R"(<P Name='Label="LEFT"' Value="3" />)"),
            R"(<P Name='Label="LEFT"' Value="268" />)");
}

}  // namespace
