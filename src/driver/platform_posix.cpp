#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <utility>
#include <vector>

#include "driver/platform.h"

std::vector<std::string> programArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

bool isSystemHelpOption(const std::string& /*arg*/) { return false; }

bool isFullPath(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

namespace {

// The named temporary files in progress (the new layout file, and a copy of
// the old one for its backup), for the signal handler, which may only read
// names prepared in advance.
constexpr int kPendingSlots = 2;
std::string pendingNames[kPendingSlots];
std::atomic<const char*> pendingPaths[kPendingSlots];

void setPending(const std::string& path) {
  for (int slot = 0; slot < kPendingSlots; ++slot) {
    if (pendingPaths[slot].load()) continue;
    pendingNames[slot] = path;
    pendingPaths[slot].store(pendingNames[slot].c_str());
    return;
  }
}

// After the rename or the removal: a signal just before this finds the name
// gone already.
void clearPending(const std::string& path) {
  for (int slot = 0; slot < kPendingSlots; ++slot)
    if (pendingPaths[slot].load() && path == pendingNames[slot])
      pendingPaths[slot].store(nullptr);
}

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

extern "C" void removePendingAndStop(int number) {
  for (auto& pending : pendingPaths)
    if (const char* path = pending.load()) ::unlink(path);
  // The handler was reset: the signal ends the program as it would have, so
  // the shell sees 128 + its number.
  ::raise(number);
}

}  // namespace

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

std::string layoutFilePath(const std::string& home, const std::string& name) {
  return home + "/Output/" + name;
}

void createFolder(const std::string& path) { ::mkdir(path.c_str(), 0777); }

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

SystemError listFolder(const std::string& folder,
                       std::vector<FolderEntry>& entries) {
  DIR* const listing = ::opendir(folder.c_str());
  if (!listing) return SystemError::last();
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool leadsToFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info {};
      leadsToFolder =
          ::fstatat(::dirfd(listing), entry->d_name, &info, 0) == 0 &&
          S_ISDIR(info.st_mode);
    }
    entries.push_back({name, leadsToFolder});
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
  SystemFile opened(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow));
  if (!opened.isOpen()) {
    if (noFollow && errno == ELOOP)
      return SystemError::notARegularFile(EntryKind::kLink);
    return SystemError::last();
  }
  struct stat info {};
  if (::fstat(fd(opened), &info) != 0) return SystemError::last();
  if (const SystemError error = notRegular(info)) return error;
  const int flags = ::fcntl(fd(opened), F_GETFL);
  if (flags < 0 || ::fcntl(fd(opened), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return SystemError::last();
  state = stateOf(info);
  file = std::move(opened);
  return {};
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

SystemError rewindFile(const SystemFile& file) {
  return ::lseek(fd(file), 0, SEEK_SET) == 0 ? SystemError()
                                             : SystemError::last();
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
  attributes.owner = info.st_uid;
  attributes.group = info.st_gid;
  return {};
}

SystemError probeWriting(const std::string& path) {
  SystemFile probe(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  return probe.isOpen() ? SystemError() : SystemError::last();
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

// ".hudconv-" and six letters or digits, as mkstemp makes them.
std::string temporaryName(const std::string& folder) {
  static const char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::uint64_t random =
      static_cast<std::uint64_t>(::getpid()) * 2654435761u ^
      static_cast<std::uint64_t>(::time(nullptr));
  std::string name = (folder == "/" ? "" : folder) + "/.hudconv-";
  for (int i = 0; i < 6; ++i) {
    random = random * 6364136223846793005u + 1442695040888963407u;
    name += kLetters[(random >> 33) % 62];
  }
  return name;
}

}  // namespace

SystemError createTemporary(const std::string& folder, SystemFile& file,
                            std::string& path) {
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
  std::string name = (folder == "/" ? "" : folder) + "/.hudconv-XXXXXX";
  const HoldSignals held;
  SystemFile created(::mkstemp(name.data()));
  if (!created.isOpen()) return SystemError::last();
  ::flock(fd(created), LOCK_EX | LOCK_NB);
  setPending(name);
  path = name;
  file = std::move(created);
  return {};
}

SystemError nameTemporary(const SystemFile& file, const std::string& folder,
                          std::string& path) {
  if (!path.empty()) return {};
  // Linking through /proc needs no privilege, unlike AT_EMPTY_PATH.
  const std::string self = "/proc/self/fd/" + std::to_string(fd(file));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = temporaryName(folder);
    const HoldSignals held;
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      setPending(name);
      path = name;
      return {};
    }
    if (errno != EEXIST) return SystemError::last();
  }
  return {SystemError::Source::kErrno, EEXIST};
}

SystemError inheritAttributes(const SystemFile& file,
                              const InheritedAttributes& attributes) {
  // Keep the owner where we may set it (root converting a player's file);
  // anyone else keeps their own files anyway.
  (void)!::fchown(fd(file), attributes.owner, attributes.group);
  return ::fchmod(fd(file), attributes.mode) == 0 ? SystemError()
                                                  : SystemError::last();
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
  if (::rename(from.c_str(), to.c_str()) != 0) return SystemError::last();
  clearPending(from);
  return {};
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
  clearPending(from);
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

void removeLeftovers(const std::string& folder) {
  DIR* const listing = ::opendir(folder.c_str());
  if (!listing) return;
  const std::string stem = ".hudconv-";
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() != stem.size() + 6 || name.compare(0, stem.size(), stem))
      continue;
    const std::string path = (folder == "/" ? "" : folder) + "/" + name;
    const SystemFile left(
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    // A run holds its own until it is renamed; one that has just made it
    // may not hold it yet, but has written it a moment ago.
    if (left.isOpen() && ::fstat(fd(left), &info) == 0 &&
        S_ISREG(info.st_mode) && now - info.st_mtime > 10 &&
        ::flock(fd(left), LOCK_EX | LOCK_NB) == 0)
      ::unlink(path.c_str());
  }
  ::closedir(listing);
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

SystemError FileLock::lock(const std::string& path) {
  // A socket bound to a name of its own in the abstract namespace: no file,
  // and gone with the process. The name is a hash of the path.
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : path)
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const int length =
      std::snprintf(address.sun_path + 1, sizeof(address.sun_path) - 1,
                    "hudconv-%016llx", static_cast<unsigned long long>(hash));
  SystemFile held(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!held.isOpen()) return SystemError::last();
  const auto size =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  for (int waited = 0;; ++waited) {
    if (::bind(fd(held), reinterpret_cast<const sockaddr*>(&address), size) ==
        0)
      break;
    if (errno != EADDRINUSE || waited == 60000) return SystemError::last();
    const timespec millisecond{0, 1000000};
    ::nanosleep(&millisecond, nullptr);
  }
  handle_ = held.release();
  return {};
}

SystemError removeFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return SystemError::last();
  clearPending(path);
  return {};
}
