#include "convert/line_rewriter.h"

#include <cfloat>
#include <cstdint>
#include <stdexcept>

#include "convert/rule_table.h"

// Width factors must be applied in single precision: 300 * 2.57f gives 257 in
// float and 256 when kept in double.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must not be widened");

std::string inputFileName;
std::string currentTagText;

const char* const kWidthOverflowText =
    "scaled width does not fit a 32-bit integer";

namespace {

const std::string kTagMarker = "Label=\"TAG\"";
const std::string kLeftMarker = "Label=\"LEFT\"";
const std::string kWidthMarker = "Label=\"WIDTH\"";
const std::string kValue = "Value";
const char kValueEnd[] = "\" />";

// From the start of `Value` to the value text behind `Value="`.
const std::size_t kValueOffset = 7;
// How much of the old value text a rewrite replaces at most.
const std::size_t kReplacedLength = 100;

const int kDivisor = 3;
const int kDefaultShift = 267;
const int kFixedWidth = 800;

bool contains(const std::string& line, const std::string& marker) {
  return line.find(marker) != std::string::npos;
}

// Position of the value text that belongs to the `Value` at valuePos.
std::size_t valueTextStart(const std::string& line, std::size_t valuePos) {
  const std::size_t start = valuePos + kValueOffset;
  if (start > line.size()) throw std::out_of_range("invalid string position");
  return start;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Reads a decimal number the way strtol does (white space, sign, digits,
// anything after them ignored), limited to the 32-bit range.
std::int32_t readNumber(const std::string& line, std::size_t pos) {
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
      throw std::out_of_range("stoi argument out of range");
  }
  if (pos == firstDigit) throw std::invalid_argument("invalid stoi argument");
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::int32_t scaledWidth(std::int32_t third, float factor) {
  const float product = static_cast<float>(third) * factor;
  // Written so that NaN fails too; every float in range truncates safely.
  if (!(product >= -2147483648.0f && product < 2147483648.0f))
    throw std::out_of_range(kWidthOverflowText);
  return static_cast<std::int32_t>(product);
}

}  // namespace

std::string rewriteLine(const std::string& line) {
  if (contains(line, kTagMarker)) {
    const std::size_t valuePos = line.find(kValue);
    if (valuePos != std::string::npos)
      currentTagText = line.substr(valueTextStart(line, valuePos));
  }

  const bool isLeft = contains(line, kLeftMarker);
  if (!isLeft && !contains(line, kWidthMarker)) return line;
  const std::size_t valuePos = line.find(kValue);
  if (valuePos == std::string::npos) return line;

  const RuleMatch rule = lookupRule(inputFileName, currentTagText, line);
  const std::size_t start = valueTextStart(line, valuePos);
  const std::int32_t value = readNumber(line, start);

  std::int32_t newValue;
  if (isLeft) {
    if (value <= 0) return line;
    // The amount is cut to a whole number before it is added.
    const std::int32_t shift =
        rule.found ? static_cast<std::int32_t>(rule.amount) : kDefaultShift;
    newValue = value / kDivisor + shift;
  } else {
    if (value == kFixedWidth) return line;
    newValue = rule.found ? scaledWidth(value / kDivisor, rule.amount)
                          : value / kDivisor;
  }

  std::string result = line.substr(0, start);
  result += std::to_string(newValue);
  result += kValueEnd;
  if (line.size() - start > kReplacedLength)
    result.append(line, start + kReplacedLength, std::string::npos);
  return result;
}
