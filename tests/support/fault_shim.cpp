// Preloaded into hudconv by the fault-injection tests (LD_PRELOAD): makes one
// step of the safe replace fail, chosen by HUDCONV_FAULT. Only the temporary
// file is touched, so everything else the program does goes through.
//
//   create        creating the temporary file fails (EMFILE)
//   no-tmpfile    the file system has no unnamed files (EOPNOTSUPP), so a
//                 named one is used
//   read          reading the layout file fails after the first read (EIO)
//   write         writing the temporary file fails as on a full disk (ENOSPC)
//   write-back    starting its write-back early fails (EIO)
//   write-back-unsupported
//                 the file system cannot start it early (EINVAL)
//   slow-write    each write to the temporary file takes 100 ms (or
//                 HUDCONV_FAULT_DELAY_MS), so that a run can be interrupted
//                 while it writes, and the converter finds every buffer of
//                 the writer still queued
//   chmod         setting the temporary file's permissions fails (EPERM)
//   flush         fsync fails (EIO)
//   folder-flush  fsync of a folder fails (EIO)
//   syncfs        flushing the whole file system fails (EIO)
//   name          naming the unnamed file fails (EPERM)
//   close         close fails after closing (EIO)
//   rename        the rename over the layout file fails (EXDEV)
//   slow-rename   the rename over the layout file waits 300 ms first
//   slow-backup   the rename of the backup's copy waits 500 ms first
//   pipe-at-write the layout file becomes a pipe before it is opened for
//                 writing
//   clock-ahead, clock-behind
//                 the clock is an hour ahead, or a year behind
//   fast-clock    the steady clock runs sixty times as fast
//   change-input  another program appends to the layout file (the one named
//                 by HUDCONV_FAULT_FILE) while it is converted
//   change-in-place
//                 the same, but it overwrites the first byte: the size stays
//   change-keep-time
//                 the same as change-input, but it puts the modification
//                 time back afterwards
//   change-at-rename
//                 another run replaces the layout file (the one named by
//                 HUDCONV_FAULT_FILE) just as the rename comes, and holds it
//                 so that the rename fails (EACCES), as Windows does
//   remove-input  the layout file disappears before it is replaced
//   remove-backup the backup of the layout file named by HUDCONV_FAULT_FILE
//                 is removed while the file is converted
//   change-backup that backup gets more bytes while the file is converted
//   converted-meanwhile
//                 another run converts the layout file named by
//                 HUDCONV_FAULT_FILE just before its backup is first looked
//                 for: keeps it as the backup, and puts "<converted/>" in its
//                 place
//   change-on-reopen
//                 another program appends to the file named by
//                 HUDCONV_FAULT_FILE (a layout file or a backup) just before
//                 the second look at it: opened for reading again, or its
//                 state read by name (lstat) once it was opened
//   no-link       the file system has no hard links (EPERM): the backup of
//                 the layout file is a copy
//   no-copy       naming that copy fails (EPERM)
//   backup-appears
//                 another program makes a backup of other bytes just
//                 before the layout file is linked to its backup, or (with
//                 no-link) before the copy of it is named so
//   restore-rename
//                 the rename of a backup over its layout file fails (EXDEV)
//   record-lock   locking the folder's record, or the folder, fails (EIO)
//   record-write  writing the new record, or an addition to the record,
//                 fails as on a full disk (ENOSPC)
//   record-flush  flushing an addition to the record fails (EIO)
//   record-rename the rename of the new record over the old fails (EXDEV)
//   kill-at-record
//                 the program is killed just before that rename, or that
//                 addition
//   slow-record   that rename or addition waits 200 ms first
//   term-at-name  the program is sent SIGTERM just after a new file (not a
//                 record) is named, by the thread that names it
//   kill-at-backup, kill-at-rename
//                 the program is killed just before a copy is renamed to
//                 the backup, or just before the rename over the layout file
// Several are given separated by commas. With HUDCONV_FAULT_NTH=N, create,
// chmod, write, flush, name, close, rename, kill-at-rename and term-at-name
// strike only the Nth time they would, and so one file of a run over many.
//
// With HUDCONV_FAULT_LOG naming a file, it also records there, a line each,
// the steps that leave no trace in the files themselves: "backup" (the
// backup named), "rename" (the temporary file over the layout file),
// "restore" (the backup over the layout file), "name" (the temporary file
// named), "fsync-folder", "syncfs" and "fchown UID GID" (on a temporary
// file).

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

const char kTempMarker[] = "/.hudconv-";

bool faultIs(const char* name) {
  const char* faults = std::getenv("HUDCONV_FAULT");
  if (!faults) return false;
  const std::string list = std::string(",") + faults + ",";
  return list.find(std::string(",") + name + ",") != std::string::npos;
}

// Whether the fault `name` strikes on an `occasion` for it: each time, or
// only the HUDCONV_FAULT_NTH time.
bool strikes(const char* name, bool occasion) {
  if (!occasion || !faultIs(name)) return false;
  const char* nth = std::getenv("HUDCONV_FAULT_NTH");
  if (!nth) return true;
  // Never destroyed: files are closed until the program ends.
  static auto* const counts = new std::map<std::string, int>;
  static auto* const counting = new std::mutex;  // flushes come from threads
  const std::lock_guard<std::mutex> lock(*counting);
  return ++(*counts)[name] == std::atoi(nth);
}

// As faultIs, for names that no other fault's name holds.
bool clockFault(const char* name) {
  const char* faults = std::getenv("HUDCONV_FAULT");
  return faults && std::strstr(faults, name);
}

bool isTempPath(const char* path) {
  return path && std::strstr(path, kTempMarker);
}

bool isBackupPath(const char* path) {
  const std::size_t length = path ? std::strlen(path) : 0;
  return length > 4 && std::strcmp(path + length - 4, ".bak") == 0;
}

// The path of the file open as `fd`.
std::string pathOf(int fd) {
  char entry[64];
  std::snprintf(entry, sizeof(entry), "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t length = ::readlink(entry, target, sizeof(target) - 1);
  return length < 0 ? std::string() : std::string(target, length);
}

// Named, or unnamed: "/folder/#inode (deleted)".
bool isTempFile(int fd) {
  const std::string path = pathOf(fd);
  return isTempPath(path.c_str()) || path.find("/#") != std::string::npos;
}

bool isRecordPath(const char* path) {
  const char ending[] = "/.hudconv.record";
  const std::size_t length = path ? std::strlen(path) : 0;
  return length >= sizeof(ending) - 1 &&
         std::strcmp(path + length - (sizeof(ending) - 1), ending) == 0;
}

const char kRecordHead[] = "hudconv record ";

// The new records being written, told by their first bytes: the faults of
// a layout file's new file pass them by.
int recordFds[16];
std::size_t records = 0;

bool isRecordFd(int fd) {
  for (std::size_t i = 0; i < records; ++i)
    if (recordFds[i] == fd) return true;
  return false;
}

void forgetRecordFd(int fd) {
  for (std::size_t i = 0; i < records; ++i)
    if (recordFds[i] == fd) recordFds[i] = recordFds[--records];
}

// A new file in place of a layout file, not a new record.
bool isNewFile(int fd) { return isTempFile(fd) && !isRecordFd(fd); }

bool isLayoutFile(int fd) {
  const std::string path = pathOf(fd);
  return path.find("/Output/") != std::string::npos &&
         !isTempPath(path.c_str());
}

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The file that another program changes, or null.
const char* faultFile() { return std::getenv("HUDCONV_FAULT_FILE"); }

// Another program writes to the layout file named by HUDCONV_FAULT_FILE:
// appends a line, or overwrites its first byte.
void changeLayoutFile(bool inPlace = false) {
  const char* path = std::getenv("HUDCONV_FAULT_FILE");
  std::FILE* layout = std::fopen(path, inPlace ? "r+b" : "ab");
  if (!layout) return;
  std::fputs(inPlace ? "X" : "changed\r\n", layout);
  std::fclose(layout);
}

// Appends as above, then puts the modification time back.
void changeLayoutFileKeepingItsTime() {
  struct stat before {};
  if (::stat(std::getenv("HUDCONV_FAULT_FILE"), &before) != 0) return;
  changeLayoutFile();
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ::utimensat(AT_FDCWD, std::getenv("HUDCONV_FAULT_FILE"), times, 0);
}

// Another run converts the layout file `path`: keeps it as its backup, a
// second name, and renames its new bytes over it.
void convertMeanwhile(const std::string& path) {
  real<int (*)(const char*, const char*)>("link")(path.c_str(),
                                                  (path + ".bak").c_str());
  const std::string made = path + ".new";
  if (std::FILE* converted = std::fopen(made.c_str(), "wb")) {
    std::fputs("<converted/>\r\n", converted);
    std::fclose(converted);
  }
  real<int (*)(const char*, const char*)>("rename")(made.c_str(), path.c_str());
}

// Another program or run makes the backup `path` first, of other bytes.
void makeOtherBackup(const char* path) {
  if (std::FILE* other = std::fopen(path, "wb")) {
    std::fputs("other\r\n", other);
    std::fclose(other);
  }
}

// The looks at the fault's file, the first its opening: the second changes
// it.
int looks = 0;
void lookAgain() {
  if (++looks == 2) changeLayoutFile();
}

void record(const std::string& step) {
  const char* log = std::getenv("HUDCONV_FAULT_LOG");
  if (!log) return;
  std::FILE* file = std::fopen(log, "a");
  if (!file) return;
  std::fprintf(file, "%s\n", step.c_str());
  std::fclose(file);
}

}  // namespace

// The C library declares these with reserved parameter names.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  // Another program puts a pipe in the layout file's place once it is read.
  if (faultIs("pipe-at-write") && (flags & O_ACCMODE) == O_WRONLY &&
      std::strstr(path, "/Output/") && !isTempPath(path) &&
      !isRecordPath(path)) {
    ::unlink(path);
    ::mkfifo(path, 0666);
  }
  const bool reading = (flags & O_ACCMODE) == O_RDONLY &&
                       (flags & O_DIRECTORY) == 0 && faultFile();
  if (reading && faultIs("converted-meanwhile") &&
      std::string(path) == faultFile() + std::string(".bak")) {
    static bool converted = false;
    if (!std::exchange(converted, true)) convertMeanwhile(faultFile());
  }
  if (reading && faultIs("change-on-reopen") &&
      std::strcmp(path, faultFile()) == 0)
    lookAgain();
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    if (strikes("create", true)) {
      errno = EMFILE;
      return -1;
    }
    if (faultIs("no-tmpfile")) {
      errno = EOPNOTSUPP;
      return -1;
    }
  }
  return real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int lstat(const char* path, struct stat* info) {
  if (faultIs("change-on-reopen") && faultFile() &&
      std::strcmp(path, faultFile()) == 0 && looks >= 1)
    lookAgain();
  return real<int (*)(const char*, struct stat*)>("lstat")(path, info);
}

// The clock set an hour ahead or a year back, for the age of leftovers.
// Both clocks are read from the kernel directly, and the faults looked up
// without allocating: the sanitizers' allocator reads the clocks too.
time_t time(time_t* out) {
  timespec real{};
  ::syscall(SYS_clock_gettime, CLOCK_REALTIME, &real);
  time_t now = real.tv_sec;
  if (clockFault("clock-ahead")) now += 3600;
  if (clockFault("clock-behind")) now -= time_t{365} * 24 * 3600;
  if (out) *out = now;
  return now;
}

// A steady clock that runs sixty times as fast: a minute in a second.
int clock_gettime(clockid_t clock, timespec* now) {
  const int result = static_cast<int>(::syscall(SYS_clock_gettime, clock, now));
  if (result == 0 && clock == CLOCK_MONOTONIC && clockFault("fast-clock")) {
    const long long nanoseconds =
        (static_cast<long long>(now->tv_sec) * 1000000000 + now->tv_nsec) * 60;
    now->tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
    now->tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  }
  return result;
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to,
           int flags) {
  const char* const self = "/proc/self/fd/";
  const bool namesRecord = std::strncmp(from, self, std::strlen(self)) == 0 &&
                           isRecordFd(std::atoi(from + std::strlen(self)));
  if (strikes("name", isTempPath(to) && !namesRecord)) {
    errno = EPERM;
    return -1;
  }
  const int result = real<int (*)(int, const char*, int, const char*, int)>(
      "linkat")(fromFolder, from, toFolder, to, flags);
  if (result == 0 && isTempPath(to)) record("name");
  // A signal the moment a new file has its name: from here, the thread that
  // holds the signals back.
  // It waits a moment, so that another thread that takes the signal meanwhile
  // has run its handler.
  if (result == 0 && strikes("term-at-name", isTempPath(to) && !namesRecord)) {
    ::kill(::getpid(), SIGTERM);
    ::usleep(20000);
  }
  return result;
}

int link(const char* from, const char* to) {
  if (faultIs("no-link") && isBackupPath(to)) {
    errno = EPERM;
    return -1;
  }
  if (faultIs("backup-appears") && isBackupPath(to)) makeOtherBackup(to);
  const int result = real<int (*)(const char*, const char*)>("link")(from, to);
  if (result == 0 && isBackupPath(to)) record("backup");
  return result;
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
              unsigned flags) {
  if (faultIs("no-copy") && isBackupPath(to)) {
    errno = EPERM;
    return -1;
  }
  if (faultIs("backup-appears") && isBackupPath(to)) makeOtherBackup(to);
  if (faultIs("slow-backup") && isBackupPath(to)) ::usleep(500000);
  const int result =
      real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(
          fromFolder, from, toFolder, to, flags);
  if (result == 0 && isBackupPath(to)) record("backup");
  return result;
}

int mkstemp(char* pattern) {
  if (faultIs("create") && isTempPath(pattern)) {
    errno = EMFILE;
    return -1;
  }
  return real<int (*)(char*)>("mkstemp")(pattern);
}

ssize_t read(int fd, void* data, size_t size) {
  static int reads = 0;
  if (faultIs("read") && isLayoutFile(fd) && ++reads > 1) {
    errno = EIO;
    return -1;
  }
  return real<ssize_t (*)(int, void*, size_t)>("read")(fd, data, size);
}

int sync_file_range(int fd, off64_t offset, off64_t size, unsigned flags) {
  if (isNewFile(fd) &&
      (faultIs("write-back") || faultIs("write-back-unsupported"))) {
    errno = faultIs("write-back") ? EIO : EINVAL;
    return -1;
  }
  return real<int (*)(int, off64_t, off64_t, unsigned)>("sync_file_range")(
      fd, offset, size, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
  if (isTempFile(fd) && size >= sizeof(kRecordHead) - 1 &&
      std::memcmp(data, kRecordHead, sizeof(kRecordHead) - 1) == 0 &&
      !isRecordFd(fd) && records < std::size(recordFds))
    recordFds[records++] = fd;
  if (faultIs("slow-write") && isNewFile(fd)) {
    const char* delay = std::getenv("HUDCONV_FAULT_DELAY_MS");
    ::usleep(static_cast<useconds_t>(delay ? std::atoi(delay) : 100) * 1000);
  }
  if (strikes("write", isNewFile(fd))) {
    errno = ENOSPC;
    return -1;
  }
  if (faultIs("record-write") && isTempFile(fd) &&
      size >= sizeof(kRecordHead) - 1 &&
      std::memcmp(data, kRecordHead, sizeof(kRecordHead) - 1) == 0) {
    errno = ENOSPC;
    return -1;
  }
  // An addition to the record in place.
  if ((faultIs("record-write") || faultIs("kill-at-record") ||
       faultIs("slow-record")) &&
      isRecordPath(pathOf(fd).c_str())) {
    if (faultIs("kill-at-record")) ::kill(::getpid(), SIGKILL);
    if (faultIs("slow-record")) ::usleep(200000);
    if (faultIs("record-write")) {
      errno = ENOSPC;
      return -1;
    }
  }
  return real<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

int fsync(int fd) {
  if (strikes("flush", isNewFile(fd)) ||
      (faultIs("record-flush") && isRecordPath(pathOf(fd).c_str()))) {
    errno = EIO;
    return -1;
  }
  if (isNewFile(fd)) {
    if (faultIs("change-input")) changeLayoutFile();
    if (faultIs("change-in-place")) changeLayoutFile(true);
    if (faultIs("change-keep-time")) changeLayoutFileKeepingItsTime();
    const std::string backup =
        faultIs("remove-backup") || faultIs("change-backup")
            ? std::string(std::getenv("HUDCONV_FAULT_FILE")) + ".bak"
            : "";
    if (faultIs("remove-backup")) ::unlink(backup.c_str());
    if (faultIs("change-backup")) {
      const int changed = ::open(backup.c_str(), O_WRONLY | O_APPEND);
      (void)!::write(changed, "changed\r\n", 9);
      ::close(changed);
    }
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    if (faultIs("folder-flush")) {
      errno = EIO;
      return -1;
    }
    record("fsync-folder");
  }
  return real<int (*)(int)>("fsync")(fd);
}

int syncfs(int fd) {
  if (faultIs("syncfs")) {
    errno = EIO;
    return -1;
  }
  record("syncfs");
  return real<int (*)(int)>("syncfs")(fd);
}

int close(int fd) {
  const bool fail = strikes("close", isNewFile(fd));
  forgetRecordFd(fd);
  const int result = real<int (*)(int)>("close")(fd);
  if (!fail) return result;
  errno = EIO;
  return -1;
}

int rename(const char* from, const char* to) {
  if (isTempPath(from) &&
      (isRecordPath(to)   ? faultIs("kill-at-record")
       : isBackupPath(to) ? faultIs("kill-at-backup")
                          : strikes("kill-at-rename", true)))
    ::kill(::getpid(), SIGKILL);
  if (faultIs("slow-record") && isRecordPath(to)) ::usleep(200000);
  if (faultIs("record-rename") && isRecordPath(to)) {
    errno = EXDEV;
    return -1;
  }
  if (faultIs("restore-rename") && isBackupPath(from)) {
    errno = EXDEV;
    return -1;
  }
  // The renames over a layout file, not those of its backup or the record.
  const bool overLayoutFile =
      isTempPath(from) && !isBackupPath(to) && !isRecordPath(to);
  if (faultIs("slow-rename") && overLayoutFile) ::usleep(300000);
  if (strikes("rename", overLayoutFile)) {
    errno = EXDEV;
    return -1;
  }
  if (faultIs("change-at-rename") && overLayoutFile) {
    changeLayoutFile();
    errno = EACCES;
    return -1;
  }
  const int result =
      real<int (*)(const char*, const char*)>("rename")(from, to);
  if (result == 0 && isTempPath(from)) record("rename");
  if (result == 0 && isBackupPath(from)) record("restore");
  return result;
}

int fcntl(int fd, int command, ...) {
  // One argument or none: an int and a pointer travel alike.
  va_list args;
  va_start(args, command);
  void* const argument = va_arg(args, void*);
  va_end(args);
  if (faultIs("record-lock") && command == F_OFD_SETLK &&
      isRecordPath(pathOf(fd).c_str())) {
    errno = EIO;
    return -1;
  }
  return real<int (*)(int, int, ...)>("fcntl")(fd, command, argument);
}

int flock(int fd, int operation) {
  struct stat info {};
  if (faultIs("record-lock") && ::fstat(fd, &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    errno = EIO;
    return -1;
  }
  return real<int (*)(int, int)>("flock")(fd, operation);
}

int fchmod(int fd, mode_t mode) {
  if (strikes("chmod", isNewFile(fd))) {
    errno = EPERM;
    return -1;
  }
  return real<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

int fchown(int fd, uid_t owner, gid_t group) {
  if (isTempFile(fd))
    record("fchown " + std::to_string(owner) + " " + std::to_string(group));
  return real<int (*)(int, uid_t, gid_t)>("fchown")(fd, owner, group);
}

char* realpath(const char* path, char* resolved) {
  if (faultIs("remove-input") && path && std::strstr(path, "/Output/"))
    ::unlink(path);
  return real<char* (*)(const char*, char*)>("realpath")(path, resolved);
}

}  // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
