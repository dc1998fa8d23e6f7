// Starts the program under test on POSIX systems and collects what it wrote.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/program.h"

namespace fs = std::filesystem;

const bool kOnWindows = false;

int startProgram(const fs::path& program, const std::vector<std::string>& args,
                 const fs::path& out, const fs::path& err,
                 const ProgramOptions& options) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = err == out
                      ? o
                      : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    int reader[2];
    if (options.closedOutput && ::pipe(reader) == 0) {
      ::close(reader[0]);
      ::dup2(reader[1], 1);
    }
    // Signals as a shell leaves them; the program must handle them itself.
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGXFSZ, SIG_DFL);
    if (options.ignoredSignal) ::signal(options.ignoredSignal, SIG_IGN);
    if (!options.workingFolder.empty() &&
        ::chdir(options.workingFolder.c_str()) != 0)
      ::_exit(97);
    if (options.fileSize) {
      const rlimit fileSize{options.fileSize, options.fileSize};
      ::setrlimit(RLIMIT_FSIZE, &fileSize);
    }
    if (options.openFiles) {
      const rlimit openFiles{options.openFiles, options.openFiles};
      ::setrlimit(RLIMIT_NOFILE, &openFiles);
    }
    for (int i = 0; i < options.inheritedFiles; ++i)
      (void)::open("/dev/null", O_RDONLY);
    if (options.asOtherUser && ::geteuid() == 0 &&
        (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(99);
    for (const std::string& entry : options.environment)
      ::putenv(const_cast<char*>(entry.c_str()));
    if (options.typed) {
      // The shell splits the words; "$0" is the program.
      const std::string line = "exec \"$0\" " + *options.typed;
      ::execl("/bin/sh", "sh", "-c", line.c_str(), program.c_str(), nullptr);
      ::_exit(98);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(98);
  }
  return pid;
}

void killProgram(int pid) { ::kill(pid, SIGKILL); }

int waitForProgram(int pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

int runProgram(const fs::path& program, const std::vector<std::string>& args,
               const fs::path& out, const fs::path& err,
               const ProgramOptions& options) {
  return waitForProgram(startProgram(program, args, out, err, options));
}
