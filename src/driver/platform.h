#pragma once

#include <cstdio>
#include <string>

// Everything that differs between operating systems. One implementation file
// per platform is chosen by the build.

// The folder that holds the running executable, without a trailing
// separator. Throws std::runtime_error when the system cannot tell.
std::string executableDirectory();

// The layout file `name` inside the Output folder of `home`.
std::string layoutFilePath(const std::string& home, const std::string& name);

// Creates a folder; an existing folder or any failure is silently ignored.
void createFolder(const std::string& path);

// Waits for one key press when a person is at the console; returns at once
// when standard input is not a terminal.
void waitForKeyPress();

// Opens a file for reading in binary mode. Returns nullptr when it cannot be
// opened or is a folder.
std::FILE* openForReading(const std::string& path);

// Replaces the contents of the file at `path` with `contents` so that the
// file holds either its old or its new bytes, whatever fails: the new bytes
// go to a temporary file beside it, which is flushed to disk and then renamed
// over it. Keeps the file's permissions, and writes through a symbolic link.
// A file the user may not write is left alone. On failure, returns false,
// leaves the file as it was, removes the temporary file and puts the reason
// in `error`.
bool replaceFileContents(const std::string& path, const std::string& contents,
                         std::string& error);
