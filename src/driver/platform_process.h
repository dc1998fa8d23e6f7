#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver/platform_files.h"

// The running program as each operating system has it: where it is, what
// ends it and what it removes first, and the lock that keeps two runs on one
// file apart.

// The folder that holds the running executable, without a trailing
// separator. Throws std::runtime_error when the system cannot tell.
std::string executableDirectory();

// The folder of the running player's profile that holds what programs keep
// between runs: %LOCALAPPDATA% on Windows; $XDG_STATE_HOME, or else
// ~/.local/state, elsewhere. Empty where the system tells none.
std::string profileStateFolder();

// Starts a thread of the run's own (a writer, a flush) running `body`.
// Elsewhere than on Windows it starts with the signals that end a run held
// back, for good, so that their handler always runs on the main thread,
// which tells it the pending names (see SignalCleanup); on Windows the
// console's handler runs on a thread of its own anyway.
std::thread startHelperThread(std::function<void()> body);

// How many more files the process may open now: the limit on files open
// at once (RLIMIT_NOFILE where there is one) less those open already, which
// it may have been started with; SIZE_MAX where the system sets no limit.
std::size_t openFilesAllowed();

// Sets the process up for a run: a closed output pipe or a file-size limit
// becomes a failed write rather than a signal that ends the program, and
// an interrupt, a terminate or a closed console window first removes the
// named temporary file of a replacement in progress.
void prepareProcess();

// The name of a temporary file (and on Windows its handle, while it is
// open) that an interrupt, a terminate or a closed console window removes
// before the program ends. The owner of the file holds one: the calls that
// make or name the file fill it while the signals are held back, and the
// owner tells it when the file is about to close and when it is renamed or
// removed; no other call changes it. Up to kMost files are covered at once
// (the new files of a batch, where the system names them from the start,
// and the copies and the record beside them), and one more fails to be
// made.
class SignalCleanup {
 public:
  static constexpr int kMost = 128;
  SignalCleanup() = default;
  ~SignalCleanup() { release(); }
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;

  // Covers the file at `path`, open as `file`, instead of what it covered.
  SystemError cover(const std::string& path, const SystemFile& file);
  // The file is closed next: its handle is no longer to be used.
  void closing();
  // The file is renamed or removed: nothing is left to remove.
  void release();

 private:
  int slot_ = -1;
};

// Held by one run of hudconv at a time for the file at `path` (its full
// path, symbolic links followed), so that the decisive steps of two runs on
// one file never interleave. Runs on other files never wait for it. It
// leaves nothing behind, and goes with the program however that ends. On
// POSIX systems it is a lock on the file itself, which only a user who may
// write the file can hold (a run that may only read it takes a reader's
// lock, which keeps writers out), and it is held on the file that `path`
// names once it is held; on Windows a named mutex of the user's session,
// letter case aside.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Waits until no other run holds the lock of `path`, up to a minute; one
  // that only reads the file is not waited for. Tells "not found" for a
  // file that is gone.
  SystemError lock(const std::string& path);
  // The same for the folder `folder`, whose record (the file that stands
  // for the whole folder) is at `record`: a run holds it while it replaces
  // the record. On POSIX systems it is the lock of the record itself, so
  // that only a user who may write the record holds it as a writer, and a
  // reader's lock in the way is refused at once; where the folder has no
  // record yet, an empty one (which tells nothing) is made to hold it by,
  // readable by all where `shared`. One that is no file is locked by the
  // folder itself.
  SystemError lockRecord(const std::string& folder, const std::string& record,
                         bool shared);
  // Once the record is locked: also holds the lock of `file`, the new
  // record that is renamed over it next, so that the name never names a
  // record that this run does not hold. Nothing on Windows.
  SystemError holdAlso(const SystemFile& file);
  // Removes the empty record that lockRecord() made, where it still is so:
  // for a run that wrote none after all.
  void removeMadeRecord();

 private:
  std::intptr_t handle_ = -1;
  std::vector<SystemFile> also_;
  std::string made_;  // the record that lockRecord() made
};
