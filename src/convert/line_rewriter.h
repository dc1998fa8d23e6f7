#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "convert/rule_table.h"

// The name of the layout file being converted, as given on the command line.
// The exception lookup compares it with the file names of ruleTable.
extern std::string inputFileName;

// Everything behind `Value="` on the most recent TAG line that has a Value,
// closing quote included. Empty until the first such line.
extern std::string currentTagText;

// The error text of a scaled width that does not fit 32 bits.
extern const char* const kWidthOverflowText;

// Returns the line to write in place of `line` (given without its line
// break): LEFT and WIDTH values are moved onto the centre monitor, every
// other line comes back as it is. TAG lines update currentTagText.
//
// Throws std::invalid_argument("invalid stoi argument") when a LEFT or WIDTH
// value holds no number, std::out_of_range("stoi argument out of range") when
// it does not fit 32 bits, std::out_of_range("invalid string position") when
// a line ends within two characters of its `Value`, and std::out_of_range
// with kWidthOverflowText when a scaled width does not fit 32 bits.
std::string rewriteLine(const std::string& line);

// What became of one line: whether its value was rewritten, which kind of
// value it was, and whether a built-in exception gave the new number.
struct LineChange {
  bool changed = false;
  bool width = false;  // a WIDTH value; otherwise a LEFT value
  bool byException = false;
  explicit operator bool() const { return changed; }
};

// The same conversion without an allocation per line, for whole files: when
// the line changes, puts its new text in `rewritten` (replacing what it held)
// and says what changed; an unchanged line gives a LineChange that is false.
// Throws as rewriteLine does.
LineChange rewriteLineInto(std::string_view line, std::string& rewritten);
// `" />`, written behind every new number.
inline constexpr std::string_view kValueEnd = "\" />";

// How much of the old value text a rewrite replaces at most.
inline constexpr std::size_t kReplacedLength = 100;

// A changed line in pieces, for a caller that writes them out itself: the
// line up to valueStart, the new number, kValueEnd, and the line from
// tailStart() when that is within it. The old number's digits end at
// numberEnd.
struct LineEdit {
  LineChange change;
  std::size_t valueStart = 0, numberEnd = 0;
  std::int32_t number = 0;
  std::size_t tailStart() const { return valueStart + kReplacedLength; }
};

// The number that the value text at `pos` of `line` holds, read as a
// rewrite reads it. Throws as rewriteLine does.
std::int32_t numberAt(std::string_view line, std::size_t pos);

// Which of the markers `Label="TAG"`, `Label="LEFT"` and `Label="WIDTH"` a
// line holds.
struct Markers {
  bool tag = false, left = false, width = false;
  bool any() const { return tag || left || width; }
};

// The markers that occur anywhere in `line`.
Markers findMarkers(std::string_view line);

// Goes through a text line by line, finding where each line ends and which
// markers it holds.
class LineScanner {
 public:
  LineScanner(const char* begin, const char* end);
  // Goes on to the next line: returns its line feed, or nullptr when the text
  // ends first. `markers` tells which markers the line (or what is left of
  // the text) holds.
  const char* next(Markers& markers);

 private:
  const char* at_;
  const char* end_;
};

// The same conversion without building the new line, for a line whose
// markers a LineScanner found, with the exceptions of inputFileName looked up
// in `rules`, which it keeps up to date with currentTagText. Throws as
// rewriteLine does.
LineEdit editLine(std::string_view line, const Markers& markers,
                  FileRuleLookup& rules);
