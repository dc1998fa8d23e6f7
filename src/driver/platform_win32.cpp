#include <direct.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "driver/platform.h"

namespace {

// The system's text for the last error, without its closing period and line
// break, so that it fits inside a sentence of ours.
std::string lastErrorText() {
  const DWORD code = ::GetLastError();
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length ? std::string(text, length)
                               : "system error " + std::to_string(code);
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
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() != INVALID_HANDLE_VALUE ||
        ::GetLastError() != ERROR_FILE_EXISTS)
      return FileHandle(file.release());
  }
  return FileHandle(INVALID_HANDLE_VALUE);
}

}  // namespace

std::string executableDirectory() {
  // MAX_PATH first; a longer path is fetched again into a larger buffer
  // rather than cut.
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameA(
        nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      throw std::runtime_error("cannot find the executable's folder: " +
                               lastErrorText());
    if (length < buffer.size()) {
      const std::string path(buffer.data(), length);
      const std::size_t cut = path.find_last_of("\\/");
      return cut == std::string::npos ? path : path.substr(0, cut);
    }
    if (buffer.size() >= 1u << 16)
      throw std::runtime_error("the executable's path is too long");
    buffer.resize(buffer.size() * 2);
  }
}

std::string layoutFilePath(const std::string& home, const std::string& name) {
  return home + "\\Output\\" + name;
}

void createFolder(const std::string& path) { ::_mkdir(path.c_str()); }

void waitForKeyPress() { (void)std::system("pause"); }

void adviseLargeBuffer(void*, std::size_t) {}

std::FILE* openForReading(const std::string& path, std::uint64_t& size) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;
  struct _stat64 info {};
  if (::_fstat64(::_fileno(file), &info) != 0 || (info.st_mode & _S_IFDIR)) {
    std::fclose(file);
    return nullptr;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return file;
}

bool replaceFileContents(const std::string& path, const std::string& contents,
                         std::string& error) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = systemError("cannot find", path);
    return false;
  }
  // The read-only attribute binds administrators too, but a rename over the
  // file would not ask; so ask first.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    error = "cannot write " + path + ": the file is read-only";
    return false;
  }
  {
    // Also fails when the user may not write it, or another program holds it
    // open without letting others write.
    FileHandle probe(
        ::CreateFileA(path.c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe.get() == INVALID_HANDLE_VALUE) {
      error = systemError("cannot write", path);
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

  const std::string folder = parentFolder(path);
  std::string tempPath;
  FileHandle temp = createTemporaryFile(folder, tempPath);
  if (temp.get() == INVALID_HANDLE_VALUE) {
    error = systemError("cannot create a temporary file in", folder);
    return false;
  }

  const char* failed = nullptr;
  if (!writeAll(temp.get(), contents.data(), contents.size()))
    failed = "cannot write";
  else if (!::FlushFileBuffers(temp.get()))
    failed = "cannot flush";
  else if (!temp.close())
    failed = "cannot close";
  else if (!::SetFileAttributesA(tempPath.c_str(), keptAttributes))
    failed = "cannot set the attributes of";
  else if (!::MoveFileExA(tempPath.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failed = "cannot rename";
  if (failed) {
    error = systemError(failed, tempPath);
    temp.close();
    // A failed move leaves the layout file whole, so the temporary file is
    // never the only copy; still, say so if it stays behind.
    if (!::DeleteFileA(tempPath.c_str()))
      error += " (the temporary file " + tempPath + " could not be removed)";
    return false;
  }
  return true;
}
