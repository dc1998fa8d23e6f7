#pragma once

#include <string>

// The exit statuses of one file; with several files the highest counts.
namespace status {
constexpr int kConverted = 0;     // converted, already converted, restored
constexpr int kNotConverted = 1;  // left as it was, and why
constexpr int kCannotOpen = 2;    // could not be opened, or has no backup
}  // namespace status

// What became of one file, for the summary of a run over several.
struct Outcome {
  int status = status::kConverted;
  bool already = false;  // found converted, or restored, already
  std::string path;      // as reported
  std::string reason;    // where not done: why, in a few words
};
