// The report on standard output and the errors on standard error, each a
// whole line.

#include "driver/console.h"

#include <cstdio>

#include "driver/platform_console.h"

namespace {

// Where lines wait, while a HeldLines holds them.
std::vector<HeldLines::Line>* waiting = nullptr;

void write(bool toErrors, const std::string& text) {
  if (waiting) {
    waiting->push_back({toErrors, text});
    return;
  }
  // Each line out before the next: where both streams go to one file, as
  // `2>&1` sends them, an error stands beside the file it is about. The
  // Windows C runtime buffers a redirected standard error.
  if (toErrors) {
    std::fflush(stdout);
    writeText(stderr, text);
    std::fflush(stderr);
  } else {
    writeText(stdout, text);
    std::fflush(stdout);
  }
}

}  // namespace

void say(const std::string& line) { write(false, line + "\n"); }

void sayError(const std::string& message) {
  write(true, "hudconv: error: " + message + "\n");
}

void sayWarning(const std::string& message) {
  write(true, "hudconv: warning: " + message + "\n");
}

void HeldLines::hold() {
  holding_ = true;
  waiting = &lines_;
}

void HeldLines::stop() {
  if (holding_) waiting = nullptr;
  holding_ = false;
}

void HeldLines::tell() {
  stop();
  for (const Line& line : lines_) write(line.toErrors, line.text);
  lines_.clear();
}
