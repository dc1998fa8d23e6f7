#pragma once

#include <string>

#include "driver/arguments.h"
#include "driver/options.h"
#include "driver/outcome.h"

// One layout file's story, as the player named it and as it was found:
// converted in place, the original kept as its backup at the first
// conversion, or put back from that backup. Every step is reported on the
// console. Each returns what became of the file.

// `home` is the folder of the executable, whose Output folder a missing
// file belongs in. A preview (`options.preview`) does everything but write:
// it tells each value that would change, and what would change in all.
Outcome convertLayoutFile(const NamedFile& file, const std::string& home,
                          const Options& options);
Outcome restoreLayoutFile(const NamedFile& file);
