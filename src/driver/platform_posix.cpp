#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
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
  state.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                   info.st_mtim.tv_nsec;
  return state;
}

}  // namespace

SystemError openForReading(const std::string& path, SystemFile& file,
                           FileVersion& state) {
  // Without waiting: opening a pipe would wait for a writer.
  SystemFile opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!opened.isOpen()) return SystemError::last();
  struct stat info {};
  if (::fstat(fd(opened), &info) != 0) return SystemError::last();
  if (!S_ISREG(info.st_mode)) return SystemError::notARegularFile();
  const int flags = ::fcntl(fd(opened), F_GETFL);
  if (flags < 0 || ::fcntl(fd(opened), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return SystemError::last();
  state = stateOf(info);
  file = std::move(opened);
  return {};
}

SystemError readVersion(const std::string& path, FileVersion& state) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return SystemError::last();
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

void syncFolder(const std::string& folder) {
  const SystemFile opened(
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (opened.isOpen()) ::fsync(fd(opened));
}

SystemError removeFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return SystemError::last();
  clearPending(path);
  return {};
}
