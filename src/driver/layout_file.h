#pragma once

#include <string>

// One layout file's story, as the player named it in `argument`: found, then
// converted in place, the original kept as its backup at the first
// conversion, or put back from that backup. Every step is reported on the
// console. Each returns the file's exit status.

// The exit statuses of one file; with several files the highest counts.
namespace status {
constexpr int kConverted = 0;     // converted, already converted, restored
constexpr int kNotConverted = 1;  // left as it was, and why
constexpr int kCannotOpen = 2;    // could not be opened, or has no backup
}  // namespace status

// `home` is the folder of the executable, whose Output folder a bare name
// is looked for in.
int convertLayoutFile(const std::string& argument, const std::string& home);
int restoreLayoutFile(const std::string& argument, const std::string& home);
