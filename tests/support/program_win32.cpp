// Starts the program under test on Windows and collects what it wrote.

#include <windows.h>

#include <map>
#include <stdexcept>
#include <string>

#include "support/program.h"

namespace fs = std::filesystem;

const bool kOnWindows = true;

namespace {

// One argument quoted so that the C runtime's parser gives it back unchanged:
// backslashes are literal unless they come before a quote.
std::string quoted(const std::string& arg) {
  std::string result = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    result.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    result += c;
  }
  result.append(backslashes * 2, '\\');
  return result + "\"";
}

std::wstring widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
      static_cast<int>(wide.size()))));
  return wide;
}

HANDLE openInheritable(const fs::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const HANDLE handle =
      ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    throw std::runtime_error("cannot open " + utf8(path));
  return handle;
}

}  // namespace

namespace {

// The processes started and not yet waited for, by id.
std::map<int, HANDLE>& started() {
  static std::map<int, HANDLE> processes;
  return processes;
}

}  // namespace

int startProgram(const fs::path& program, const std::vector<std::string>& args,
                 const fs::path& out, const fs::path& err,
                 const ProgramOptions& options) {
  if (options.fileSize || !options.environment.empty() ||
      options.closedOutput || options.ignoredSignal)
    throw std::logic_error("not supported on Windows");

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = openInheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = openInheritable(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = err == out
                          ? startup.hStdOutput
                          : openInheritable(err, GENERIC_WRITE, CREATE_ALWAYS);

  // Arguments in UTF-8, as the tests write them; the program gets UTF-16.
  std::string commandLine = quoted(utf8(program));
  for (const std::string& a : args) {
    commandLine += ' ';
    commandLine += quoted(a);
  }
  // As cmd.exe hands on what was typed: the words as they stand.
  if (options.typed) commandLine += ' ' + *options.typed;
  std::wstring wideCommandLine = widen(commandLine);
  PROCESS_INFORMATION process{};
  const wchar_t* const folder =
      options.workingFolder.empty() ? nullptr : options.workingFolder.c_str();
  // Wine, on a loaded machine, now and then fails to start a process that
  // starts the next moment; a few tries keep that from failing a test.
  BOOL created = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 5 && !created; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    created =
        ::CreateProcessW(program.c_str(), wideCommandLine.data(), nullptr,
                         nullptr, TRUE, 0, nullptr, folder, &startup, &process);
    error = ::GetLastError();
  }
  ::CloseHandle(startup.hStdInput);
  ::CloseHandle(startup.hStdOutput);
  if (startup.hStdError != startup.hStdOutput) ::CloseHandle(startup.hStdError);
  if (!created)
    throw std::runtime_error("cannot start " + utf8(program) +
                             " (Windows error " + std::to_string(error) + ")");
  ::CloseHandle(process.hThread);
  const int pid = static_cast<int>(process.dwProcessId);
  started()[pid] = process.hProcess;
  return pid;
}

void killProgram(int pid) { ::TerminateProcess(started().at(pid), 9); }

int waitForProgram(int pid) {
  const HANDLE process = started().at(pid);
  started().erase(pid);
  DWORD status = 0;
  ::WaitForSingleObject(process, INFINITE);
  ::GetExitCodeProcess(process, &status);
  ::CloseHandle(process);
  return static_cast<int>(status);
}

int runProgram(const fs::path& program, const std::vector<std::string>& args,
               const fs::path& out, const fs::path& err,
               const ProgramOptions& options) {
  return waitForProgram(startProgram(program, args, out, err, options));
}
