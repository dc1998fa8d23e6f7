// One property line rewritten: the LEFT or WIDTH value moved onto the
// centre monitor, by the built-in exceptions where one applies.

#include "convert/line_rewriter.h"

#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <stdexcept>

// Width factors must be applied in single precision: 300 * 2.57f gives 257 in
// float and 256 when kept in double.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must not be widened");

std::string inputFileName;
std::string currentTagText;

const char* const kWidthOverflowText =
    "scaled width does not fit a 32-bit integer";
const char* const kEndsAtValueText = "invalid string position";
const char* const kNotANumberText = "invalid stoi argument";
const char* const kOutOfRangeText = "stoi argument out of range";

namespace {

const char* textOf(ValueOutOfRange::Which which) {
  switch (which) {
    case ValueOutOfRange::Which::kEndsAtValue:
      return kEndsAtValueText;
    case ValueOutOfRange::Which::kWidthOverflow:
      return kWidthOverflowText;
    case ValueOutOfRange::Which::kOutOfRange:
      break;
  }
  return kOutOfRangeText;
}

}  // namespace

ValueOutOfRange::ValueOutOfRange(Which which)
    : std::out_of_range(textOf(which)), which_(which) {}

namespace {

const std::string_view kValue = "Value";

// From the start of `Value` to the value text behind `Value="`.
const std::size_t kValueOffset = 7;

const int kDivisor = 3;
const int kDefaultShift = 267;
const int kFixedWidth = 800;

// Position of the value text that belongs to the `Value` at valuePos.
std::size_t valueTextStart(std::string_view line, std::size_t valuePos) {
  const std::size_t start = valuePos + kValueOffset;
  if (start > line.size())
    throw ValueOutOfRange(ValueOutOfRange::Which::kEndsAtValue);
  return start;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Reads a decimal number the way strtol does (white space, sign, digits,
// anything after them ignored), limited to the 32-bit range, and sets `end`
// to where its digits end.
std::int32_t readNumber(std::string_view line, std::size_t pos,
                        std::size_t& end) {
  while (pos < line.size() && isSpace(line[pos])) ++pos;
  bool negative = false;
  if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
    negative = line[pos] == '-';
    ++pos;
  }
  const std::int64_t limit = negative ? -std::int64_t{INT32_MIN} : INT32_MAX;
  std::int64_t magnitude = 0;
  const std::size_t firstDigit = pos;
  for (; pos < line.size() && line[pos] >= '0' && line[pos] <= '9'; ++pos) {
    magnitude = magnitude * 10 + (line[pos] - '0');
    if (magnitude > limit)
      throw ValueOutOfRange(ValueOutOfRange::Which::kOutOfRange);
  }
  if (pos == firstDigit) throw std::invalid_argument(kNotANumberText);
  end = pos;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::int32_t scaledWidth(std::int32_t third, float factor) {
  const float product = static_cast<float>(third) * factor;
  // Written so that NaN fails too; every float in range truncates safely.
  if (!(product >= -2147483648.0f && product < 2147483648.0f))
    throw ValueOutOfRange(ValueOutOfRange::Which::kWidthOverflow);
  return static_cast<std::int32_t>(product);
}

// The number that a LEFT (`left`) or WIDTH value of `value` becomes, with
// the exception `rule`.
std::int32_t newNumber(bool left, std::int32_t value, const RuleMatch& rule) {
  if (left) {
    // The amount is cut to a whole number before it is added.
    const std::int32_t shift =
        rule.found ? static_cast<std::int32_t>(rule.amount) : kDefaultShift;
    return value / kDivisor + shift;
  }
  return rule.found ? scaledWidth(value / kDivisor, rule.amount)
                    : value / kDivisor;
}

// How `line`, which holds `markers`, changes, as rewriteLineInto describes:
// the plain way, line by line, with lookupRule.
LineEdit plan(std::string_view line, const Markers& markers) {
  if (markers.tag) {
    const std::size_t valuePos = findText(line, kValue);
    if (valuePos != std::string_view::npos)
      currentTagText.assign(line.substr(valueTextStart(line, valuePos)));
  }

  if (!markers.left && !markers.width) return {};
  const std::size_t valuePos = findText(line, kValue);
  if (valuePos == std::string_view::npos) return {};

  const std::size_t start = valueTextStart(line, valuePos);
  std::size_t numberEnd = 0;
  const std::int32_t value = readNumber(line, start, numberEnd);
  if (markers.left ? value <= 0 : value == kFixedWidth) return {};
  const RuleMatch rule = lookupRule(inputFileName, currentTagText, line);
  return {{true, !markers.left, rule.found},
          start,
          numberEnd,
          newNumber(markers.left, value, rule)};
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A run of more than nine digits, [at, end), read as readNumber reads it.
std::uint32_t longMagnitude(const char* at, const char* end, bool negative) {
  while (at != end && *at == '0') ++at;
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 31 : std::uint64_t{INT32_MAX};
  if (end - at > 10) throw ValueOutOfRange(ValueOutOfRange::Which::kOutOfRange);
  std::uint64_t magnitude = 0;
  for (; at != end; ++at) magnitude = magnitude * 10 + (*at - '0');
  if (magnitude > limit)
    throw ValueOutOfRange(ValueOutOfRange::Which::kOutOfRange);
  return static_cast<std::uint32_t>(magnitude);
}

// readNumber, faster: nine digits or fewer cannot leave the 32-bit range,
// so only a longer run is checked.
std::int32_t readShortNumber(std::string_view line, std::size_t pos,
                             std::size_t& end) {
  const char* at = line.data() + pos;
  const char* const lineEnd = line.data() + line.size();
  while (at != lineEnd && isSpace(*at)) ++at;
  bool negative = false;
  if (at != lineEnd && (*at == '+' || *at == '-')) {
    negative = *at == '-';
    ++at;
  }
  // Nine digits at most without a check; a longer run is read again.
  const char* const first = at;
  const char* const shortEnd = lineEnd - at > 9 ? at + 9 : lineEnd;
  std::uint32_t magnitude = 0;
  for (; at != shortEnd && isDigit(*at); ++at)
    magnitude = magnitude * 10 + static_cast<std::uint32_t>(*at - '0');
  if (at == first) throw std::invalid_argument(kNotANumberText);
  if (at == shortEnd && at != lineEnd && isDigit(*at)) {
    while (at != lineEnd && isDigit(*at)) ++at;
    magnitude = longMagnitude(first, at, negative);
  }
  end = static_cast<std::size_t>(at - line.data());
  return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace

LineChange rewriteLineInto(std::string_view line, std::string& rewritten) {
  const LineEdit edit = plan(line, findMarkers(line));
  if (!edit.change) return {};
  char digits[16];
  char* const digitsEnd =
      std::to_chars(digits, digits + sizeof(digits), edit.number).ptr;
  rewritten.assign(line.data(), edit.valueStart);
  rewritten.append(digits, static_cast<std::size_t>(digitsEnd - digits));
  rewritten.append(kValueEnd);
  if (edit.tailStart() < line.size())
    rewritten.append(line.substr(edit.tailStart()));
  return edit.change;
}

std::int32_t numberAt(std::string_view line, std::size_t pos) {
  std::size_t end = 0;
  return readNumber(line, pos, end);
}

LineEdit editLine(std::string_view line, const Markers& markers,
                  FileRuleLookup& rules, TagText& tag) {
  // One Value serves the TAG step and the value: both take the first.
  const std::size_t valuePos = findText(line, kValue);
  if (valuePos == std::string_view::npos) return {};
  const std::size_t start = valueTextStart(line, valuePos);
  if (markers.tag) {
    tag = {line.substr(start), false};
    rules.setTagText(tag.text);
  }
  if (!markers.left && !markers.width) return {};
  std::size_t numberEnd = 0;
  const std::int32_t value = readShortNumber(line, start, numberEnd);
  if (markers.left ? value <= 0 : value == kFixedWidth) return {};
  const RuleMatch rule = rules.find(line, markers);
  return {{true, !markers.left, rule.found},
          start,
          numberEnd,
          newNumber(markers.left, value, rule)};
}

std::string rewriteLine(const std::string& line) {
  std::string rewritten;
  return rewriteLineInto(line, rewritten) ? rewritten : line;
}
