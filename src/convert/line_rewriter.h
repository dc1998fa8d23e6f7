#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "convert/line_scanner.h"
#include "convert/rule_table.h"

// The name of the layout file being converted, as given on the command line.
// The exception lookup compares it with the file names of ruleTable.
extern std::string inputFileName;

// Everything behind `Value="` on the most recent TAG line that has a Value,
// closing quote included. Empty until the first such line.
extern std::string currentTagText;

// The error texts of rewriteLine, below: a scaled width that does not fit
// 32 bits, a line that ends within two characters of its `Value`, a value
// with no number, a number beyond 32 bits.
extern const char* const kWidthOverflowText;
extern const char* const kEndsAtValueText;
extern const char* const kNotANumberText;
extern const char* const kOutOfRangeText;

// The std::out_of_range that rewriteLine throws, which also carries which
// of its range errors it is: its text is the one above.
class ValueOutOfRange : public std::out_of_range {
 public:
  enum class Which { kOutOfRange, kEndsAtValue, kWidthOverflow };
  explicit ValueOutOfRange(Which which);
  Which which() const { return which_; }

 private:
  Which which_;
};

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

// The text of the last TAG line for a caller that copies it only now and
// then: a view into the line that set it, until the caller has copied it
// into currentTagText (`copied`).
struct TagText {
  std::string_view text;
  bool copied = true;
};

// The same conversion without building the new line, for a line whose
// markers a LineScanner found, with the exceptions of inputFileName looked up
// in `rules`. A TAG line sets `tag` (where rewriteLine would set
// currentTagText) and `rules` to its text. Throws as rewriteLine does.
LineEdit editLine(std::string_view line, const Markers& markers,
                  FileRuleLookup& rules, TagText& tag);

// "00" to "99", for writing numbers two digits at a time.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes `number` as "%d" does at `at`, which has room for 12 characters,
// and returns the end of its digits: they are made back to front, two at a
// time, and copied in one piece of fixed size.
inline char* writeNumber(char* at, std::int32_t number) {
  std::uint32_t magnitude = static_cast<std::uint32_t>(number);
  if (number < 0) magnitude = 0u - magnitude;
  char digits[24] = {};
  char* first = digits + 12;
  for (; magnitude >= 100; magnitude /= 100) {
    first -= 2;
    std::memcpy(first, kDigitPairs.data() + std::size_t{2} * (magnitude % 100),
                2);
  }
  if (magnitude >= 10) {
    first -= 2;
    std::memcpy(first, kDigitPairs.data() + std::size_t{2} * magnitude, 2);
  } else {
    *--first = static_cast<char>('0' + magnitude);
  }
  if (number < 0) *--first = '-';
  std::memcpy(at, first, 12);
  return at + (digits + 12 - first);
}
