#pragma once

#include <string>

#include "driver/outcome.h"

// One layout file's story, as the player named it in `argument`: found, then
// converted in place, the original kept as its backup at the first
// conversion, or put back from that backup. Every step is reported on the
// console. Each returns the file's exit status.

// `home` is the folder of the executable, whose Output folder a bare name
// is looked for in. A `preview` does everything but write: it tells each
// value that would change, and what would change in all.
Outcome convertLayoutFile(const std::string& argument, const std::string& home,
                          bool preview = false);
Outcome restoreLayoutFile(const std::string& argument, const std::string& home);
