#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Runs a program the way a player or a script does, one implementation file
// per system, so that the command-line tests themselves are the same on all.

// A path's name in UTF-8, and the path that a UTF-8 name stands for: the
// tests' strings are UTF-8 on every system.
inline std::string utf8(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return {reinterpret_cast<const char*>(name.data()), name.size()};
}
inline std::filesystem::path utf8Path(const std::string& name) {
  return std::u8string(reinterpret_cast<const char8_t*>(name.data()),
                       name.size());
}

// True in the Windows build, where console text carries CR LF and exit
// statuses are 32 bits wide.
extern const bool kOnWindows;

struct ProgramOptions {
  std::uint64_t fileSize = 0;  // largest file the program may write; 0: none
  // Files the program may hold open at once, as many systems allow; 0: as
  // the tests may. Outside Windows only.
  std::uint64_t openFiles = 0;
  // Files open when it starts, as a launcher may leave them to it; outside
  // Windows only.
  int inheritedFiles = 0;
  // Runs as a user without rights to the files, where the tests run as root.
  // Windows needs none: its read-only attribute binds administrators too.
  bool asOtherUser = false;
  // NAME=VALUE entries added to the environment; outside Windows only.
  std::vector<std::string> environment;
  // The folder it runs in; empty: the tests' own.
  std::filesystem::path workingFolder;
  // Standard output is a pipe nobody reads, as in `hudconv x | true`;
  // outside Windows only.
  bool closedOutput = false;
  // A signal the program starts with ignored, as `nohup` leaves SIGHUP;
  // outside Windows only.
  int ignoredSignal = 0;
  // The arguments as a player types or pastes them, after any in `args`:
  // split by /bin/sh, or on Windows handed on as they stand, as cmd.exe does.
  std::optional<std::string> typed;
};

// Runs `program` with `args`, standard input empty, and standard output and
// error going to the files `out` and `err`; where `err` is `out`, both go
// to the one file in the order written, as `2>&1` sends them. Returns the exit
// status: -1 from main shows as 255 outside Windows. A file-size limit and
// added environment entries are only possible outside Windows.
int runProgram(const std::filesystem::path& program,
               const std::vector<std::string>& args,
               const std::filesystem::path& out,
               const std::filesystem::path& err,
               const ProgramOptions& options = {});

// Starts the program as runProgram does without waiting for it, and returns
// its process id; stops a started program at once, as a crash or a power cut
// would; and waits for one, whose status is then -N when signal N ended it
// (outside Windows).
int startProgram(const std::filesystem::path& program,
                 const std::vector<std::string>& args,
                 const std::filesystem::path& out,
                 const std::filesystem::path& err,
                 const ProgramOptions& options = {});
void killProgram(int pid);
int waitForProgram(int pid);
