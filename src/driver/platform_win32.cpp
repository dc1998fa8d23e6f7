// Files, the console and the process on Windows, through the system's
// UTF-16 calls.

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
// Builds on windows.h.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "convert/rule_table.h"
#include "driver/platform_console.h"
#include "driver/platform_files.h"
#include "driver/platform_hash.h"
#include "driver/platform_process.h"

namespace {

// UTF-8 inside the program, UTF-16 where it meets the system.
std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(
                        CP_UTF8, 0, text.data(), size, nullptr, 0)),
                    L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(),
                        static_cast<int>(wide.size()));
  return wide;
}

std::string narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  const int size = static_cast<int>(length);
  std::string result(static_cast<std::size_t>(::WideCharToMultiByte(
                         CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr)),
                     '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, size, result.data(),
                        static_cast<int>(result.size()), nullptr, nullptr);
  return result;
}

std::string narrow(const std::wstring& text) {
  return narrow(text.data(), text.size());
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// `path` as the wide calls take it. Beyond the old limit of 260 characters
// (248 for folders) a path needs the \\?\ form, which Windows takes
// literally: so it is made full and its separators backslashes first.
std::wstring systemPath(const std::string& path) {
  std::wstring wide = widen(path);
  const std::size_t shortLimit = MAX_PATH - 12;
  if (startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\")) {
    for (wchar_t& c : wide)
      if (c == L'/') c = L'\\';
    return wide;
  }
  if (wide.size() < shortLimit) return wide;
  const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length =
      ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// A path the system gave back, as a person writes it: without \\?\.
std::string displayPath(const std::wstring& path) {
  if (startsWith(path, L"\\\\?\\UNC\\"))
    return narrow(L"\\\\" + path.substr(8));
  if (startsWith(path, L"\\\\?\\")) return narrow(path.substr(4));
  return narrow(path);
}

HANDLE handle(const SystemFile& file) {
  return reinterpret_cast<HANDLE>(file.get());
}

SystemFile wrap(HANDLE handle) {
  return SystemFile(reinterpret_cast<std::intptr_t>(handle));
}

SystemError lastError() { return SystemError::last(); }

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** const wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i)
    args.push_back(narrow(wide[i], std::wcslen(wide[i])));
  ::LocalFree(wide);
  return args;
}

System thisSystem() { return System::kWindows; }

std::string quotedForShell(const std::string& text) {
  // What cmd.exe takes for the end of an argument, or for a command.
  if (!text.empty() &&
      text.find_first_of(" \t&()[]{}^=;!'+,`~%<>|") == std::string::npos)
    return text;
  std::string quoted = "\"" + text;
  if (!text.empty() && text.back() == '\\') quoted += '\\';
  return quoted + "\"";
}

bool isFullPath(const std::string& path) {
  const auto separator = [&](std::size_t at) {
    return path.size() > at && (path[at] == '\\' || path[at] == '/');
  };
  const bool drive = path.size() > 2 &&
                     std::isalpha(static_cast<unsigned char>(path[0])) &&
                     path[1] == ':' && separator(2);
  return drive || (separator(0) && separator(1));
}

std::string fileNameOf(const std::string& path) {
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  // Windows opens "map_p.gui.xml. " as "map_p.gui.xml".
  while (!name.empty() && (name.back() == '.' || name.back() == ' '))
    name.pop_back();
  return name;
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  return path.substr(0, separator);
}

void writeText(std::FILE* stream, const std::string& text) {
  const HANDLE console =
      ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(console, &mode)) {
    // Redirected: UTF-8, the one encoding that holds every path.
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  std::fflush(stream);
  const std::wstring wide = widen(text);
  DWORD written = 0;
  ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()),
                  &written, nullptr);
}

bool consoleClosesWithProgram() {
  DWORD processes[2];
  DWORD mode = 0;
  return ::GetConsoleProcessList(processes, 2) == 1 &&
         ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode);
}

std::string executableDirectory() {
  // MAX_PATH first; a longer path is fetched again into a larger buffer
  // rather than cut.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(),
                                              static_cast<DWORD>(path.size()));
    if (length == 0)
      throw std::runtime_error("cannot find the executable's folder: " +
                               lastError().text());
    if (length < path.size()) {
      path.resize(length);
      const std::size_t cut = path.find_last_of(L"\\/");
      return narrow(cut == std::wstring::npos ? path : path.substr(0, cut));
    }
    if (path.size() >= 1u << 16)
      throw std::runtime_error("the executable's path is too long");
    path.resize(path.size() * 2);
  }
}

std::thread startHelperThread(std::function<void()> body) {
  return std::thread(std::move(body));
}

std::size_t openFilesAllowed() { return SIZE_MAX; }

bool isTrusted(const SystemFile& /*file*/, const std::string& /*folder*/) {
  return true;
}

std::string nameAsTheSystemCompares(std::string_view name) {
  return foldedFileName(name);
}

std::size_t hashOfName(std::string_view name) {
  return std::hash<std::string>{}(foldedFileName(name));
}

std::string profileStateFolder() {
  const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || local[0] == L'\0') return {};
  return narrow(local, std::wcslen(local));
}

void createFolder(const std::string& path) {
  ::CreateDirectoryW(systemPath(path).c_str(), nullptr);
}

bool isFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(systemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

SystemError listFolder(const std::string& folder,
                       std::vector<FolderEntry>& entries) {
  WIN32_FIND_DATAW found{};
  const HANDLE listing =
      ::FindFirstFileW(systemPath(pathIn(folder, "*")).c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return lastError();
  do {
    const std::string name =
        narrow(found.cFileName, std::wcslen(found.cFileName));
    if (name == "." || name == "..") continue;
    entries.push_back(
        {name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileW(listing, &found));
  ::FindClose(listing);
  return {};
}

std::string pathIn(const std::string& folder, const std::string& name) {
  const bool separated =
      !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  return folder + (separated ? "" : "\\") + name;
}

namespace {

// The temporary files in progress, by name and by handle while open, for
// the console's Ctrl+C and close handler.
struct CleanupSlot {
  std::wstring name;
  std::atomic<bool> named{false};
  std::atomic<HANDLE> open{nullptr};
  std::atomic<bool> taken{false};
};
CleanupSlot cleanupSlots[SignalCleanup::kMost];

BOOL WINAPI removePending(DWORD) {
  for (CleanupSlot& slot : cleanupSlots) {
    // While it is open, the file goes with its handle when the program ends;
    // closed, it goes by its name.
    if (const HANDLE open = slot.open.exchange(nullptr)) {
      FILE_DISPOSITION_INFO info{};
      info.DeleteFile = TRUE;
      if (::SetFileInformationByHandle(open, FileDispositionInfo, &info,
                                       sizeof(info))) {
        slot.named.store(false);
        continue;
      }
      ::CloseHandle(open);
    }
    if (slot.named.exchange(false)) ::DeleteFileW(slot.name.c_str());
  }
  return FALSE;  // and the program ends as it would have
}

}  // namespace

SystemError SignalCleanup::cover(const std::string& path,
                                 const SystemFile& file) {
  release();
  for (int slot = 0; slot < kMost; ++slot) {
    bool taken = false;
    if (!cleanupSlots[slot].taken.compare_exchange_strong(taken, true))
      continue;
    cleanupSlots[slot].name = systemPath(path);
    cleanupSlots[slot].named.store(true);
    cleanupSlots[slot].open.store(handle(file));
    slot_ = slot;
    return {};
  }
  return {SystemError::Source::kWindows, ERROR_TOO_MANY_OPEN_FILES};
}

void SignalCleanup::closing() {
  // A closed handle's number may be given to another file.
  if (slot_ >= 0) cleanupSlots[slot_].open.store(nullptr);
}

void SignalCleanup::release() {
  if (slot_ < 0) return;
  cleanupSlots[slot_].open.store(nullptr);
  cleanupSlots[slot_].named.store(false);
  cleanupSlots[slot_].taken.store(false);
  slot_ = -1;
}

void prepareProcess() { ::SetConsoleCtrlHandler(removePending, TRUE); }

void waitForKeyPress() { (void)std::system("pause"); }

SystemError SystemError::last() {
  return {Source::kWindows, static_cast<int>(::GetLastError())};
}

std::string SystemError::text() const {
  if (source_ == Source::kNotARegularFile) return "not a regular file";
  if (source_ == Source::kLockHeld) return "another program holds it";
  if (source_ == Source::kForeignLink) return "a link of another user's";
  if (source_ == Source::kErrno) return std::strerror(code_);
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code_), 0, reinterpret_cast<wchar_t*>(&text),
      0, nullptr);
  std::string message =
      length ? narrow(text, length) : "system error " + std::to_string(code_);
  if (text) ::LocalFree(text);
  // Without its closing period and line break, to fit a sentence of ours.
  while (!message.empty() && std::strchr(" .\r\n", message.back()))
    message.pop_back();
  return message;
}

bool SystemError::isAlreadyThere() const {
  return source_ == Source::kWindows &&
         (code_ == ERROR_ALREADY_EXISTS || code_ == ERROR_FILE_EXISTS);
}

bool SystemError::isNameTooLong() const {
  return source_ == Source::kWindows && code_ == ERROR_FILENAME_EXCED_RANGE;
}

bool SystemError::isAccessDenied() const {
  return source_ == Source::kWindows && code_ == ERROR_ACCESS_DENIED;
}

bool SystemError::isTooManyOpenFiles() const {
  return source_ == Source::kWindows && code_ == ERROR_TOO_MANY_OPEN_FILES;
}

bool SystemError::isNotFound() const {
  return source_ == Source::kWindows &&
         (code_ == ERROR_FILE_NOT_FOUND || code_ == ERROR_PATH_NOT_FOUND ||
          code_ == ERROR_INVALID_NAME);
}

SystemError SystemFile::close() {
  if (!isOpen()) return {};
  return ::CloseHandle(reinterpret_cast<HANDLE>(release())) ? SystemError()
                                                            : lastError();
}

namespace {

SystemError stateOf(const SystemFile& file, FileVersion& state) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle(file), &info)) return lastError();
  state.device = info.dwVolumeSerialNumber;
  state.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  state.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  state.names = info.nNumberOfLinks;
  state.modified = static_cast<std::int64_t>(
      (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  return {};
}

// Whether the temporary file goes when its handle is closed.
SystemError setDeleteOnClose(const SystemFile& file, bool deleteIt) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = deleteIt ? TRUE : FALSE;
  return ::SetFileInformationByHandle(handle(file), FileDispositionInfo, &info,
                                      sizeof(info))
             ? SystemError()
             : lastError();
}

}  // namespace

namespace {

// What the attributes of an entry that is not a regular file say it is.
SystemError notRegular(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return SystemError::notARegularFile(EntryKind::kLink);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return SystemError::notARegularFile(EntryKind::kFolder);
  return {};
}

DWORD linkFlag(Links links) {
  return links == Links::kRefuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
}

}  // namespace

SystemError openForReading(const std::string& path, SystemFile& file,
                           FileVersion& state, Links links) {
  const std::wstring wide = systemPath(path);
  SystemFile opened = wrap(::CreateFileW(
      wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | linkFlag(links), nullptr));
  if (!opened.isOpen()) {
    const SystemError error = lastError();
    // A folder cannot be opened this way: it is denied.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (error.code() != ERROR_ACCESS_DENIED ||
        attributes == INVALID_FILE_ATTRIBUTES)
      return error;
    if (links == Links::kRefuse)
      if (const SystemError kind = notRegular(attributes)) return kind;
    return attributes & FILE_ATTRIBUTE_DIRECTORY
               ? SystemError::notARegularFile(EntryKind::kFolder)
               : error;
  }
  // A device (NUL, CON, COM1) or a pipe.
  if (::GetFileType(handle(opened)) != FILE_TYPE_DISK)
    return SystemError::notARegularFile();
  BY_HANDLE_FILE_INFORMATION info{};
  if (links == Links::kRefuse &&
      ::GetFileInformationByHandle(handle(opened), &info))
    if (const SystemError kind = notRegular(info.dwFileAttributes)) return kind;
  if (const SystemError error = stateOf(opened, state)) return error;
  file = std::move(opened);
  return {};
}

SystemError readVersion(const std::string& path, FileVersion& state,
                        Links links) {
  const SystemFile file = wrap(::CreateFileW(
      systemPath(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | linkFlag(links), nullptr));
  if (!file.isOpen()) return lastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (links == Links::kRefuse &&
      ::GetFileInformationByHandle(handle(file), &info))
    if (const SystemError kind = notRegular(info.dwFileAttributes)) return kind;
  return stateOf(file, state);
}

SystemError readSome(const SystemFile& file, char* data, std::size_t size,
                     std::size_t& got) {
  DWORD read = 0;
  const DWORD most = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(handle(file), data, most, &read, nullptr)) return lastError();
  got = read;
  return {};
}

SystemError rewindFile(const SystemFile& file, std::uint64_t to) {
  LARGE_INTEGER start{};
  start.QuadPart = static_cast<LONGLONG>(to);
  return ::SetFilePointerEx(handle(file), start, nullptr, FILE_BEGIN)
             ? SystemError()
             : lastError();
}

SystemError openForAppending(const std::string& path, SystemFile& file,
                             FileVersion& state) {
  // Readers share writing with it: a run that reads the record while
  // another adds to it reads what was whole when it looked.
  SystemFile opened =
      wrap(::CreateFileW(systemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!opened.isOpen()) return lastError();
  if (::GetFileType(handle(opened)) != FILE_TYPE_DISK)
    return SystemError::notARegularFile();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle(opened), &info)) return lastError();
  if (const SystemError kind = notRegular(info.dwFileAttributes)) return kind;
  if (const SystemError error = stateOf(opened, state)) return error;
  file = std::move(opened);
  return {};
}

SystemError writeAt(const SystemFile& file, std::uint64_t offset,
                    const char* data, std::size_t size) {
  if (const SystemError error = rewindFile(file, offset)) return error;
  if (!::SetEndOfFile(handle(file))) return lastError();
  return writeAll(file, data, size);
}

SystemError resolveLinks(const std::string& path, std::string& target) {
  const SystemFile file = wrap(::CreateFileW(
      systemPath(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.isOpen()) return lastError();
  // Where the system cannot tell (some file systems, Wine beyond 260
  // characters), the path as given.
  target = path;
  std::wstring resolved(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle(file), resolved.data(), static_cast<DWORD>(resolved.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < resolved.size()) {
      resolved.resize(length);
      target = displayPath(resolved);
      return {};
    }
    resolved.resize(length);  // too small: `length` is the size it needs
  }
}

SystemError readAttributes(const std::string& path,
                           InheritedAttributes& attributes) {
  const DWORD flags = ::GetFileAttributesW(systemPath(path).c_str());
  if (flags == INVALID_FILE_ATTRIBUTES) return lastError();
  // Hidden, system and archive carry over to the new file, as permissions do
  // elsewhere.
  const DWORD kept =
      flags & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  attributes.attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  // It binds administrators too, but a rename over the file would not ask.
  attributes.readOnly = (flags & FILE_ATTRIBUTE_READONLY) != 0;
  return {};
}

// Windows asks for the right to replace a file at the rename itself.
SystemError probeReplacing(const std::string&) { return {}; }

SystemError probeWriting(const std::string& path) {
  // Also fails when another program holds the file open without letting
  // others write.
  const SystemFile probe = wrap(
      ::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe.isOpen() ? SystemError() : lastError();
}

SystemError createTemporary(const std::string& folder, SystemFile& file,
                            std::string& path, SignalCleanup& cleanup) {
  // Six letters or digits after the common stem, as mkstemp makes them.
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uint32_t random = ::GetCurrentProcessId() ^ ::GetTickCount();
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::string name = folder + "\\" + kTemporaryStem;
    for (int i = 0; i < 6; ++i) {
      random = random * 1664525u + 1013904223u;
      name += kLetters[(random >> 16) % 36];
    }
    SystemFile created = wrap(
        ::CreateFileW(systemPath(name).c_str(), GENERIC_WRITE | DELETE, 0,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (created.isOpen()) {
      // Gone with the handle unless kept, also when the program is killed;
      // where the file system cannot, it stays named as it is.
      (void)setDeleteOnClose(created, true);
      if (const SystemError error = cleanup.cover(name, created)) return error;
      path = name;
      file = std::move(created);
      return {};
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return lastError();
  }
  return {SystemError::Source::kWindows, ERROR_FILE_EXISTS};
}

SystemError nameTemporary(const SystemFile& file, const std::string&,
                          std::string&, SignalCleanup&) {
  // Named from the start, and covered since.
  return setDeleteOnClose(file, false);
}

SystemError inheritAttributes(const SystemFile& file,
                              const InheritedAttributes& attributes) {
  FILE_BASIC_INFO info{};  // times of 0 stay as they are
  info.FileAttributes = attributes.attributes;
  return ::SetFileInformationByHandle(handle(file), FileBasicInfo, &info,
                                      sizeof(info))
             ? SystemError()
             : lastError();
}

SystemError writeAll(const SystemFile& file, const char* data,
                     std::size_t size) {
  while (size > 0) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(handle(file), data, chunk, &written, nullptr))
      return lastError();
    data += written;
    size -= written;
  }
  return {};
}

SystemError startWriteBack(const SystemFile&, std::uint64_t, std::uint64_t) {
  return {};
}

SystemError flushToDisk(const SystemFile& file) {
  return ::FlushFileBuffers(handle(file)) ? SystemError() : lastError();
}

bool ownerIsKept(const InheritedAttributes&, std::string&) {
  // A new file takes its folder's permissions, which a player's Documents
  // give the player.
  return true;
}

SystemError closeHolding(SystemFile& file, SystemFile&) {
  // Windows renames no file that is open without sharing.
  return file.close();
}

SystemError setModified(const SystemFile& file, const FileVersion& state) {
  FILE_BASIC_INFO info{};  // times of 0 stay as they are
  info.LastWriteTime.QuadPart = state.modified;
  return ::SetFileInformationByHandle(handle(file), FileBasicInfo, &info,
                                      sizeof(info))
             ? SystemError()
             : lastError();
}

SystemError renameOver(const std::string& from, const std::string& to) {
  // Write-through: the rename is on disk when this returns.
  if (!::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return lastError();
  return {};
}

SystemError renameNoReplace(const std::string& from, const std::string& to) {
  if (!::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(),
                     MOVEFILE_WRITE_THROUGH))
    return lastError();
  return {};
}

SystemError linkFile(const std::string& existing, const std::string& link) {
  return ::CreateHardLinkW(systemPath(link).c_str(),
                           systemPath(existing).c_str(), nullptr)
             ? SystemError()
             : lastError();
}

// MoveFileEx writes through, and a new name is on disk with it.
SystemError syncFolder(const std::string&, const std::string&) { return {}; }

void removeLeftovers(const std::string& folder,
                     const std::vector<FolderEntry>& entries) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  };
  for (const FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    if (entry.folder ||
        name.size() != std::char_traits<char>::length(kTemporaryStem) + 6 ||
        name.rfind(kTemporaryStem, 0) != 0)
      continue;
    // A running hudconv holds its own without sharing; one made more than
    // ten seconds (in 100 ns ticks) from now, before or after, that no one
    // holds was left behind. A backup's copy takes the original's write
    // time, never its creation time.
    const SystemFile left = wrap(::CreateFileW(
        systemPath(folder + "\\" + name).c_str(), DELETE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!left.isOpen() || !::GetFileInformationByHandle(handle(left), &info) ||
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      continue;
    const std::uint64_t made = ticks(info.ftCreationTime);
    const std::uint64_t apart =
        made > ticks(now) ? made - ticks(now) : ticks(now) - made;
    if (apart > 100000000u) (void)setDeleteOnClose(left, true);
  }
}

FileLock::~FileLock() {
  if (handle_ == -1) return;
  ::ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

SystemError FileLock::lock(const std::string& path) {
  // A named mutex: no file, released when the program ends. Its name is a
  // hash of the path, letter case aside, as the file system takes it.
  std::wstring wide = widen(path);
  ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  std::uint64_t hash = 14695981039346656037u;
  for (const wchar_t c : wide)
    hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211u;
  wchar_t name[40];
  std::swprintf(name, 40, L"Local\\hudconv-%016llx",
                static_cast<unsigned long long>(hash));
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
  if (!mutex) return lastError();
  const DWORD waited = ::WaitForSingleObject(mutex, 60000);
  // Abandoned: a run that held it ended; it is ours now.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    const SystemError error =
        waited == WAIT_TIMEOUT
            ? SystemError::lockHeld(SystemError::LockHolder::kWriter)
            : lastError();
    ::CloseHandle(mutex);
    return error;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
  return {};
}

SystemError FileLock::lockRecord(const std::string& folder,
                                 const std::string& /*record*/,
                                 bool /*shared*/) {
  // A name that no file's lock has: a path cannot end with a separator.
  // The mutex is the folder's whatever becomes of its record, and only
  // programs of this user's session can take it.
  return lock(folder + "\\");
}

SystemError FileLock::holdAlso(const SystemFile& /*file*/) { return {}; }

void FileLock::removeMadeRecord() {}

SystemError shareWithFolder(const SystemFile& /*file*/,
                            const std::string& /*folder*/) {
  return {};  // a new file takes the folder's permissions
}

SystemError hideFile(const SystemFile& file) {
  FILE_BASIC_INFO info{};
  if (!::GetFileInformationByHandleEx(handle(file), FileBasicInfo, &info,
                                      sizeof(info)))
    return lastError();
  info.FileAttributes |= FILE_ATTRIBUTE_HIDDEN;
  return ::SetFileInformationByHandle(handle(file), FileBasicInfo, &info,
                                      sizeof(info))
             ? SystemError()
             : lastError();
}

SystemError removeFile(const std::string& path) {
  // A temporary file marked for deletion is gone once closed.
  if (!::DeleteFileW(systemPath(path).c_str()) &&
      ::GetLastError() != ERROR_FILE_NOT_FOUND)
    return lastError();
  return {};
}

namespace {

// CNG's SHA-256, opened once for the run.
BCRYPT_ALG_HANDLE sha256Algorithm() {
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    return BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
               &opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))
               ? opened
               : nullptr;
  }();
  return algorithm;
}

// CNG fails a hash of a provider it opened only where it has no memory.
void checkHashed(NTSTATUS status) {
  if (!BCRYPT_SUCCESS(status)) throw std::bad_alloc();
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) ::BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  const BCRYPT_ALG_HANDLE algorithm = sha256Algorithm();
  if (!algorithm) throw std::bad_alloc();
  // CNG keeps the hash's state in memory of its own.
  checkHashed(
      ::BCryptCreateHash(algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::feed(const void* data, std::size_t size) {
  // ULONG at a time.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece =
        static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
    checkHashed(::BCryptHashData(state_->hash, bytes, piece, 0));
    bytes += piece;
    size -= piece;
  }
}

Sha256::Value Sha256::value() const {
  // Taken of a copy: a hash that is finished takes no more.
  State done;
  checkHashed(::BCryptDuplicateHash(state_->hash, &done.hash, nullptr, 0, 0));
  Value value;
  checkHashed(::BCryptFinishHash(done.hash, value.data(),
                                 static_cast<ULONG>(value.size()), 0));
  return value;
}
