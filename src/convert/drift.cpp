// Tells a layout file tuned by hand from a new original, by its lines.

#include "convert/drift.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

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

}  // namespace

DriftReport judgeDrift(std::string_view file, std::string_view original,
                       std::string_view converted) {
  const std::vector<std::string_view> lines = linesOf(file);
  const std::vector<std::string_view> before = linesOf(original);
  const std::vector<std::string_view> after = linesOf(converted);
  // Of the values the conversion changes: as converted, as they were.
  std::size_t convertedValues = 0;
  std::size_t unconvertedValues = 0;
  std::size_t changedValues = 0;
  std::size_t otherLines = 0;
  std::size_t changeable = 0;  // lines the conversion changes
  const bool aligned =
      lines.size() == after.size() && before.size() == after.size();
  if (aligned) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const bool changes = before[i] != after[i];
      changeable += changes ? 1 : 0;
      if (lines[i] == after[i])
        convertedValues += changes ? 1 : 0;
      else if (changes && lines[i] == before[i])
        ++unconvertedValues;
      else if (differInValueOnly(lines[i], after[i]))
        ++changedValues;
      else
        ++otherLines;
    }
  } else {
    // Lines added or removed: each line is looked for among the values the
    // conversion changed, wherever it stands.
    std::unordered_set<std::string_view> was;
    std::unordered_set<std::string_view> became;
    for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
      if (before[i] == after[i]) continue;
      was.insert(before[i]);
      became.insert(after[i]);
    }
    const std::unordered_set<std::string_view> all(after.begin(), after.end());
    for (const std::string_view line : lines) {
      const bool old = was.contains(line);
      const bool made = became.contains(line);
      if (made && !old) ++convertedValues;
      if (old && !made) ++unconvertedValues;
      if (!all.contains(line)) ++otherLines;
    }
  }
  // Mostly unconverted values, or another layout: most of its lines are
  // nowhere in the converted file.
  const bool anotherLayout =
      !aligned && convertedValues == 0 && 2 * otherLines > lines.size();
  DriftReport report;
  if (unconvertedValues > convertedValues || anotherLayout) {
    report.drift = Drift::kNewOriginal;
  } else if (aligned && otherLines == 0 &&
             (convertedValues > unconvertedValues || changeable == 0)) {
    report.drift = Drift::kTuned;
    report.changedValues = changedValues + unconvertedValues;
  }
  return report;
}
