#pragma once

#include <cstddef>
#include <string_view>

// What became of a converted layout file that is now neither its original
// (the backup) nor that original converted: compared line by line with both.
enum class Drift {
  // The lines of the original converted, some numbers changed by hand
  // (`changedValues`); never converted again.
  kTuned,
  // A new original, as a game update brings: its values are mostly the
  // unconverted ones, or its lines are another layout altogether.
  kNewOriginal,
  // Anything else: edited in other ways since its conversion.
  kChanged,
};

struct DriftReport {
  Drift drift = Drift::kChanged;
  std::size_t changedValues = 0;  // for kTuned: values unlike the conversion
};

// Judges the whole text of `file` against its `original` and `converted`,
// the original as hudconv converts it. The values the conversion changed
// tell the two apart: in `file` each is the converted one, the unconverted
// one, or neither. Line breaks are compared without their carriage returns.
DriftReport judgeDrift(std::string_view file, std::string_view original,
                       std::string_view converted);
