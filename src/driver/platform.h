#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Everything that differs between operating systems. One implementation file
// per platform is chosen by the build. Paths and text are UTF-8 here; on
// Windows they meet the system as UTF-16, which every script fits.

// The command-line arguments, the program's name first. Windows hands them
// over in UTF-16, so there they are read from the system rather than from
// `argv`, whose code page cannot spell most of the world's letters.
std::vector<std::string> programArguments(int argc, char** argv);

// Whether `path` is a full path (as a file manager passes for a file dropped
// on the program) rather than a name below the Output folder.
bool isFullPath(const std::string& path);

// The last part of `path`, the file's bare name.
std::string fileNameOf(const std::string& path);

// Writes `text` to standard output or standard error. A Windows console is
// handed it as UTF-16, so that a path in any script reads right; everywhere
// else the bytes go out as they are.
void writeText(std::FILE* stream, const std::string& text);

// True when the program's console window is its own and closes when it ends,
// so that nothing it printed could be read: on Windows, started from Explorer
// or by dropping a file on it, with its input still that console.
bool consoleClosesWithProgram();

// The folder that holds the running executable, without a trailing
// separator. Throws std::runtime_error when the system cannot tell.
std::string executableDirectory();

// The layout file `name` inside the Output folder of `home`, written with the
// system's own separator.
std::string layoutFilePath(const std::string& home, const std::string& name);

// Creates a folder; an existing folder or any failure is silently ignored.
void createFolder(const std::string& path);

// Waits for one key press: the command interpreter's "pause" on Windows; on
// other systems only when standard input is a terminal. Flush standard output
// first, so that the message before it is already visible.
void waitForKeyPress();

// Tells the system that the `size` bytes at `data` are a large buffer about
// to be filled from start to end, so that it can back it with large pages.
// Only a hint: nothing changes where the system has no such thing.
void adviseLargeBuffer(void* data, std::size_t size);

// Opens a file for reading in binary mode and tells its size. Returns nullptr
// when it cannot be opened or is a folder.
std::FILE* openForReading(const std::string& path, std::uint64_t& size);

// Replaces the contents of the file at `path` with `contents` so that the
// file holds either its old or its new bytes, whatever fails: the new bytes
// go to a temporary file beside it, which is flushed to disk and then renamed
// over it. Keeps the file's permissions (its attributes on Windows), and
// writes through a symbolic link. A file the user may not write, or one that
// is read-only, is left alone. On failure, returns false, leaves the file as
// it was, removes the temporary file and puts the reason in `error`. Close
// the file first: Windows cannot replace a file that is open.
bool replaceFileContents(const std::string& path, const std::string& contents,
                         std::string& error);
