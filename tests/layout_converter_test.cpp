// A whole file converted in pieces, cut anywhere: the same bytes as the
// line-by-line reference, line breaks and cut lines included.

#include "convert/layout_converter.h"

#include <gtest/gtest.h>

#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "support/convert_in_pieces.h"

namespace {

class LayoutConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buildRuleTable();
    inputFileName = "confirm_p.gui.xml";
  }
};

TEST_F(LayoutConverterTest, LineBreaksBecomeCrLfWhereverTheInputIsCut) {
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
      {"\xEF\xBB\xBFx\x1A\xFF\n", "\xEF\xBB\xBFx\x1A\xFF\r\n"},
      // A value text beyond 100 characters keeps its tail, but never the CR
      // of the line break.
      {"Label=\"LEFT\" Value=\"120\" />" + std::string(100, 'x') + "\r\n",
       "Label=\"LEFT\" Value=\"307\" />" + std::string(7, 'x') + "\r\n"},
      // A marker that ends the line counts too.
      {"<P Value=\"300\" Label=\"LEFT\"\n", "<P Value=\"367\" />\r\n"},
      // Every marker of a line counts, not only the first: LEFT wins.
      {"Label=\"WIDTH\" Label=\"LEFT\" Value=\"120\" />\n",
       "Label=\"WIDTH\" Label=\"LEFT\" Value=\"307\" />\r\n"},
      {"Label=\"TAG\" Value=\"LB_MESSAGE\" />\r\n"
       "\r\n"
       "Label=\"LEFT\" Value=\"120\" />\n"
       "Label=\"WIDTH\" Value=\"120\" />",
       "Label=\"TAG\" Value=\"LB_MESSAGE\" />\r\n"
       "\r\n"
       "Label=\"LEFT\" Value=\"40\" />\r\n"
       "Label=\"WIDTH\" Value=\"40\" />\r\n"},
      // Numbers of every length, read as a rewrite reads them.
      {"Label=\"LEFT\" Value=\"999999999\" />\n"
       "Label=\"LEFT\" Value=\"2147483647\" />\n"
       "Label=\"WIDTH\" Value=\"-2147483648\" />\n"
       "Label=\"LEFT\" Value=\" +0000000000120\" />\n",
       "Label=\"LEFT\" Value=\"333333600\" />\r\n"
       "Label=\"LEFT\" Value=\"715828149\" />\r\n"
       "Label=\"WIDTH\" Value=\"-715827882\" />\r\n"
       "Label=\"LEFT\" Value=\"307\" />\r\n"},
      // The scanner looks at 64 bytes at a time: markers and line feeds at
      // the edges of a window, between runs of bytes it must look at, a
      // line longer than a window, only line feeds, no line feed at all.
      {std::string(63, 'L') + "Label=\"LEFT\" Value=\"120\" />\n",
       std::string(63, 'L') + "Label=\"LEFT\" Value=\"307\" />\r\n"},
      {std::string(64, 'L') + "Label=\"LEFT\" Value=\"120\" />\r\n",
       std::string(64, 'L') + "Label=\"LEFT\" Value=\"307\" />\r\n"},
      {std::string(65, ' ') + "Label=\"WIDTH\" Value=\"120\" />",
       std::string(65, ' ') + "Label=\"WIDTH\" Value=\"40\" />\r\n"},
      {std::string(63, 'L') + "\nLabel=\"LEFT\" Value=\"120\" />\n",
       std::string(63, 'L') + "\r\nLabel=\"LEFT\" Value=\"307\" />\r\n"},
      {std::string(64, 'L') + "\nLabel=\"LEFT\" Value=\"120\" />\r\n",
       std::string(64, 'L') + "\r\nLabel=\"LEFT\" Value=\"307\" />\r\n"},
      {std::string(62, 'x') + "\r\n\r\n" + std::string(61, 'L') + "\n",
       std::string(62, 'x') + "\r\n\r\n" + std::string(61, 'L') + "\r\n"},
      {"Label=\"TAG\" Value=\"" + std::string(130, 'L') +
           "\" />\nLabel=\"LEFT\" Value=\"120\" />",
       "Label=\"TAG\" Value=\"" + std::string(130, 'L') +
           "\" />\r\nLabel=\"LEFT\" Value=\"307\" />\r\n"},
      {std::string(130, '\n'),
       [] {
         std::string out;
         for (int i = 0; i < 130; ++i) out += "\r\n";
         return out;
       }()},
  };
  for (const auto& c : cases) {
    for (std::size_t piece = 1; piece <= c.in.size() + 1; ++piece)
      for (const std::size_t block :
           {std::size_t{1}, std::size_t{7}, LayoutConverter::kBlockSize})
        EXPECT_EQ(convertInPieces(c.in, piece, block), c.out)
            << "input " << testing::PrintToString(c.in) << " in pieces of "
            << piece << ", blocks of " << block;
  }
}

TEST_F(LayoutConverterTest, ErrorsNameTheLineTheyStandOn) {
  const std::string nul("\0", 1);
  const std::string bad = "Label=\"LEFT\" Value=\"x\" />\n";
  const char* const tooLarge = "stoi argument out of range";
  const struct {
    std::string text;
    std::size_t line;
    const char* what;
    std::string value = "x";
  } cases[] = {
      {"a\r\n\r\nLabel=\"LEFT\" Value=\"1\" />\n" + bad, 4,
       "invalid stoi argument"},
      // A NUL byte anywhere: not text. The first error in the file is told.
      {"a\r\n\r\nb" + nul + "c\n", 3, kNulByteText, ""},
      {"a\n" + bad + "b\n" + nul, 2, "invalid stoi argument"},
      {"\xFF\xFE<" + nul + "G" + nul + "\n" + nul, 1, kNulByteText, ""},
      // Beyond 32 bits, however many digits and leading zeros; the numbers
      // that fit are in the rewrite's own tests.
      {"Label=\"LEFT\" Value=\"2147483648\" />", 1, tooLarge, "2147483648"},
      {"Label=\"LEFT\" Value=\"-2147483649\"", 1, tooLarge, "-2147483649"},
      {"Label=\"LEFT\" Value=\"0002147483648\"", 1, tooLarge, "0002147483648"},
      {"Label=\"LEFT\" Value=\"18446744073709551736\"", 1, tooLarge,
       "18446744073709551736"},
  };
  for (const auto& c : cases) {
    for (std::size_t piece = 1; piece <= c.text.size(); ++piece) {
      try {
        convertInPieces(c.text, piece, 7);
        ADD_FAILURE() << "no error";
      } catch (const ConversionError& e) {
        EXPECT_EQ(e.line(), c.line) << testing::PrintToString(c.text) << piece;
        EXPECT_STREQ(e.what(), c.what);
        // A bad value is named with its property, as it stands.
        const bool notText = std::string(c.what) == kNulByteText;
        EXPECT_EQ(e.property(), notText ? "" : "LEFT");
        EXPECT_EQ(e.value(), c.value);
      }
    }
  }
}

TEST_F(LayoutConverterTest, TellsEachChangeAndTheTextARewriteCut) {
  // Whatever the pieces, a change is told once, with what it replaced beyond
  // the number, its closing quote, white space and "/>".
  struct Told final : ChangeListener {
    std::string seen;
    void changed(const ValueChange& c) override {
      seen += std::to_string(c.line) + " " + std::string(c.control) + " " +
              (c.width ? "W" : "L") + std::to_string(c.before) + ">" +
              std::to_string(c.after) + " [" + std::string(c.cut) + "]\n";
    }
  };
  const struct {
    std::string line, told;
  } cases[] = {
      {"Label=\"LEFT\" Value=\"120\" />", "L120>40 []"},
      {"Label=\"LEFT\" Value=\" +120\"/>", "L120>40 []"},
      {"Label=\"LEFT\" Value=\"120\"", "L120>40 []"},
      {"Label=\"WIDTH\" Value=\"120\" /> <!-- x -->",
       "W120>40 [\" /> <!-- x -->]"},
      {"<P Value=\"120\" Label=\"LEFT\" />", "L120>40 [\" Label=\"LEFT\" />]"},
      {"Label=\"LEFT\" Value=\"12.5\" />", "L12>4 [.5\" />]"},
      {"Label=\"LEFT\" Value=\"120\"/>x", "L120>40 [\"/>x]"},
      {"Label=\"LEFT\" Value=\"120x/>", "L120>40 [x/>]"},
      // A number that goes on beyond the replaced text loses nothing else.
      {"Label=\"LEFT\" Value=\"" + std::string(99, ' ') + "120\" /> x",
       "L120>40 []"},
  };
  for (const auto& c : cases) {
    const std::string text =
        "Label=\"TAG\" Value=\"LB_MESSAGE\" />\n" + c.line + "\r\n";
    const bool cuts = c.told.find("[]") == std::string::npos;
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{5}, text.size()}) {
      // Told of every change, and of cuts alone, as a conversion is.
      for (const auto mode : {LayoutConverter::Told::kEveryChange,
                              LayoutConverter::Told::kCuts}) {
        Told told;
        StringSink sink(7);
        LayoutConverter converter(sink, &told, mode);
        for (std::size_t at = 0; at < text.size(); at += piece)
          converter.feed(text.data() + at, std::min(piece, text.size() - at));
        converter.finish();
        const bool toldOf = cuts || mode == LayoutConverter::Told::kEveryChange;
        EXPECT_EQ(told.seen, toldOf ? "2 LB_MESSAGE " + c.told + "\n" : "")
            << c.line << " in pieces of " << piece;
        EXPECT_EQ(converter.changes().cut, cuts ? 1u : 0u) << c.line;
      }
    }
  }
}

TEST_F(LayoutConverterTest, EachFileStartsWithoutACurrentControl) {
  // The control of the last TAG line belongs to its own file only.
  convertInPieces("Label=\"TAG\" Value=\"LB_MESSAGE\" />\n", 64, 64);
  EXPECT_EQ(convertInPieces("Label=\"LEFT\" Value=\"120\" />\n", 64, 64),
            "Label=\"LEFT\" Value=\"307\" />\r\n");
}

}  // namespace
