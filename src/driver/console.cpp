// The report on standard output and the errors on standard error, each a
// whole line.

#include "driver/console.h"

#include <cstdio>

#include "driver/platform_console.h"

void say(const std::string& line) {
  writeText(stdout, line + "\n");
  std::fflush(stdout);
}

void sayError(const std::string& message) {
  std::fflush(stdout);
  writeText(stderr, "hudconv: error: " + message + "\n");
}

void sayWarning(const std::string& message) {
  std::fflush(stdout);
  writeText(stderr, "hudconv: warning: " + message + "\n");
}
