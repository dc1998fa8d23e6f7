#pragma once

#include <string>

// What a player reads: the report on standard output, each line there
// before the work it announces starts, and failures on standard error, each
// on a line of its own behind "hudconv: error: ".
void say(const std::string& line);
void sayError(const std::string& message);
// A warning on standard error, behind "hudconv: warning: ".
void sayWarning(const std::string& message);
