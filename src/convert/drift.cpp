// Tells a layout file tuned by hand from a new original, by its values.

#include "convert/drift.h"

#include <algorithm>
#include <unordered_map>

namespace {

// The lines of `text`, without their line breaks and carriage returns.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

// The text between `key` and the next quote in `line`, from `from` on, and
// where it ends; none where the line has no such text.
struct Quoted {
  std::string_view text;
  std::size_t end = std::string_view::npos;
};
Quoted quotedAfter(std::string_view line, std::string_view key,
                   std::size_t from = 0) {
  const std::size_t at = line.find(key, from);
  if (at == std::string_view::npos) return {};
  const std::size_t start = at + key.size();
  const std::size_t end = std::min(line.find('"', start), line.size());
  return {line.substr(start, end - start), end};
}

// Each property's value, by the control it belongs to (its TAG text), its
// label, and how many properties of that label the control had before it;
// and the line it stands on (0-based).
struct Property {
  std::string_view value;
  std::size_t line = 0;
};
using Properties = std::unordered_map<std::string, Property>;

Properties propertiesOf(const std::vector<std::string_view>& lines) {
  Properties properties;
  std::unordered_map<std::string, std::size_t> seen;
  std::string_view tag;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Quoted label = quotedAfter(lines[i], "Label=\"");
    if (label.end == std::string_view::npos) continue;
    const Quoted value = quotedAfter(lines[i], "Value=\"", label.end);
    if (value.end == std::string_view::npos) continue;
    if (label.text == "TAG") tag = value.text;
    std::string key(tag);
    key += '\x1f';
    key += label.text;
    const std::size_t before = seen[key]++;
    key += '\x1f';
    key += std::to_string(before);
    properties.emplace(std::move(key), Property{value.text, i});
  }
  return properties;
}

// Whether `text` is a number as a player writes one: digits, perhaps a
// minus sign before them.
bool isNumber(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

// Whether two lines differ only in the number of their first Value="...".
bool differInValueOnly(std::string_view one, std::string_view other) {
  constexpr std::string_view kValue = "Value=\"";
  const std::size_t at = one.find(kValue);
  if (at == std::string_view::npos ||
      other.substr(0, at + kValue.size()) != one.substr(0, at + kValue.size()))
    return false;
  const std::size_t start = at + kValue.size();
  const std::size_t oneEnd = one.find('"', start);
  const std::size_t otherEnd = other.find('"', start);
  return oneEnd != std::string_view::npos &&
         otherEnd != std::string_view::npos &&
         one.substr(oneEnd) == other.substr(otherEnd) &&
         isNumber(one.substr(start, oneEnd - start)) &&
         isNumber(other.substr(start, otherEnd - start));
}

// The values of a file that the conversion changed, as the file holds them:
// the lines (0-based) that hold them as converted, and how many are as they
// were before.
struct Values {
  std::vector<std::size_t> converted;
  std::size_t unconverted = 0;
};

Values valuesOf(const std::vector<std::string_view>& lines,
                const std::vector<std::string_view>& before,
                const std::vector<std::string_view>& after) {
  Values values;
  const Properties was = propertiesOf(before);
  const Properties became = propertiesOf(after);
  for (const auto& property : propertiesOf(lines)) {
    const Property& now = property.second;
    const auto old = was.find(property.first);
    const auto made = became.find(property.first);
    if (old == was.end() || made == became.end()) continue;
    const std::string_view original = old->second.value;
    const std::string_view converted = made->second.value;
    if (original == converted) continue;
    if (now.value == converted)
      values.converted.push_back(now.line);
    else if (now.value == original)
      ++values.unconverted;
  }
  // Lines in the same places: a line as converted where the conversion
  // changed it is a value hudconv wrote, whatever the control's name now.
  if (lines.size() == before.size() && lines.size() == after.size()) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (before[i] != after[i] && lines[i] == after[i])
        values.converted.push_back(i);
  }
  std::sort(values.converted.begin(), values.converted.end());
  values.converted.erase(
      std::unique(values.converted.begin(), values.converted.end()),
      values.converted.end());
  return values;
}

}  // namespace

DriftReport judgeDrift(std::string_view file, std::string_view original,
                       std::string_view converted) {
  const std::vector<std::string_view> lines = linesOf(file);
  const std::vector<std::string_view> before = linesOf(original);
  const std::vector<std::string_view> after = linesOf(converted);
  const Values values = valuesOf(lines, before, after);
  // The lines of the conversion, some numbers changed: as a player tunes.
  bool numbersOnly =
      lines.size() == after.size() && before.size() == after.size();
  std::size_t changedValues = 0;
  for (std::size_t i = 0; numbersOnly && i < lines.size(); ++i) {
    if (lines[i] == after[i]) continue;
    ++changedValues;
    numbersOnly =
        lines[i] == before[i] || differInValueOnly(lines[i], after[i]);
  }
  DriftReport report;
  // A value hudconv wrote still stands: converted again, it would move
  // twice. Tuned where only numbers were changed; changed otherwise.
  // Without one, only numbers changed and none put back as it was: every
  // value hudconv moved was tuned. Anything else holds the values of a new
  // original and no value hudconv wrote.
  const bool heldConverted = !values.converted.empty();
  if (numbersOnly && (heldConverted || values.unconverted == 0)) {
    report.drift = Drift::kTuned;
    report.changedValues = changedValues;
  } else if (!heldConverted) {
    report.drift = Drift::kNewOriginal;
  }
  return report;
}

std::vector<std::size_t> convertedValueLines(std::string_view file,
                                             std::string_view original,
                                             std::string_view converted) {
  std::vector<std::size_t> lines =
      valuesOf(linesOf(file), linesOf(original), linesOf(converted)).converted;
  for (std::size_t& line : lines) ++line;
  return lines;
}

std::string withLinesKept(std::string_view file, std::string_view conversion,
                          const std::vector<std::size_t>& kept) {
  const std::vector<std::string_view> lines = linesOf(file);
  std::string text;
  text.reserve(conversion.size());
  std::size_t number = 0;
  auto next = kept.begin();
  while (!conversion.empty()) {
    ++number;
    const std::size_t end = std::min(conversion.find('\n'), conversion.size());
    std::string_view line = conversion.substr(0, end);
    std::string_view lineBreak =
        conversion.substr(end, end < conversion.size() ? 1 : 0);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      lineBreak = conversion.substr(end - 1, lineBreak.size() + 1);
    }
    while (next != kept.end() && *next < number) ++next;
    const bool keep =
        next != kept.end() && *next == number && number <= lines.size();
    text += keep ? lines[number - 1] : line;
    text += lineBreak;
    conversion.remove_prefix(std::min(end + 1, conversion.size()));
  }
  return text;
}
