#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The console and the command line, as each operating system has them.
// Text is UTF-8 here; a Windows console is handed it as UTF-16.

// The command-line arguments, the program's name first. Windows hands them
// over in UTF-16, so there they are read from the system rather than from
// `argv`, whose code page cannot spell most of the world's letters.
std::vector<std::string> programArguments(int argc, char** argv);

// The system the program runs on: for the words of advice that differ, and
// for options written with a slash (/help), which only Windows' players
// type; elsewhere /h is a path.
enum class System { kWindows, kPosix };
System thisSystem();

// `text` as this system's shell takes it back as one argument, for a command
// a player pastes: unchanged where the shell would take it so, and otherwise
// in double quotes on Windows (a backslash at the end doubled, so that it
// does not take the quote), in single quotes elsewhere.
std::string quotedForShell(const std::string& text);

// Writes `text` to standard output or standard error. A Windows console is
// handed it as UTF-16, so that a path in any script reads right; everywhere
// else the bytes go out as they are.
void writeText(std::FILE* stream, const std::string& text);

// True when the program's console window is its own and closes when it ends,
// so that nothing it printed could be read: on Windows, started from Explorer
// or by dropping a file on it, with its input still that console.
bool consoleClosesWithProgram();

// Waits for one key press: the command interpreter's "pause" on Windows; on
// other systems only when standard input is a terminal. Flush standard output
// first, so that the message before it is already visible.
void waitForKeyPress();
