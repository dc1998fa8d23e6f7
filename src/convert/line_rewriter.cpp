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

namespace {

// Every marker is `Label="` followed by the property's name and a quote.
const std::string_view kLabel = "Label=\"";
const std::string_view kTagName = "TAG\"";
const std::string_view kLeftName = "LEFT\"";
const std::string_view kWidthName = "WIDTH\"";
const std::string_view kValue = "Value";

// From the start of `Value` to the value text behind `Value="`.
const std::size_t kValueOffset = 7;

const int kDivisor = 3;
const int kDefaultShift = 267;
const int kFixedWidth = 800;

// Where the search for markers goes on after the `L` at `at`: behind the
// marker's name, behind `Label="` when no name of ours follows, or at the
// next byte. `Label="` cannot begin again within itself, nor within a
// marker's name.
const char* afterLabel(const char* at, const char* end, Markers& found) {
  if (static_cast<std::size_t>(end - at) < kLabel.size() ||
      std::memcmp(at, kLabel.data(), kLabel.size()) != 0)
    return at + 1;
  at += kLabel.size();
  const std::size_t left = static_cast<std::size_t>(end - at);
  const auto startsWith = [&](std::string_view name) {
    return left >= name.size() &&
           std::memcmp(at, name.data(), name.size()) == 0;
  };
  if (startsWith(kTagName)) {
    found.tag = true;
    return at + kTagName.size();
  }
  if (startsWith(kLeftName)) {
    found.left = true;
    return at + kLeftName.size();
  }
  if (startsWith(kWidthName)) {
    found.width = true;
    return at + kWidthName.size();
  }
  return at;
}

// The first `byte` in [at, end), or end.
const char* findByte(const char* at, const char* end, char byte) {
  const void* found = std::memchr(at, byte, static_cast<std::size_t>(end - at));
  return found ? static_cast<const char*>(found) : end;
}

// Position of the value text that belongs to the `Value` at valuePos.
std::size_t valueTextStart(std::string_view line, std::size_t valuePos) {
  const std::size_t start = valuePos + kValueOffset;
  if (start > line.size()) throw std::out_of_range("invalid string position");
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
      throw std::out_of_range("stoi argument out of range");
  }
  if (pos == firstDigit) throw std::invalid_argument("invalid stoi argument");
  end = pos;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::int32_t scaledWidth(std::int32_t third, float factor) {
  const float product = static_cast<float>(third) * factor;
  // Written so that NaN fails too; every float in range truncates safely.
  if (!(product >= -2147483648.0f && product < 2147483648.0f))
    throw std::out_of_range(kWidthOverflowText);
  return static_cast<std::int32_t>(product);
}

// How `line`, which holds `markers`, changes, as rewriteLineInto describes,
// with the exceptions found in `rules` where given, else by lookupRule.
LineEdit plan(std::string_view line, const Markers& markers,
              FileRuleLookup* rules) {
  if (markers.tag) {
    const std::size_t valuePos = findText(line, kValue);
    if (valuePos != std::string_view::npos) {
      currentTagText.assign(line.substr(valueTextStart(line, valuePos)));
      if (rules) rules->setTagText(currentTagText);
    }
  }

  if (!markers.left && !markers.width) return {};
  const std::size_t valuePos = findText(line, kValue);
  if (valuePos == std::string_view::npos) return {};

  const std::size_t start = valueTextStart(line, valuePos);
  std::size_t numberEnd = 0;
  const std::int32_t value = readNumber(line, start, numberEnd);
  if (markers.left ? value <= 0 : value == kFixedWidth) return {};
  // Looked up only for a value that changes: the lookup cannot fail and
  // changes nothing, so skipping it for the others changes no result.
  const RuleMatch rule = rules
                             ? rules->find(line)
                             : lookupRule(inputFileName, currentTagText, line);

  std::int32_t newValue;
  if (markers.left) {
    // The amount is cut to a whole number before it is added.
    const std::int32_t shift =
        rule.found ? static_cast<std::int32_t>(rule.amount) : kDefaultShift;
    newValue = value / kDivisor + shift;
  } else {
    newValue = rule.found ? scaledWidth(value / kDivisor, rule.amount)
                          : value / kDivisor;
  }
  return {{true, !markers.left, rule.found}, start, numberEnd, newValue};
}

}  // namespace

LineScanner::LineScanner(const char* begin, const char* end)
    : at_(begin), end_(end) {}

const char* LineScanner::next(Markers& markers) {
  markers = {};
  const char* const lineFeed = findByte(at_, end_, '\n');
  // findMarkers, written out here where it runs for every line.
  for (const char* l = findByte(at_, lineFeed, kLabel[0]); l != lineFeed;)
    l = findByte(afterLabel(l, lineFeed, markers), lineFeed, kLabel[0]);
  if (lineFeed == end_) {
    at_ = end_;
    return nullptr;
  }
  at_ = lineFeed + 1;
  return lineFeed;
}

Markers findMarkers(std::string_view line) {
  Markers found;
  const char* const end = line.data() + line.size();
  for (const char* l = findByte(line.data(), end, kLabel[0]); l != end;)
    l = findByte(afterLabel(l, end, found), end, kLabel[0]);
  return found;
}

LineChange rewriteLineInto(std::string_view line, std::string& rewritten) {
  const LineEdit edit = plan(line, findMarkers(line), nullptr);
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
                  FileRuleLookup& rules) {
  return plan(line, markers, &rules);
}

std::string rewriteLine(const std::string& line) {
  std::string rewritten;
  return rewriteLineInto(line, rewritten) ? rewritten : line;
}
