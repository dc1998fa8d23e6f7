#pragma once

#include <string>
#include <string_view>
#include <vector>

// The built-in exceptions to the default conversion: chosen controls of
// chosen layout files get their own left offset or width factor.

struct PropertyRule {
  std::string label;  // looked for anywhere in the property line
  float amount;       // offset for LEFT lines, factor for WIDTH lines
};

struct ControlRule {
  std::string tag;  // looked for anywhere in the current TAG text
  std::vector<PropertyRule> properties;
};

struct FileRule {
  // The bare name of the layout file; compared without regard to ASCII
  // letter case, as the game's file system ignores it.
  std::string fileName;
  std::vector<ControlRule> controls;
};

struct RuleMatch {
  bool found = false;
  float amount = 0.0f;
};

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
