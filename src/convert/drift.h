#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What became of a converted layout file that is now neither its original
// (the backup) nor that original converted. It is told by its values: each
// LEFT or WIDTH value that the conversion changed is, in the file, the one
// hudconv wrote, the original one, or another. A value hudconv wrote is
// never converted again, so a file that holds one is never a new original.
enum class Drift {
  // The lines of the original converted, some numbers changed by hand
  // (`changedValues`); never converted again.
  kTuned,
  // A new original, as a game update brings: it holds no value that hudconv
  // wrote, whatever lines were added or removed.
  kNewOriginal,
  // Anything else: it holds values hudconv wrote, and was edited in other
  // ways since its conversion (lines added, removed or rewritten).
  kChanged,
};

struct DriftReport {
  Drift drift = Drift::kChanged;
  std::size_t changedValues = 0;  // for kTuned: values unlike the conversion
};

// Judges the whole text of `file` against its `original` and `converted`,
// the original as hudconv converts it. Line breaks are compared without
// their carriage returns.
DriftReport judgeDrift(std::string_view file, std::string_view original,
                       std::string_view converted);

// The lines of `file` (1-based, in order) that hold a value as `converted`
// holds it, where `original` held another: by the control, the property and
// its place among the control's properties of that name, and where the
// three have as many lines, also by the line's place.
std::vector<std::size_t> convertedValueLines(std::string_view file,
                                             std::string_view original,
                                             std::string_view converted);

// `conversion`, the conversion of `file`, with the lines `kept` (1-based,
// in order) as `file` holds them: each keeps the line break of the
// conversion.
std::string withLinesKept(std::string_view file, std::string_view conversion,
                          const std::vector<std::size_t>& kept);
