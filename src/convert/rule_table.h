#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "convert/line_scanner.h"

// The built-in exceptions to the default conversion: chosen controls of
// chosen layout files get their own left offset or width factor.

// Where `what` first occurs in `text`, or npos: std::string_view::find,
// with each candidate's first byte found by memchr rather than byte by byte.
inline std::size_t findText(std::string_view text, std::string_view what) {
  if (what.empty()) return 0;
  const char* at = text.data();
  const char* const last = text.data() + text.size();
  while (static_cast<std::size_t>(last - at) >= what.size()) {
    at = static_cast<const char*>(std::memchr(
        at, what[0], static_cast<std::size_t>(last - at) - (what.size() - 1)));
    if (!at) break;
    if (std::memcmp(at + 1, what.data() + 1, what.size() - 1) == 0)
      return static_cast<std::size_t>(at - text.data());
    ++at;
  }
  return std::string_view::npos;
}

// The texts are views of the built-in rows, which last as long as the
// program: the table is built at every start, and copying them cost more
// than a tenth of a small file's run.
struct PropertyRule {
  std::string_view label;  // looked for anywhere in the property line
  float amount;            // offset for LEFT lines, factor for WIDTH lines
};

struct ControlRule {
  std::string_view tag;  // looked for anywhere in the current TAG text
  std::vector<PropertyRule> properties;
};

struct FileRule {
  // The bare name of the layout file; compared without regard to ASCII
  // letter case, as the game's file system ignores it.
  std::string_view fileName;
  std::vector<ControlRule> controls;
};

struct RuleMatch {
  bool found = false;
  float amount = 0.0f;
};

// A letter as file names are compared: only ASCII letters fold, for the
// game's names are ASCII, and a byte of a UTF-8 letter never equals one.
inline char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// Whether two bare file names are one as the game's file system takes
// them: ASCII letter case aside.
bool sameFileName(std::string_view a, std::string_view b);
// `name` as sameFileName compares it: two names are one exactly where these
// are equal.
std::string foldedFileName(std::string_view name);

// Filled once by buildRuleTable() at start-up, read-only afterwards.
extern std::vector<FileRule> ruleTable;

// Fills ruleTable from the built-in rows, in their order (replacing anything
// already there, so a second call leaves the same table).
void buildRuleTable();

// The first rule, in table order, whose file name equals fileName but for
// ASCII letter case, whose tag occurs in tagText and whose label occurs in
// line (both case-sensitive). Never fails.
RuleMatch lookupRule(std::string_view fileName, std::string_view tagText,
                     std::string_view line);

// The same lookups for the lines of one layout file, done faster: the file's
// name is compared once, and what a TAG text means for the value lines below
// it is worked out once per TAG text: a rule whose label is part of a line's
// marker applies whatever else the line holds, so a value line only looks
// for the labels of rules that come before that one. Reads ruleTable, which
// must not change while it is in use.
class FileRuleLookup {
 public:
  explicit FileRuleLookup(std::string_view fileName);
  // Takes the TAG text that the lookups that follow go by.
  void setTagText(std::string_view tagText);
  // lookupRule(fileName, tagText, line) for the latest tagText, for a line
  // that holds `markers`: a LEFT marker, or else a WIDTH marker.
  RuleMatch find(std::string_view line, const Markers& markers) const;

 private:
  // One property rule of the file's, in table order, with what is known of
  // it before any line is read.
  struct Rule {
    const PropertyRule* property;
    const std::string_view* tag;       // its control's
    bool newTag;                       // another tag than the rule before's
    bool inLeftMarker, inWidthMarker;  // its label is part of that marker
  };
  // For the lines that hold one marker: the rules whose labels must be
  // looked for in the line, in table order, and the match that holds when
  // none of those labels is there.
  struct ForLines {
    std::vector<const PropertyRule*> toCheck;
    RuleMatch otherwise;
    bool settled = false;  // otherwise is the first rule's that must apply
    void add(const PropertyRule& rule, bool inMarker) {
      if (settled) return;
      if (inMarker) {
        otherwise = {true, rule.amount};
        settled = true;
      } else {
        toCheck.push_back(&rule);
      }
    }
    void clear() {
      toCheck.clear();  // its memory kept for the next TAG text
      otherwise = {};
      settled = false;
    }
  };

  std::vector<Rule> rules_;
  ForLines left_, width_;
};
