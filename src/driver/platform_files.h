#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Files, folders and paths, and their errors: the part of what differs
// between operating systems that concerns files. One implementation file per
// platform, chosen by the build, holds this and the console's and the
// process's parts (platform_console.h, platform_process.h). Paths are UTF-8
// here; on Windows they meet the system as UTF-16, which every script fits.

// Whether `path` is a full path (as a file manager passes for a file dropped
// on the program) rather than a name below the Output folder.
bool isFullPath(const std::string& path);

// The last part of `path`, the file's bare name, and the folder before it.
// On Windows the name is the one the system opens: without trailing dots and
// spaces.
std::string fileNameOf(const std::string& path);
// The bare file name `name` as this system's file system tells names
// apart: as it is on Linux, where `A.xml` and `a.xml` are two files; without
// ASCII letter case on Windows, where they are one.
std::string nameAsTheSystemCompares(std::string_view name);
// A hash of `name` as nameAsTheSystemCompares() gives it, made without a
// copy where the system compares names as they are.
std::size_t hashOfName(std::string_view name);
std::string folderOf(const std::string& path);

// Whether `path` leads to a folder, symbolic links followed.
bool isFolder(const std::string& path);
// The file `name` in `folder`, written with the system's own separator.
std::string pathIn(const std::string& folder, const std::string& name);

// Creates a folder; an existing folder or any failure is silently ignored.
void createFolder(const std::string& path);

// What stands at a path that is not a regular file.
enum class EntryKind {
  kFolder,
  kLink,   // a symbolic link (a reparse point on Windows), dangling or not
  kOther,  // a device, a pipe, a socket
};

// What a file primitive says: nothing when it worked, or why it failed. The
// code is the system's own (errno, or GetLastError() on Windows), read where
// the call failed, or the program's for a file that opened but is not a
// regular file (a folder, a device, a pipe).
class SystemError {
 public:
  enum class Source {
    kNone,
    kErrno,
    kWindows,
    kNotARegularFile,
    kLockHeld,     // see LockHolder
    kForeignLink,  // a link another user made to a file not theirs
  };
  // Who keeps a run from the lock of a file: a run or program that may
  // write the file, for a minute on end; or at once, one that only reads it
  // and holds a reader's lock, which may be held for as long as it likes.
  enum class LockHolder { kWriter, kReader };

  SystemError() = default;
  SystemError(Source source, int code) : source_(source), code_(code) {}
  // errno, or on Windows GetLastError(), as it is now.
  static SystemError last();
  static SystemError notARegularFile(EntryKind kind = EntryKind::kOther) {
    return {Source::kNotARegularFile, static_cast<int>(kind)};
  }
  static SystemError lockHeld(LockHolder holder) {
    return {Source::kLockHeld, static_cast<int>(holder)};
  }

  explicit operator bool() const { return source_ != Source::kNone; }
  Source source() const { return source_; }
  int code() const { return code_; }
  // The system's text for it, without a closing period.
  std::string text() const;
  // Whether it says that no such file exists.
  bool isNotFound() const;
  // Whether it says that the new name of a link or rename is taken.
  bool isAlreadyThere() const;
  // Whether it says that a name is too long for the file system.
  bool isNameTooLong() const;
  // Whether it says that this user may not do it (the file's permissions).
  bool isAccessDenied() const;
  // Whether it says that the process, or the system, holds as many files
  // open as it may.
  bool isTooManyOpenFiles() const;
  // What stands there, for a path that is not a regular file.
  EntryKind entryKind() const { return static_cast<EntryKind>(code_); }
  // Who holds the lock, for a lock not taken.
  LockHolder lockHolder() const { return static_cast<LockHolder>(code_); }

 private:
  Source source_ = Source::kNone;
  int code_ = 0;
};

// An open file: a descriptor, or a Windows handle. Closed when it goes out of
// scope, unless closed before (which tells whether that worked).
class SystemFile {
 public:
  SystemFile() = default;
  explicit SystemFile(std::intptr_t handle) : handle_(handle) {}
  SystemFile(SystemFile&& other) noexcept : handle_(other.release()) {}
  SystemFile& operator=(SystemFile&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.release();
    }
    return *this;
  }
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;
  ~SystemFile() { close(); }

  bool isOpen() const { return handle_ != kClosed; }
  std::intptr_t get() const { return handle_; }
  std::intptr_t release() {
    const std::intptr_t handle = handle_;
    handle_ = kClosed;
    return handle;
  }
  // Nothing also when it was not open.
  SystemError close();

 private:
  // -1 is no descriptor, and INVALID_HANDLE_VALUE on Windows.
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

// A version of a file: which file a path names (its identity) and, as far as
// the system tells, what it holds. When any of it differs, the file was
// replaced or written to.
struct FileVersion {
  std::uint64_t device = 0, index = 0;  // the file's identity
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the system's finest unit
  std::uint64_t names = 0;    // hard links to it; not part of the version
  bool operator==(const FileVersion& other) const {
    return device == other.device && index == other.index &&
           size == other.size && modified == other.modified;
  }
  bool operator!=(const FileVersion& other) const { return !(*this == other); }
  // Whether both name the one file, whatever its contents.
  bool sameFile(const FileVersion& other) const {
    return device == other.device && index == other.index;
  }
};

// Whether a path is taken through a symbolic link at its end, or the link
// counts as what stands there. kOwned follows a link only where the user
// running made it, or the owner of the file it leads to did: the rule that
// Linux applies in shared folders, so that whoever may write a folder cannot
// make another user's run rewrite a file elsewhere. Another link is refused
// with Source::kForeignLink.
enum class Links { kFollow, kRefuse, kOwned };

// Whether the open `file` belongs to the user running, to root, or to the
// owner of `folder`, where it is: anyone else who may write the folder
// could have made it. Windows does not tell here: every file is.
bool isTrusted(const SystemFile& file, const std::string& folder);

// Opens a file for reading and tells its state. Anything but a regular file
// is refused with SystemError::notARegularFile(), before it is read from: a
// pipe never blocks, and a device is never replaced.
SystemError openForReading(const std::string& path, SystemFile& file,
                           FileVersion& state, Links links = Links::kFollow);
// With Links::kRefuse, anything but a regular file is refused as above.
SystemError readVersion(const std::string& path, FileVersion& state,
                        Links links = Links::kFollow);
// Reads up to `size` bytes; `got` is 0 at the end of the file.
SystemError readSome(const SystemFile& file, char* data, std::size_t size,
                     std::size_t& got);
// Goes back to the start of the file, or to byte `to`, to read from there.
SystemError rewindFile(const SystemFile& file, std::uint64_t to = 0);
// Opens the regular file at `path`, which is not a link, to read it and to
// write it in place, and tells its state (with the names it has).
SystemError openForAppending(const std::string& path, SystemFile& file,
                             FileVersion& state);
// Writes `size` bytes at byte `offset` of `file`, where it ends: whatever
// stood from `offset` on is cut off first.
SystemError writeAt(const SystemFile& file, std::uint64_t offset,
                    const char* data, std::size_t size);

// What the new file of a replacement inherits from the file it replaces.
struct InheritedAttributes {
  // Marked read-only, which binds everyone here: the Windows attribute, or
  // elsewhere no write permission for anyone.
  bool readOnly = false;
  std::uint32_t mode = 0, owner = 0, group = 0;  // POSIX
  std::uint32_t attributes = 0;                  // Windows
};

// The file that `path` leads to, symbolic links followed; `path` itself where
// the system cannot tell.
SystemError resolveLinks(const std::string& path, std::string& target);
SystemError readAttributes(const std::string& path,
                           InheritedAttributes& attributes);
// Whether a new file made by this user can be given the owner of the file
// with `attributes`: it is this user's, or this user is root. Where it is
// not, the file's owner would change, and `owner` is told that owner's name.
bool ownerIsKept(const InheritedAttributes& attributes, std::string& owner);
// Whether this user may write the file: it is opened for writing (without
// truncating it) and closed again.
SystemError probeWriting(const std::string& path);
// Whether this user may replace the file by a rename in its folder: a
// sticky folder (/tmp, a shared folder) lets only its owners do that.
SystemError probeReplacing(const std::string& path);
// How every new file that hudconv names begins, and so how what a stopped
// run left is known.
inline constexpr const char kTemporaryStem[] = ".hudconv-";
// A new file in `folder`, open for writing. Where the system allows, it has
// no name (and `path` is empty), so that nothing is left of it if the
// program is killed; otherwise it is named kTemporaryStem and a unique
// ending, and `cleanup` covers it.
class SignalCleanup;  // platform_process.h
SystemError createTemporary(const std::string& folder, SystemFile& file,
                            std::string& path, SignalCleanup& cleanup);
// Makes the new file one that stays when the program ends: gives an unnamed
// one a name like the above, in `folder`, which `cleanup` covers.
SystemError nameTemporary(const SystemFile& file, const std::string& folder,
                          std::string& path, SignalCleanup& cleanup);
// Gives a new file the mode, owner, group or attributes of the old one; the
// group where this user may give it.
SystemError inheritAttributes(const SystemFile& file,
                              const InheritedAttributes& attributes);
SystemError writeAll(const SystemFile& file, const char* data,
                     std::size_t size);
// Starts writing `size` bytes from `offset` to the disk, without waiting;
// a system that cannot is not an error.
SystemError startWriteBack(const SystemFile& file, std::uint64_t offset,
                           std::uint64_t size);
SystemError flushToDisk(const SystemFile& file);
// Closes `file`, telling what closing says, while `hold` takes over holding
// it from other runs until it is renamed, where the system lets an open file
// be renamed; on Windows, which does not, `hold` stays closed.
SystemError closeHolding(SystemFile& file, SystemFile& hold);
// Sets the file's modification time to the one in `state`.
SystemError setModified(const SystemFile& file, const FileVersion& state);
// Renames `from` over `to` in the same folder, as one step.
SystemError renameOver(const std::string& from, const std::string& to);
// Renames `from` to `to` in the same folder unless `to` exists, as one step
// where the file system can.
SystemError renameNoReplace(const std::string& from, const std::string& to);
// Gives the file `existing` the second name `link` in the same folder,
// unless `link` exists. File systems without hard links refuse.
SystemError linkFile(const std::string& existing, const std::string& link);
// Makes the names in `folder` durable where the system needs telling: flushes
// the folder, or where it cannot be opened or flushed, the file system that
// holds `fileInIt`, a file in it. Tells the first error where neither works.
SystemError syncFolder(const std::string& folder, const std::string& fileInIt);

SystemError removeFile(const std::string& path);
// Hides the file from a plain listing, where its name does not already: the
// Windows attribute.
SystemError hideFile(const SystemFile& file);
// Lets whoever may write the files of `folder` read the open `file` made
// there: it takes the folder's group where it may, and is readable by all
// (Windows: as the folder's permissions give). Returns what failed.
SystemError shareWithFolder(const SystemFile& file, const std::string& folder);

// One name in a folder, and whether it leads to a folder, or is a link that
// Links::kOwned would refuse.
struct FolderEntry {
  std::string name;
  bool folder = false;
  bool foreignLink = false;
};
// The names in `folder`, without "." and "..", in no order.
SystemError listFolder(const std::string& folder,
                       std::vector<FolderEntry>& entries);
// Removes the temporary files that runs stopped between naming and renaming
// them left in `folder`, found among its `entries` (see listFolder): those
// that no running hudconv holds and that were made (a time no copy can take
// over) more than a few seconds from now, before or after, for a clock may
// have been set back. Best effort.
void removeLeftovers(const std::string& folder,
                     const std::vector<FolderEntry>& entries);
