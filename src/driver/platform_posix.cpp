#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "driver/platform.h"

namespace {

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Closes a descriptor on every path out of a scope unless released.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const char* data, std::size_t size) {
  // Pieces of 1 MiB: one write of hundreds of megabytes runs several times
  // slower into the page cache than the same bytes in pieces.
  const std::size_t piece = 1 << 20;
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size < piece ? size : piece);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string parentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

bool isFullPath(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

std::string fileNameOf(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
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
      throw std::runtime_error(systemError("cannot read", "/proc/self/exe"));
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

void adviseLargeBuffer(void* data, std::size_t size) {
  // Fresh memory costs a page fault per page, and on virtual machines each
  // fault costs more than the copying it interrupts: ask for 2 MiB pages and
  // have them mapped in one call. Both are hints; older kernels refuse them.
  const std::size_t page = 4096;
  const std::size_t skip =
      (page - reinterpret_cast<std::uintptr_t>(data) % page) % page;
  if (size <= skip + page) return;
  char* const start = static_cast<char*>(data) + skip;
  const std::size_t length = (size - skip) / page * page;
  ::madvise(start, length, MADV_HUGEPAGE);
  ::madvise(start, length, MADV_POPULATE_WRITE);
}

std::FILE* openForReading(const std::string& path, std::uint64_t& size) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;
  struct stat info {};
  if (::fstat(::fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return file;
}

bool replaceFileContents(const std::string& path, const std::string& contents,
                         std::string& error) {
  // Through a symbolic link, the file it points to is the one to replace.
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) {
    error = systemError("cannot find", path);
    return false;
  }
  const std::string target = resolved;
  std::free(resolved);

  struct stat info {};
  if (::stat(target.c_str(), &info) != 0) {
    error = systemError("cannot read the attributes of", target);
    return false;
  }
  // Rename would succeed on a read-only file; opening it for writing (without
  // truncating) asks the system whether this user may change it.
  {
    FileDescriptor probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (probe.get() < 0) {
      error = systemError("cannot write", target);
      return false;
    }
  }

  const std::string folderPath = parentFolder(target);
  std::string tempPath = folderPath + "/.hudconv-XXXXXX";
  std::vector<char> tempName(tempPath.begin(), tempPath.end());
  tempName.push_back('\0');
  FileDescriptor temp(::mkstemp(tempName.data()));
  if (temp.get() < 0) {
    error = systemError("cannot create a temporary file in", folderPath);
    return false;
  }
  tempPath = tempName.data();

  // Keep the owner where we may set it (root converting a player's file);
  // anyone else keeps their own files anyway.
  (void)!::fchown(temp.get(), info.st_uid, info.st_gid);

  const char* failed = nullptr;
  if (!writeAll(temp.get(), contents.data(), contents.size()))
    failed = "cannot write";
  else if (::fchmod(temp.get(), info.st_mode & 07777) != 0)
    failed = "cannot set the permissions of";
  else if (::fsync(temp.get()) != 0)
    failed = "cannot flush";
  else if (::close(temp.release()) != 0)
    failed = "cannot close";
  else if (::rename(tempPath.c_str(), target.c_str()) != 0)
    failed = "cannot rename";
  if (failed) {
    error = systemError(failed, tempPath);
    ::unlink(tempPath.c_str());
    return false;
  }

  // Best effort: make the rename itself durable.
  FileDescriptor folder(
      ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return true;
}
