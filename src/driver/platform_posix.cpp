// Files, the console and the process on Linux and other POSIX systems.

#include <dirent.h>
#include <fcntl.h>
#include <nettle/sha2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/platform_console.h"
#include "driver/platform_files.h"
#include "driver/platform_hash.h"
#include "driver/platform_process.h"

std::vector<std::string> programArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

System thisSystem() { return System::kPosix; }

std::string quotedForShell(const std::string& text) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 0x80 ||
           std::string_view("@%+=:,./_-").find(c) != std::string_view::npos;
  };
  if (!text.empty() && std::all_of(text.begin(), text.end(), plain))
    return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? "'\\''" : std::string(1, c);
  return quoted + "'";
}

bool isFullPath(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

namespace {

// The named temporary files in progress, for the signal handler, which may
// only read names prepared in advance.
struct CleanupSlot {
  std::string name;
  std::atomic<const char*> path{nullptr};
  std::atomic<bool> taken{false};
};
CleanupSlot cleanupSlots[SignalCleanup::kMost];

// Holds back the signals that remove the pending file while a named one is
// made and registered, so that none comes between the two.
class HoldSignals {
 public:
  HoldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (const int number : kSignals) sigaddset(&held, number);
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_);
  }
  ~HoldSignals() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  HoldSignals(const HoldSignals&) = delete;
  HoldSignals& operator=(const HoldSignals&) = delete;

  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

 private:
  sigset_t saved_{};
};

}  // namespace

std::thread startHelperThread(std::function<void()> body) {
  const HoldSignals held;  // the new thread keeps the mask it starts with
  return std::thread(std::move(body));
}

namespace {

extern "C" void removePendingAndStop(int number) {
  for (CleanupSlot& slot : cleanupSlots)
    if (const char* path = slot.path.load()) ::unlink(path);
  // The handler was reset: the signal ends the program as it would have, so
  // the shell sees 128 + its number.
  ::raise(number);
}

}  // namespace

SystemError SignalCleanup::cover(const std::string& path,
                                 const SystemFile& /*file*/) {
  release();
  for (int slot = 0; slot < kMost; ++slot) {
    bool taken = false;
    if (!cleanupSlots[slot].taken.compare_exchange_strong(taken, true))
      continue;
    cleanupSlots[slot].name = path;
    cleanupSlots[slot].path.store(cleanupSlots[slot].name.c_str());
    slot_ = slot;
    return {};
  }
  return {SystemError::Source::kErrno, EMFILE};
}

void SignalCleanup::closing() {}

void SignalCleanup::release() {
  if (slot_ < 0) return;
  // After the rename or the removal: a signal just before this finds the
  // name gone already.
  cleanupSlots[slot_].path.store(nullptr);
  cleanupSlots[slot_].taken.store(false);
  slot_ = -1;
}

void prepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = removePendingAndStop;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int number : HoldSignals::kSignals) {
    struct sigaction before {};
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (::sigaction(number, nullptr, &before) == 0 &&
        before.sa_handler == SIG_IGN)
      continue;
    ::sigaction(number, &action, nullptr);
  }
}

std::string fileNameOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void writeText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

bool consoleClosesWithProgram() { return false; }

std::string executableDirectory() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t length =
        ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0)
      throw std::runtime_error("cannot read /proc/self/exe: " +
                               SystemError::last().text());
    if (static_cast<std::size_t>(length) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(length));
      const std::size_t cut = path.find_last_of("\\/");
      return cut == std::string::npos ? path : path.substr(0, cut);
    }
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

// How many files the process holds open: those Linux lists, or else those
// below `limit` that are open.
std::size_t openFiles(std::size_t limit) {
  if (DIR* listed = ::opendir("/proc/self/fd")) {
    std::size_t open = 0;
    while (const dirent* entry = ::readdir(listed))
      open += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(listed);
    return open > 0 ? open - 1 : 0;  // the listing's own
  }
  std::size_t open = 0;
  for (std::size_t fd = 0; fd < std::min<std::size_t>(limit, 65536); ++fd)
    open += ::fcntl(static_cast<int>(fd), F_GETFD) != -1 ? 1 : 0;
  return open;
}

}  // namespace

std::size_t openFilesAllowed() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      limit.rlim_cur == RLIM_INFINITY)
    return SIZE_MAX;
  const auto most = static_cast<std::size_t>(limit.rlim_cur);
  return most - std::min(most, openFiles(most));
}

std::string nameAsTheSystemCompares(std::string_view name) {
  return std::string(name);
}

std::size_t hashOfName(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}

std::string profileStateFolder() {
  // A relative one is to be ignored, as the XDG base directories say.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.local/state";
}

void createFolder(const std::string& path) { ::mkdir(path.c_str(), 0777); }

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Whether a link (`link`, as lstat tells it) to the file `target` is one to
// follow: the user running made it, or the owner of the file did.
bool mayFollow(const struct stat& link, const struct stat& target) {
  return link.st_uid == ::geteuid() || link.st_uid == target.st_uid;
}

}  // namespace

SystemError listFolder(const std::string& folder,
                       std::vector<FolderEntry>& entries) {
  DIR* const listing = ::opendir(folder.c_str());
  if (!listing) return SystemError::last();
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry found{name, entry->d_type == DT_DIR, false};
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat link {};
      struct stat info {};
      const bool leads =
          ::fstatat(::dirfd(listing), entry->d_name, &info, 0) == 0;
      found.folder = leads && S_ISDIR(info.st_mode);
      found.foreignLink = leads &&
                          ::fstatat(::dirfd(listing), entry->d_name, &link,
                                    AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(link.st_mode) && !mayFollow(link, info);
    }
    entries.push_back(found);
  }
  ::closedir(listing);
  return {};
}

std::string pathIn(const std::string& folder, const std::string& name) {
  return (folder == "/" ? "" : folder) + "/" + name;
}

void waitForKeyPress() {
  if (!::isatty(STDIN_FILENO)) return;
  std::printf("Press any key to continue . . .");
  std::fflush(stdout);
  termios saved{};
  const bool raw = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (raw) {
    termios single = saved;
    single.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    single.c_cc[VMIN] = 1;
    single.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &single);
  }
  char key;
  while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  if (raw) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  std::printf("\n");
}

SystemError SystemError::last() { return {Source::kErrno, errno}; }

std::string SystemError::text() const {
  if (source_ == Source::kNotARegularFile) return "not a regular file";
  if (source_ == Source::kLockHeld) return "another program holds it";
  if (source_ == Source::kForeignLink) return "a link of another user's";
  return std::strerror(code_);
}

bool SystemError::isNotFound() const {
  return source_ == Source::kErrno && (code_ == ENOENT || code_ == ENOTDIR);
}

bool SystemError::isAlreadyThere() const {
  return source_ == Source::kErrno && code_ == EEXIST;
}

bool SystemError::isNameTooLong() const {
  return source_ == Source::kErrno && code_ == ENAMETOOLONG;
}

bool SystemError::isAccessDenied() const {
  return source_ == Source::kErrno && (code_ == EACCES || code_ == EPERM);
}

bool SystemError::isTooManyOpenFiles() const {
  return source_ == Source::kErrno && (code_ == EMFILE || code_ == ENFILE);
}

SystemError SystemFile::close() {
  if (!isOpen()) return {};
  // The descriptor is gone whatever close says, so it is never closed twice.
  return ::close(static_cast<int>(release())) == 0 ? SystemError()
                                                   : SystemError::last();
}

namespace {

int fd(const SystemFile& file) { return static_cast<int>(file.get()); }

FileVersion stateOf(const struct stat& info) {
  FileVersion state;
  state.device = static_cast<std::uint64_t>(info.st_dev);
  state.index = static_cast<std::uint64_t>(info.st_ino);
  state.size = static_cast<std::uint64_t>(info.st_size);
  state.names = static_cast<std::uint64_t>(info.st_nlink);
  state.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                   info.st_mtim.tv_nsec;
  return state;
}

SystemError notRegular(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return {};
  if (S_ISDIR(info.st_mode))
    return SystemError::notARegularFile(EntryKind::kFolder);
  if (S_ISLNK(info.st_mode))
    return SystemError::notARegularFile(EntryKind::kLink);
  return SystemError::notARegularFile();
}

}  // namespace

SystemError openForReading(const std::string& path, SystemFile& file,
                           FileVersion& state, Links links) {
  // Without waiting: opening a pipe would wait for a writer.
  const int noFollow = links == Links::kRefuse ? O_NOFOLLOW : 0;
  struct stat link {};
  const bool owned = links == Links::kOwned &&
                     ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  SystemFile opened(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow));
  if (!opened.isOpen()) {
    if (noFollow && errno == ELOOP)
      return SystemError::notARegularFile(EntryKind::kLink);
    return SystemError::last();
  }
  struct stat info {};
  if (::fstat(fd(opened), &info) != 0) return SystemError::last();
  if (owned) {
    // The link looked at is the one that was followed: a link cannot be
    // changed, only replaced by another.
    struct stat after {};
    if (::lstat(path.c_str(), &after) != 0 || after.st_ino != link.st_ino ||
        after.st_dev != link.st_dev || !mayFollow(link, info))
      return {SystemError::Source::kForeignLink, 0};
  }
  if (const SystemError error = notRegular(info)) return error;
  const int flags = ::fcntl(fd(opened), F_GETFL);
  if (flags < 0 || ::fcntl(fd(opened), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return SystemError::last();
  state = stateOf(info);
  file = std::move(opened);
  return {};
}

bool isTrusted(const SystemFile& file, const std::string& folder) {
  struct stat info {};
  struct stat where {};
  if (::fstat(fd(file), &info) != 0) return false;
  if (info.st_uid == ::geteuid() || info.st_uid == 0) return true;
  return ::stat(folder.c_str(), &where) == 0 && info.st_uid == where.st_uid;
}

SystemError readVersion(const std::string& path, FileVersion& state,
                        Links links) {
  struct stat info {};
  if (links == Links::kRefuse) {
    if (::lstat(path.c_str(), &info) != 0) return SystemError::last();
    if (const SystemError error = notRegular(info)) return error;
  } else if (::stat(path.c_str(), &info) != 0) {
    return SystemError::last();
  }
  state = stateOf(info);
  return {};
}

SystemError readSome(const SystemFile& file, char* data, std::size_t size,
                     std::size_t& got) {
  for (;;) {
    const ssize_t read = ::read(fd(file), data, size);
    if (read >= 0) {
      got = static_cast<std::size_t>(read);
      return {};
    }
    if (errno != EINTR) return SystemError::last();
  }
}

SystemError rewindFile(const SystemFile& file, std::uint64_t to) {
  return ::lseek(fd(file), static_cast<off_t>(to), SEEK_SET) ==
                 static_cast<off_t>(to)
             ? SystemError()
             : SystemError::last();
}

SystemError openForAppending(const std::string& path, SystemFile& file,
                             FileVersion& state) {
  SystemFile opened(
      ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!opened.isOpen())
    return errno == ELOOP ? SystemError::notARegularFile(EntryKind::kLink)
                          : SystemError::last();
  struct stat info {};
  if (::fstat(fd(opened), &info) != 0) return SystemError::last();
  if (const SystemError error = notRegular(info)) return error;
  state = stateOf(info);
  file = std::move(opened);
  return {};
}

SystemError writeAt(const SystemFile& file, std::uint64_t offset,
                    const char* data, std::size_t size) {
  if (::ftruncate(fd(file), static_cast<off_t>(offset)) != 0)
    return SystemError::last();
  if (const SystemError error = rewindFile(file, offset)) return error;
  return writeAll(file, data, size);
}

SystemError resolveLinks(const std::string& path, std::string& target) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return SystemError::last();
  target = resolved;
  std::free(resolved);
  return {};
}

SystemError readAttributes(const std::string& path,
                           InheritedAttributes& attributes) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return SystemError::last();
  attributes.mode = info.st_mode & 07777;
  // Marked read-only (chmod a-w): for root too, who may write it anyway.
  attributes.readOnly = (info.st_mode & 0222) == 0;
  attributes.owner = info.st_uid;
  attributes.group = info.st_gid;
  return {};
}

namespace {

// A user's name as /etc/passwd gives it, or "user N". The program is linked
// statically, where the C library's lookup would need its shared modules.
std::string userName(uid_t user) {
  const std::string id = std::to_string(user);
  if (std::FILE* users = std::fopen("/etc/passwd", "re")) {
    char line[1024];
    while (std::fgets(line, sizeof(line), users)) {
      const std::string entry = line;
      const std::size_t name = entry.find(':');
      const std::size_t password = entry.find(':', name + 1);
      if (name == std::string::npos || password == std::string::npos ||
          entry.compare(password + 1, id.size() + 1, id + ":") != 0)
        continue;
      std::fclose(users);
      return entry.substr(0, name);
    }
    std::fclose(users);
  }
  return "user " + id;
}

}  // namespace

bool ownerIsKept(const InheritedAttributes& attributes, std::string& owner) {
  const uid_t user = ::geteuid();
  if (user == 0 || user == attributes.owner) return true;
  owner = userName(attributes.owner);
  return false;
}

SystemError probeWriting(const std::string& path) {
  // Without waiting: a pipe put in the file's place would wait for a reader.
  SystemFile probe(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  if (!probe.isOpen())
    return errno == ENXIO ? SystemError::notARegularFile()
                          : SystemError::last();
  struct stat info {};
  if (::fstat(fd(probe), &info) != 0) return SystemError::last();
  return notRegular(info);
}

SystemError probeReplacing(const std::string& path) {
  struct stat file {};
  struct stat folder {};
  if (::stat(path.c_str(), &file) != 0 ||
      ::stat(folderOf(path).c_str(), &folder) != 0)
    return SystemError::last();
  // Root, the owner of the file and the owner of the folder may.
  const uid_t user = ::geteuid();
  if ((folder.st_mode & S_ISVTX) && user != 0 && user != file.st_uid &&
      user != folder.st_uid)
    return {SystemError::Source::kErrno, EPERM};
  return {};
}

namespace {

// kTemporaryStem and six letters or digits, as mkstemp makes them.
std::string temporaryName(const std::string& folder) {
  static const char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::uint64_t random =
      static_cast<std::uint64_t>(::getpid()) * 2654435761u ^
      static_cast<std::uint64_t>(::time(nullptr));
  std::string name = (folder == "/" ? "" : folder) + "/" + kTemporaryStem;
  for (int i = 0; i < 6; ++i) {
    random = random * 6364136223846793005u + 1442695040888963407u;
    name += kLetters[(random >> 33) % 62];
  }
  return name;
}

}  // namespace

SystemError createTemporary(const std::string& folder, SystemFile& file,
                            std::string& path, SignalCleanup& cleanup) {
  SystemFile unnamed(
      ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (unnamed.isOpen()) {
    // Held as long as it is open, so that no other run takes it for one
    // left behind.
    ::flock(fd(unnamed), LOCK_EX | LOCK_NB);
    path.clear();
    file = std::move(unnamed);
    return {};
  }
  // File systems without unnamed files get a named one.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    return SystemError::last();
  std::string name =
      (folder == "/" ? "" : folder) + "/" + kTemporaryStem + "XXXXXX";
  const HoldSignals held;
  SystemFile created(::mkstemp(name.data()));
  if (!created.isOpen()) return SystemError::last();
  ::flock(fd(created), LOCK_EX | LOCK_NB);
  if (const SystemError error = cleanup.cover(name, created)) {
    ::unlink(name.c_str());
    return error;
  }
  path = name;
  file = std::move(created);
  return {};
}

SystemError nameTemporary(const SystemFile& file, const std::string& folder,
                          std::string& path, SignalCleanup& cleanup) {
  if (!path.empty()) return {};
  // Linking through /proc needs no privilege, unlike AT_EMPTY_PATH.
  const std::string self = "/proc/self/fd/" + std::to_string(fd(file));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporaryName(folder);
    const HoldSignals held;
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      if (const SystemError error = cleanup.cover(name, file)) {
        ::unlink(name.c_str());
        return error;
      }
      path = name;
      return {};
    }
    if (errno != EEXIST) return SystemError::last();
  }
  return {SystemError::Source::kErrno, EEXIST};
}

SystemError inheritAttributes(const SystemFile& file,
                              const InheritedAttributes& attributes) {
  // Root gives the file back to its owner; anyone else converts only their
  // own files (see ownerIsKept) and keeps the group where they belong to
  // it. The mode comes last: a change of owner clears the set-id bits.
  if (::geteuid() == 0) {
    if (::fchown(fd(file), attributes.owner, attributes.group) != 0)
      return SystemError::last();
  } else {
    (void)!::fchown(fd(file), static_cast<uid_t>(-1), attributes.group);
  }
  return ::fchmod(fd(file), attributes.mode) == 0 ? SystemError()
                                                  : SystemError::last();
}

SystemError closeHolding(SystemFile& file, SystemFile& hold) {
  // The copy shares the lock taken at its creation.
  hold = SystemFile(::fcntl(fd(file), F_DUPFD_CLOEXEC, 0));
  if (!hold.isOpen()) return SystemError::last();
  return file.close();
}

SystemError writeAll(const SystemFile& file, const char* data,
                     std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd(file), data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return SystemError::last();
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return {};
}

SystemError startWriteBack(const SystemFile& file, std::uint64_t offset,
                           std::uint64_t size) {
  if (::sync_file_range(fd(file), static_cast<off_t>(offset),
                        static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE) == 0)
    return {};
  // The disk's own failures count; a file system that cannot does not.
  return errno == EIO || errno == ENOSPC ? SystemError::last() : SystemError();
}

SystemError flushToDisk(const SystemFile& file) {
  return ::fsync(fd(file)) == 0 ? SystemError() : SystemError::last();
}

SystemError setModified(const SystemFile& file, const FileVersion& state) {
  const timespec times[2] = {{0, UTIME_OMIT},
                             {static_cast<time_t>(state.modified / 1000000000),
                              static_cast<long>(state.modified % 1000000000)}};
  return ::futimens(fd(file), times) == 0 ? SystemError() : SystemError::last();
}

SystemError renameOver(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? SystemError()
                                                 : SystemError::last();
}

SystemError renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                  RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return SystemError::last();
    // A file system that cannot tell: look first.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
      return {SystemError::Source::kErrno, EEXIST};
    if (::rename(from.c_str(), to.c_str()) != 0) return SystemError::last();
  }
  return {};
}

SystemError linkFile(const std::string& existing, const std::string& link) {
  return ::link(existing.c_str(), link.c_str()) == 0 ? SystemError()
                                                     : SystemError::last();
}

SystemError syncFolder(const std::string& folder, const std::string& fileInIt) {
  const SystemFile opened(
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (opened.isOpen() && ::fsync(fd(opened)) == 0) return {};
  const SystemError error = SystemError::last();
  // A folder that may be written but not read, or whose flush fails: the
  // file system it is on is flushed whole instead.
  const SystemFile inIt(
      ::open(fileInIt.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (inIt.isOpen() && ::syncfs(fd(inIt)) == 0) return {};
  return error;
}

void removeLeftovers(const std::string& folder,
                     const std::vector<FolderEntry>& entries) {
  const std::string stem = kTemporaryStem;
  const std::int64_t now = ::time(nullptr);
  for (const FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    if (entry.folder || name.size() != stem.size() + 6 ||
        name.compare(0, stem.size(), stem))
      continue;
    const std::string path = pathIn(folder, name);
    const SystemFile left(
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    // A run holds its own until it is renamed; one that has just made it
    // may not hold it yet, but made it a moment ago. The change time tells:
    // a backup's copy takes the original's modification time, and no one
    // can set the change time but the clock.
    if (left.isOpen() && ::fstat(fd(left), &info) == 0 &&
        S_ISREG(info.st_mode) &&
        std::abs(now - static_cast<std::int64_t>(info.st_ctime)) > 10 &&
        ::flock(fd(left), LOCK_EX | LOCK_NB) == 0)
      ::unlink(path.c_str());
  }
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

namespace {

// A lock on one byte far past the end of any layout file: no program that
// locks what it reads or writes there meets it, and one that locks the
// whole file keeps hudconv out, as it should.
struct flock lockedByte(short type) {
  struct flock byte {};
  byte.l_type = type;
  byte.l_whence = SEEK_SET;
  byte.l_start = std::int64_t{1} << 62;
  byte.l_len = 1;
  return byte;
}

std::int64_t steadyMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

SystemError FileLock::lock(const std::string& path) {
  // A lock of the open file itself, not of the process: it goes with the
  // descriptor, and with the program however that ends. Opening the file
  // for writing proves that this user may hold a writer's lock; a user who
  // may only read it takes a reader's lock, which keeps writers out too.
  const std::int64_t deadline = steadyMilliseconds() + 60000;
  for (;;) {
    short type = F_WRLCK;
    SystemFile held(
        ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!held.isOpen() &&
        (errno == EACCES || errno == EPERM || errno == EROFS)) {
      type = F_RDLCK;
      held = SystemFile(
          ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!held.isOpen())
      return errno == ENXIO || errno == ELOOP ? SystemError::notARegularFile()
                                              : SystemError::last();
    struct stat locked {};
    if (::fstat(fd(held), &locked) != 0) return SystemError::last();
    if (const SystemError error = notRegular(locked)) return error;
    struct flock byte = lockedByte(type);
    while (::fcntl(fd(held), F_OFD_SETLK, &byte) != 0) {
      if (errno != EAGAIN && errno != EACCES && errno != EINTR)
        return SystemError::last();
      // A reader may hold its lock for as long as it likes: not waited for.
      struct flock holder = lockedByte(type);
      if (type == F_WRLCK && ::fcntl(fd(held), F_OFD_GETLK, &holder) == 0 &&
          holder.l_type == F_RDLCK)
        return SystemError::lockHeld(SystemError::LockHolder::kReader);
      if (steadyMilliseconds() >= deadline)
        return SystemError::lockHeld(SystemError::LockHolder::kWriter);
      const timespec millisecond{0, 1000000};
      ::nanosleep(&millisecond, nullptr);
      byte = lockedByte(type);
    }
    // Held on the file that the path still names, or taken again on the
    // one that took its place while this run waited.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) return SystemError::last();
    if (named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
      handle_ = held.release();
      return {};
    }
    if (steadyMilliseconds() >= deadline)
      return SystemError::lockHeld(SystemError::LockHolder::kWriter);
  }
}

namespace {

// The lock of the folder itself, for a record that is no file or that this
// user may not open: a flock() that anyone who may read the folder can
// take. A folder that may be written but not read cannot be locked so: that
// is no failure, and only runs at once in it may lose each other's entries.
SystemError lockFolderItself(const std::string& folder, SystemFile& held) {
  held = SystemFile(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!held.isOpen())
    return errno == EACCES ? SystemError() : SystemError::last();
  const std::int64_t deadline = steadyMilliseconds() + 60000;
  while (::flock(fd(held), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return SystemError::last();
    if (steadyMilliseconds() >= deadline)
      return SystemError::lockHeld(SystemError::LockHolder::kWriter);
    const timespec millisecond{0, 1000000};
    ::nanosleep(&millisecond, nullptr);
  }
  return {};
}

// Removes the file at `path` where it is still `file`, empty: the record
// made to be locked. A run that waits for its lock takes it again on the
// record made in its place.
void removeIfEmpty(int file, const std::string& path) {
  struct stat held {};
  struct stat named {};
  if (::fstat(file, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
      held.st_dev == named.st_dev && held.st_ino == named.st_ino &&
      named.st_size == 0)
    ::unlink(path.c_str());
}

}  // namespace

SystemError FileLock::lockRecord(const std::string& folder,
                                 const std::string& record, bool shared) {
  // The record may be replaced, removed or made while this run waits: each
  // time, the lock is taken again on what the name names now.
  for (int tries = 0; tries < 1000; ++tries) {
    SystemFile made(::open(record.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           shared ? 0644 : 0600));
    if (made.isOpen() && shared) (void)shareWithFolder(made, folder);
    const bool absent = !made.isOpen() && errno != EEXIST;
    struct stat named {};
    if (!absent && ::lstat(record.c_str(), &named) != 0) continue;
    if (!absent && S_ISREG(named.st_mode)) {
      const SystemError error = lock(record);
      if (error.isNotFound() ||
          error.source() == SystemError::Source::kNotARegularFile)
        continue;
      if (!error.isAccessDenied()) {
        if (made.isOpen()) {
          if (error)
            removeIfEmpty(fd(made), record);
          else
            made_ = record;
        }
        return error;
      }
    }
    // None that can be made, no file, or one this user may not open: the
    // record this run writes in its place is held from its rename on. A
    // record that became a file while this run waited is locked instead.
    SystemFile folderHeld;
    if (const SystemError error = lockFolderItself(folder, folderHeld))
      return error;
    if (!absent && !S_ISREG(named.st_mode) &&
        ::lstat(record.c_str(), &named) == 0 && S_ISREG(named.st_mode))
      continue;
    handle_ = folderHeld.release();
    return {};
  }
  return SystemError::lockHeld(SystemError::LockHolder::kWriter);
}

SystemError FileLock::holdAlso(const SystemFile& file) {
  SystemFile held(::fcntl(fd(file), F_DUPFD_CLOEXEC, 0));
  if (!held.isOpen()) return SystemError::last();
  struct flock byte = lockedByte(F_WRLCK);
  if (::fcntl(fd(held), F_OFD_SETLK, &byte) != 0) return SystemError::last();
  also_.push_back(std::move(held));
  return {};
}

void FileLock::removeMadeRecord() {
  if (made_.empty()) return;
  removeIfEmpty(static_cast<int>(handle_), made_);
  made_.clear();
}

SystemError shareWithFolder(const SystemFile& file, const std::string& folder) {
  struct stat where {};
  struct stat made {};
  // Only a member of the group may give it the group: a user of another
  // keeps their own, and the mode still lets the group read it.
  if (::stat(folder.c_str(), &where) == 0 && ::fstat(fd(file), &made) == 0 &&
      made.st_gid != where.st_gid)
    (void)::fchown(fd(file), static_cast<uid_t>(-1), where.st_gid);
  if (::fchmod(fd(file), 0644) != 0) return SystemError::last();
  return {};
}

SystemError hideFile(const SystemFile& /*file*/) {
  return {};  // a name that begins with a dot is hidden already
}

SystemError removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? SystemError() : SystemError::last();
}

struct Sha256::State {
  sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  sha256_init(&state_->context);
}

Sha256::~Sha256() = default;

void Sha256::feed(const void* data, std::size_t size) {
  sha256_update(&state_->context, size, static_cast<const std::uint8_t*>(data));
}

Sha256::Value Sha256::value() const {
  // Taken of a copy: sha256_digest() starts the context again.
  sha256_ctx done = state_->context;
  Value value;
  sha256_digest(&done, value.size(), value.data());
  return value;
}
