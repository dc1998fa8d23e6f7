#include <fcntl.h>
#include <io.h>
#include <windows.h>
// Builds on windows.h.
#include <shellapi.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <vector>

#include "driver/platform.h"

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

// The system's text for the last error, without its closing period and line
// break, so that it fits inside a sentence of ours.
std::string lastErrorText() {
  const DWORD code = ::GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message =
      length ? narrow(text, length) : "system error " + std::to_string(code);
  if (text) ::LocalFree(text);
  while (!message.empty() && std::strchr(" .\r\n", message.back()))
    message.pop_back();
  return message;
}

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + lastErrorText();
}

// Closes a handle on every path out of a scope unless released.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // Closes now, so that the result can be checked; true if already closed.
  bool close() {
    return handle_ == INVALID_HANDLE_VALUE || ::CloseHandle(release());
  }

 private:
  HANDLE handle_;
};

bool writeAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk =
        static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

std::string parentFolder(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  return path.substr(0, separator);
}

// A new, empty file beside the target that no one else has opened.
FileHandle createTemporaryFile(const std::string& folder, std::string& path) {
  const std::string stem =
      folder + "\\.hudconv-" + std::to_string(::GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    path = stem + std::to_string(attempt) + ".tmp";
    FileHandle file(::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (file.get() != INVALID_HANDLE_VALUE ||
        ::GetLastError() != ERROR_FILE_EXISTS)
      return FileHandle(file.release());
  }
  return FileHandle(INVALID_HANDLE_VALUE);
}

// The file that `path` leads to, symbolic links followed, so that the link
// stays a link. The path itself where the system cannot tell; the checks
// that follow then report what is wrong with it.
std::string finalPath(const std::string& path) {
  const FileHandle file(::CreateFileW(
      systemPath(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return path;
  std::wstring resolved(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        file.get(), resolved.data(), static_cast<DWORD>(resolved.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return path;
    if (length < resolved.size()) {
      resolved.resize(length);
      return displayPath(resolved);
    }
    resolved.resize(length);  // too small: `length` is the size it needs
  }
}

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
  return path.substr(path.find_last_of("\\/") + 1);
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
                               lastErrorText());
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

std::string layoutFilePath(const std::string& home, const std::string& name) {
  return home + "\\Output\\" + name;
}

void createFolder(const std::string& path) {
  ::CreateDirectoryW(systemPath(path).c_str(), nullptr);
}

void waitForKeyPress() { (void)std::system("pause"); }

void adviseLargeBuffer(void*, std::size_t) {}

std::FILE* openForReading(const std::string& path, std::uint64_t& size) {
  // A folder cannot be opened this way, so it fails here too.
  FileHandle file(::CreateFileW(systemPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
  LARGE_INTEGER fileSize{};
  if (file.get() == INVALID_HANDLE_VALUE ||
      !::GetFileSizeEx(file.get(), &fileSize))
    return nullptr;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()),
                                   _O_RDONLY | _O_BINARY);
  if (fd < 0) return nullptr;
  file.release();  // the descriptor owns it now
  std::FILE* stream = ::_fdopen(fd, "rb");
  if (!stream) {
    ::_close(fd);
    return nullptr;
  }
  size = static_cast<std::uint64_t>(fileSize.QuadPart);
  return stream;
}

bool replaceFileContents(const std::string& path, const std::string& contents,
                         std::string& error) {
  // Through a symbolic link, the file it points to is the one to replace.
  const std::string target = finalPath(path);
  const std::wstring systemTarget = systemPath(target);
  const DWORD attributes = ::GetFileAttributesW(systemTarget.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = systemError("cannot find", target);
    return false;
  }
  // The read-only attribute binds administrators too, but a rename over the
  // file would not ask; so ask first.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    error = "cannot write " + target + ": the file is read-only";
    return false;
  }
  {
    // Also fails when the user may not write it, or another program holds it
    // open without letting others write.
    FileHandle probe(
        ::CreateFileW(systemTarget.c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe.get() == INVALID_HANDLE_VALUE) {
      error = systemError("cannot write", target);
      return false;
    }
  }

  // Hidden, system and archive carry over to the new file, as permissions do
  // elsewhere.
  const DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                         FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD keptAttributes =
      (attributes & settable) ? (attributes & settable) : FILE_ATTRIBUTE_NORMAL;

  const std::string folder = parentFolder(target);
  std::string tempPath;
  FileHandle temp = createTemporaryFile(folder, tempPath);
  if (temp.get() == INVALID_HANDLE_VALUE) {
    error = systemError("cannot create a temporary file in", folder);
    return false;
  }

  const std::wstring systemTemp = systemPath(tempPath);
  const char* failed = nullptr;
  if (!writeAll(temp.get(), contents.data(), contents.size()))
    failed = "cannot write";
  else if (!::FlushFileBuffers(temp.get()))
    failed = "cannot flush";
  else if (!temp.close())
    failed = "cannot close";
  else if (!::SetFileAttributesW(systemTemp.c_str(), keptAttributes))
    failed = "cannot set the attributes of";
  else if (!::MoveFileExW(systemTemp.c_str(), systemTarget.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failed = "cannot rename";
  if (failed) {
    error = systemError(failed, tempPath);
    temp.close();
    // A failed move leaves the layout file whole, so the temporary file is
    // never the only copy; still, say so if it stays behind.
    if (!::DeleteFileW(systemTemp.c_str()))
      error += " (the temporary file " + tempPath + " could not be removed)";
    return false;
  }
  return true;
}
