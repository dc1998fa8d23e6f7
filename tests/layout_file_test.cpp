#include "driver/layout_file.h"

#include <gtest/gtest.h>

#include "convert/line_rewriter.h"
#include "convert/rule_table.h"

namespace {

std::string convertInPieces(const std::string& text, std::size_t pieceSize) {
  currentTagText.clear();
  LayoutConverter converter;
  for (std::size_t at = 0; at < text.size(); at += pieceSize)
    converter.feed(text.data() + at, std::min(pieceSize, text.size() - at));
  converter.finish();
  return converter.convertedText();
}

class LayoutConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buildRuleTable();
    inputFileName = "confirm_p.gui.xml";
  }
};

TEST_F(LayoutConverterTest, LineBreaksBecomeCrLfWhereverTheInputIsCut) {
  const std::string nul("\0", 1);
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"a\n", "a\r\n"},
      {"a", "a\r\n"},  // last line without a line break
      {"\n\n", "\r\n\r\n"},
      {"a\r\nb\r\n", "a\r\nb\r\n"},
      {"a\rb\r", "a\rb\r\r\n"},  // a CR not before LF stays in its line
      {"a\r\r\n", "a\r\r\n"},
      {"\xEF\xBB\xBFx" + nul + "\x1A\xFF\n",
       "\xEF\xBB\xBFx" + nul + "\x1A\xFF\r\n"},
      {"Label=\"TAG\" Value=\"LB_MESSAGE\" />\r\n"
       "\r\n"
       "Label=\"LEFT\" Value=\"120\" />\n"
       "Label=\"WIDTH\" Value=\"120\" />",
       "Label=\"TAG\" Value=\"LB_MESSAGE\" />\r\n"
       "\r\n"
       "Label=\"LEFT\" Value=\"40\" />\r\n"
       "Label=\"WIDTH\" Value=\"40\" />\r\n"},
  };
  for (const auto& c : cases) {
    for (std::size_t piece = 1; piece <= c.in.size() + 1; ++piece)
      EXPECT_EQ(convertInPieces(c.in, piece), c.out)
          << "input " << testing::PrintToString(c.in) << " in pieces of "
          << piece;
  }
}

TEST_F(LayoutConverterTest, ErrorsNameTheLineTheyStandOn) {
  const std::string text =
      "a\r\n\r\nLabel=\"LEFT\" Value=\"1\" />\nLabel=\"LEFT\" Value=\"x\" />\n";
  try {
    convertInPieces(text, 7);
    ADD_FAILURE() << "no error";
  } catch (const ConversionError& e) {
    EXPECT_EQ(e.line(), 4u);
    EXPECT_STREQ(e.what(), "invalid stoi argument");
  }
}

}  // namespace
