// libFuzzer target: arbitrary bytes as a layout file, converted in memory the
// way the program converts a file. The first byte picks the file name among
// the exception table's names and one it does not list, so that exception
// rules are reached; the second picks where the input is cut into pieces and
// how large the output blocks are, and around which line feed or `L` it is
// also cut in two at every offset within 64 bytes. Checks, beyond "no crash, no
// sanitizer report":
//   - fed in pieces, the output is the same as fed in one piece;
//   - a failure is a ConversionError with one of the known texts, and the
//     kind that goes with it;
//   - otherwise there is exactly one output line per input line;
//   - a line without a LEFT or WIDTH marker comes back unchanged;
//   - a changed line keeps everything before its value text, and the new
//     number is followed directly by `" />`;
//   - each line is what rewriteLine makes of it, given the lines before it:
//     the whole-file conversion finds markers and exceptions its own way;
//   - a conversion, also one that fails, leaves currentTagText as the
//     lines before it would, each given to rewriteLine;
//   - a line's cut text is told exactly when the text a rewrite replaced
//     holds more than the number, its quote, white space and "/>".

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "support/convert_in_pieces.h"

namespace {

void require(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  std::fprintf(stderr, "property broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

const std::vector<std::string>& fileNames() {
  static const std::vector<std::string> names = [] {
    buildRuleTable();
    std::vector<std::string> result;
    for (const FileRule& file : ruleTable) result.emplace_back(file.fileName);
    result.push_back("unlisted_p.gui.xml");
    return result;
  }();
  return names;
}

// The lines of the input as the converter sees them: split at LF, a CR
// directly before it dropped, a last line without LF kept if not empty.
std::vector<std::string> inputLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = text.find('\n', start)) != std::string::npos;
       start = lf + 1) {
    std::string line = text.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The converted text holds no LF but the CR LF behind each line.
std::vector<std::string> outputLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = text.find('\n', start)) != std::string::npos;
       start = lf + 1) {
    require(lf > start && text[lf - 1] == '\r', "every line ends with CR LF",
            text);
    lines.push_back(text.substr(start, lf - 1 - start));
  }
  require(start == text.size(), "nothing follows the last CR LF", text);
  return lines;
}

bool contains(const std::string& line, const char* marker) {
  return line.find(marker) != std::string::npos;
}

// For a line that is just `Label="LEFT" Value="N" />` or the same for WIDTH,
// in a file without exceptions: the line the default rules make of it,
// worked out here on their own. False for any other line.
bool plainLineConverted(const std::string& in, std::string& expected) {
  const std::string valueStart = "\" Value=\"";
  const std::string end = "\" />";
  const bool left = in.rfind("Label=\"LEFT", 0) == 0;
  const std::string label = left ? "Label=\"LEFT" : "Label=\"WIDTH";
  if (!left && in.rfind(label, 0) != 0) return false;
  const std::size_t digits = label.size() + valueStart.size();
  if (in.compare(label.size(), valueStart.size(), valueStart) != 0 ||
      in.size() < digits + end.size() ||
      in.compare(in.size() - end.size(), end.size(), end) != 0)
    return false;
  const std::string number = in.substr(digits, in.size() - end.size() - digits);
  const bool negative = !number.empty() && number[0] == '-';
  const std::size_t first = negative ? 1 : 0;
  if (number.size() <= first || number.size() - first > 9 ||
      number.find_first_not_of("0123456789", first) != std::string::npos)
    return false;
  const long value = std::stol(number);
  // C++ divides toward zero, as the rule does.
  if (left ? value <= 0 : value == 800)
    expected = in;
  else
    expected = in.substr(0, digits) +
               std::to_string(left ? value / 3 + 267 : value / 3) + end;
  return true;
}

void checkLine(const std::string& in, const std::string& out, bool listed) {
  std::string expected;
  if (!listed && plainLineConverted(in, expected))
    require(out == expected, "a plain line gets the default rule's number",
            in + "\n" + out + "\nexpected " + expected);
  if (in == out) return;
  require(contains(in, "Label=\"LEFT\"") || contains(in, "Label=\"WIDTH\""),
          "only LEFT and WIDTH lines change", in + "\n" + out);
  const std::size_t valuePos = in.find("Value");
  require(valuePos != std::string::npos, "a changed line has a Value", in);
  const std::size_t start = valuePos + 7;
  require(start <= in.size() && out.compare(0, start, in, 0, start) == 0,
          "the text before the value is kept", in + "\n" + out);
  std::size_t end = start;
  if (end < out.size() && out[end] == '-') ++end;
  const std::size_t digits = end;
  while (end < out.size() && out[end] >= '0' && out[end] <= '9') ++end;
  require(end > digits && out.compare(end, 4, "\" />") == 0,
          "the new number is followed by \" />", in + "\n" + out);
}

// What the rewrite of the changed line `in` replaced beyond its number, the
// quote, white space and "/>", worked out here on its own; empty where that
// was all.
std::string cutText(const std::string& in) {
  const std::size_t start = in.find("Value") + 7;
  const std::size_t replacedEnd = std::min(start + 100, in.size());
  std::size_t at = start;
  const std::string spaces = " \t\n\v\f\r";
  while (at < in.size() && spaces.find(in[at]) != std::string::npos) ++at;
  if (at < in.size() && (in[at] == '+' || in[at] == '-')) ++at;
  while (at < in.size() && in[at] >= '0' && in[at] <= '9') ++at;
  if (at >= replacedEnd) return "";
  const std::string after = in.substr(at, replacedEnd - at);
  std::size_t end = after[0] == '"' ? 1 : 0;
  while (end < after.size() && (after[end] == ' ' || after[end] == '\t')) ++end;
  if (after.compare(end, 2, "/>") == 0) end += 2;
  while (end < after.size() && (after[end] == ' ' || after[end] == '\t')) ++end;
  return end < after.size() ? after : "";
}

// Collects the lines told to have lost text, and the text.
struct CutsTold final : ChangeListener {
  std::vector<std::pair<std::size_t, std::string>> cuts;
  void changed(const ValueChange& change) override {
    require(!change.cut.empty(), "told of cuts alone", "");
    cuts.emplace_back(change.line, std::string(change.cut));
  }
};

// A known text, and the kind that goes with it.
bool isKnownError(const ConversionError& e) {
  using Kind = ConversionError::Kind;
  const std::pair<Kind, const char*> known[] = {
      {Kind::kNotANumber, "invalid stoi argument"},
      {Kind::kOutOfRange, "stoi argument out of range"},
      {Kind::kEndsAtValue, "invalid string position"},
      {Kind::kWidthOverflow, kWidthOverflowText},
      {Kind::kNulByte, kNulByteText},
  };
  for (const auto& [kind, text] : known)
    if (std::strcmp(e.what(), text) == 0) return e.kind() == kind;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const std::vector<std::string>& names = fileNames();
  inputFileName = names[data[0] % names.size()];
  // Pieces of up to two windows of the scanner (64 bytes each).
  const std::size_t pieceSize = data[1] % 129 + 1;
  const std::size_t blockSize = data[1] / 129 + 1;
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  std::string whole;
  try {
    whole = convertInPieces(text, text.size() + 1, 2 * text.size() + 64);
  } catch (const ConversionError& e) {
    require(isKnownError(e), "errors carry a known text and its kind",
            e.what());
    try {
      convertInPieces(text, pieceSize, blockSize);
    } catch (const ConversionError& again) {
      require(
          again.line() == e.line() && std::strcmp(again.what(), e.what()) == 0,
          "in pieces the same error stops the same line", text);
      // The current control is what the lines up to the error left.
      const std::string kept = currentTagText;
      currentTagText.clear();
      // A line with a NUL byte is not read at all; a bad value is read up
      // to its error.
      const std::vector<std::string> lines = inputLines(text);
      const std::size_t read =
          std::strcmp(e.what(), kNulByteText) == 0 ? e.line() - 1 : e.line();
      try {
        for (std::size_t i = 0; i < lines.size() && i < read; ++i)
          rewriteLine(lines[i]);
      } catch (const std::exception&) {  // the line of the error
      }
      require(kept == currentTagText, "an error leaves the current control",
              text);
      return 0;
    }
    require(false, "in pieces the same error stops the same line", text);
  }
  // Cut in two at every offset within a window of the scanner (64 bytes)
  // around a line feed or an `L`, which the second byte picks, as a read may
  // cut it: the scanner starts its windows at the cut.
  std::vector<std::size_t> keyBytes;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' || text[i] == 'L') keyBytes.push_back(i);
  if (!keyBytes.empty()) {
    const std::size_t around = keyBytes[data[1] % keyBytes.size()];
    const std::size_t from = around > 64 ? around - 64 : 0;
    for (std::size_t cut = from; cut <= around + 64 && cut <= text.size();
         ++cut) {
      StringSink sink(blockSize);
      LayoutConverter converter(sink);
      converter.feed(text.data(), cut);
      converter.feed(text.data() + cut, text.size() - cut);
      converter.finish();
      require(sink.text == whole, "a text cut in two gives the same bytes",
              text + "\ncut at " + std::to_string(cut));
    }
  }
  CutsTold told;
  require(convertInPieces(text, pieceSize, blockSize, &told,
                          LayoutConverter::Told::kCuts) == whole,
          "pieces and blocks of any size give the same bytes", text);
  const std::string kept = currentTagText;

  const std::vector<std::string> in = inputLines(text);
  const std::vector<std::string> out = outputLines(whole);
  require(in.size() == out.size(), "one output line per input line", text);
  const bool listed = inputFileName != names.back();
  currentTagText.clear();
  std::size_t nextCut = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    checkLine(in[i], out[i], listed);
    require(out[i] == rewriteLine(in[i]),
            "each line is what rewriteLine makes of it", in[i] + "\n" + out[i]);
    const std::string cut = in[i] == out[i] ? "" : cutText(in[i]);
    const bool toldOf =
        nextCut < told.cuts.size() && told.cuts[nextCut].first == i + 1;
    require(
        toldOf == !cut.empty() && (!toldOf || told.cuts[nextCut].second == cut),
        "text a rewrite cuts is told, and only that", in[i] + "\n" + cut);
    if (toldOf) ++nextCut;
  }
  require(nextCut == told.cuts.size(), "cuts are told of lines in order", text);
  require(kept == currentTagText, "a conversion leaves the current control",
          text);
  return 0;
}
