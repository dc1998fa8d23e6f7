// The built-in exceptions, and the lookup of the one that applies to a line.

#include "convert/rule_table.h"

#include <iterator>
#include <string_view>

std::vector<FileRule> ruleTable;

namespace {

// Views, whose lengths are known when the program is built.
struct Row {
  std::string_view fileName;
  int control;  // counts the controls within a file; equal numbers share one
  std::string_view tag;
  std::string_view label;
  float amount;
};

// Order matters at every level: the lookup takes the first match.
const Row kRows[] = {
    {"confirm_p.gui.xml", 1, "LB_MESSAGE", "LEFT", 0.0f},
    {"container_p.gui.xml", 1, "LB_ITEMS", "LEFT", 0.0f},
    {"container_p.gui.xml", 2, "LBL_MESSAGE", "LEFT", 0.0f},
    {"container_p.gui.xml", 3, "PROTOITEM", "LEFT", 0.0f},
    {"container_p.gui.xml", 4, "SCROLLBAR", "LEFT", 1.0f},
    {"container_p.gui.xml", 5, "BTN_OK", "LEFT", 0.0f},
    {"container_p.gui.xml", 6, "BTN_GIVEITEMS", "LEFT", 0.0f},
    {"container_p.gui.xml", 7, "BTN_CANCEL", "LEFT", 0.0f},
    {"mipc28x6_p.gui.xml", 1, "LBL_TARGET", "LEFT", 0.0f},
    {"mipc28x6_p.gui.xml", 2, "BTN_TARGET", "LEFT", 0.0f},
    {"pause_p.gui.xml", 1, "LBL_PAUSEREASON", "LEFT", 0.0f},
    {"pause_p.gui.xml", 2, "LBL_PRESS", "LEFT", 0.0f},
    {"pause_p.gui.xml", 3, "TGuiPanel", "LEFT", 0.0f},
    {"skillinfo_p.gui.xml", 1, "LB_ITEMS", "LEFT", 0.0f},
    {"skillinfo_p.gui.xml", 2, "LBL_MESSAGE", "LEFT", 0.0f},
    {"skillinfo_p.gui.xml", 3, "PROTOITEM", "LEFT", 0.0f},
    {"skillinfo_p.gui.xml", 4, "SCROLLBAR", "LEFT", 1.0f},
    {"skillinfo_p.gui.xml", 5, "BTN_OK", "LEFT", 0.0f},
    {"skillinfo_p.gui.xml", 6, "LB_SKILLS", "LEFT", 0.0f},
    {"map_p.gui.xml", 1, "LBL_Map", "LEFT", 60.0f},
    {"map_p.gui.xml", 1, "LBL_Map", "WIDTH", 3.0f},
    {"map_p.gui.xml", 2, "LBL_Area", "LEFT", 60.0f},
    {"map_p.gui.xml", 2, "LBL_Area", "WIDTH", 1.0f},
    {"gameover_p.gui.xml", 1, "BTN_LASTSAVE", "LEFT", 0.0f},
    {"gameover_p.gui.xml", 2, "BTN_LOADGAME", "LEFT", 0.0f},
    {"gameover_p.gui.xml", 3, "BTN_QUIT", "LEFT", 0.0f},
    {"gameover_p.gui.xml", 4, "LBL_MESSAGE", "LEFT", 0.0f},
    {"pwrlvlup_p.gui.xml", 1, "LB_POWERS", "LEFT", 106.0f},
    {"pwrlvlup_p.gui.xml", 2, "LB_POWERS", "WIDTH", 2.57f},
    {"ftchrgen_p.gui.xml", 1, "LB_FEATS", "LEFT", 106.0f},
    {"ftchrgen_p.gui.xml", 2, "LB_FEATS", "WIDTH", 2.57f},
    {"savename_p.gui.xml", 1, "BTN_OK", "LEFT", 0.0f},
    {"savename_p.gui.xml", 2, "EDITBOX", "LEFT", 0.0f},
    {"savename_p.gui.xml", 3, "BTN_CANCEL", "LEFT", 0.0f},
    {"savename_p.gui.xml", 4, "LBL_TITLE", "LEFT", 0.0f},
    {"abilities_p.gui.xml", 1, "LB_ABILITY", "LEFT", 106.0f},
    {"abilities_p.gui.xml", 2, "LB_ABILITY", "WIDTH", 2.57f},
};

// Whether `fragment`, of two bytes or more, occurs in the short text `text`:
// each place is tried by its first two bytes before the rest is compared.
bool containsInShort(std::string_view text, std::string_view fragment) {
  if (text.size() < fragment.size()) return false;
  const char first = fragment[0];
  const char second = fragment[1];
  const std::size_t last = text.size() - fragment.size();
  for (std::size_t at = 0; at <= last; ++at)
    if (text[at] == first && text[at + 1] == second &&
        std::memcmp(text.data() + at + 2, fragment.data() + 2,
                    fragment.size() - 2) == 0)
      return true;
  return false;
}

bool contains(std::string_view text, std::string_view fragment) {
  return findText(text, fragment) != std::string_view::npos;
}

}  // namespace

// Only ASCII letters fold: the game's names are ASCII, and a byte of a UTF-8
// letter never equals one of them.
bool sameFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::string foldedFileName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = lowerAscii(c);
  return folded;
}

namespace {

bool sameFile(const Row& one, const Row& other) {
  return one.fileName == other.fileName;
}
bool sameControl(const Row& one, const Row& other) {
  return sameFile(one, other) && one.control == other.control;
}

// How many of the rows from `first` on, up to the end of the rows that are
// `within` it, begin a new group as `same` tells.
template <typename Same, typename Within>
std::size_t groupsFrom(const Row* first, Same same, Within within) {
  std::size_t groups = 1;
  for (const Row* row = first + 1;
       row != std::end(kRows) && within(*row, *first); ++row)
    if (!same(*row, *(row - 1))) ++groups;
  return groups;
}

}  // namespace

void buildRuleTable() {
  ruleTable.clear();
  // Each vector is made at its size at once: the table is built at every
  // start, and growing it cost more than a tenth of a small file's run.
  ruleTable.reserve(groupsFrom(std::begin(kRows), sameFile,
                               [](const Row&, const Row&) { return true; }));
  const Row* previous = nullptr;
  for (const Row& row : kRows) {
    const bool newFile = !previous || !sameFile(*previous, row);
    if (newFile) {
      ruleTable.push_back({row.fileName, {}});
      ruleTable.back().controls.reserve(
          groupsFrom(&row, sameControl, sameFile));
    }
    std::vector<ControlRule>& controls = ruleTable.back().controls;
    if (newFile || previous->control != row.control) {
      controls.push_back({row.tag, {}});
      controls.back().properties.reserve(groupsFrom(
          &row, [](const Row&, const Row&) { return false; }, sameControl));
    }
    controls.back().properties.push_back({row.label, row.amount});
    previous = &row;
  }
}

namespace {

RuleMatch firstProperty(const ControlRule& control, std::string_view line) {
  for (const PropertyRule& property : control.properties)
    if (contains(line, property.label)) return {true, property.amount};
  return {};
}

}  // namespace

RuleMatch lookupRule(std::string_view fileName, std::string_view tagText,
                     std::string_view line) {
  for (const FileRule& file : ruleTable) {
    if (!sameFileName(file.fileName, fileName)) continue;
    for (const ControlRule& control : file.controls) {
      if (!contains(tagText, control.tag)) continue;
      if (const RuleMatch match = firstProperty(control, line); match.found)
        return match;
    }
  }
  return {};
}

FileRuleLookup::FileRuleLookup(std::string_view fileName) {
  const std::string_view* lastTag = nullptr;
  for (const FileRule& file : ruleTable) {
    if (!sameFileName(file.fileName, fileName)) continue;
    for (const ControlRule& control : file.controls) {
      for (const PropertyRule& property : control.properties) {
        rules_.push_back({&property, &control.tag,
                          !lastTag || *lastTag != control.tag,
                          contains("Label=\"LEFT\"", property.label),
                          contains("Label=\"WIDTH\"", property.label)});
        lastTag = &control.tag;
      }
    }
  }
  setTagText("");
}

void FileRuleLookup::setTagText(std::string_view tagText) {
  left_.clear();
  width_.clear();
  bool named = false;  // the tag of the rule at hand occurs in tagText
  for (const Rule& rule : rules_) {
    if (rule.newTag)
      named = rule.tag->size() < 2 ? contains(tagText, *rule.tag)
                                   : containsInShort(tagText, *rule.tag);
    if (!named) continue;
    left_.add(*rule.property, rule.inLeftMarker);
    width_.add(*rule.property, rule.inWidthMarker);
    if (left_.settled && width_.settled) break;
  }
}

RuleMatch FileRuleLookup::find(std::string_view line,
                               const Markers& markers) const {
  const ForLines& lines = markers.left ? left_ : width_;
  for (const PropertyRule* rule : lines.toCheck)
    if (contains(line, rule->label)) return {true, rule->amount};
  return lines.otherwise;
}
