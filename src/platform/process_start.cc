#include "platform/process_start.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "core/log_error.h"

extern char** environ;

namespace brindle {
namespace {

// Everything the child needs, made before fork: after fork in a threaded
// program the child may only make async-signal-safe calls.
struct ExecPlan {
  std::string Path;
  std::vector<std::string> Args;
  std::vector<char*> Argv;
  char** Env = nullptr;
  sigset_t NoSignals;
  int MaxFd = 1024;
  int DevNull = -1;
  // For a captured run: the child's stdout, and /dev/null for its stderr.
  int StdoutFd = -1;
  int DevNullOut = -1;
};

std::string FindProgram(const std::string& name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) return name;
  const char* pathVariable = std::getenv("PATH");
  std::string path = pathVariable != nullptr && *pathVariable != '\0' ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

bool MakePlan(const std::vector<std::string>& argv, ExecPlan& plan) {
  if (argv.empty()) return false;
  plan.Path = FindProgram(argv[0]);
  if (plan.Path.empty()) return false;
  plan.Args = argv;
  for (std::string& arg : plan.Args) plan.Argv.push_back(arg.data());
  plan.Argv.push_back(nullptr);
  plan.Env = environ;
  sigemptyset(&plan.NoSignals);
  long maxFd = sysconf(_SC_OPEN_MAX);
  plan.MaxFd = maxFd > 0 && maxFd < 65536 ? static_cast<int>(maxFd) : 65536;
  plan.DevNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  return true;
}

void ClosePlan(ExecPlan& plan) {
  if (plan.DevNull >= 0) close(plan.DevNull);
  plan.DevNull = -1;
  if (plan.DevNullOut >= 0) close(plan.DevNullOut);
  plan.DevNullOut = -1;
}

// A pipe whose ends lie above the standard descriptors, so that setting up
// stdin in the child cannot clobber them. Both ends close on exec: the
// parent reads end-of-file exactly when exec succeeded.
bool ErrorPipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (fds[i] < 3) {
      int moved = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
      close(fds[i]);
      fds[i] = moved;
    }
  }
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  return false;
}

void ReportErrno(int fd) {
  int error = errno;
  ssize_t ignored = write(fd, &error, sizeof error);
  (void)ignored;
}

[[noreturn]] void ExecChild(const ExecPlan& plan, int errorFd) {
  // Signal dispositions the program ignores and its blocked mask would be
  // inherited through exec.
  sigprocmask(SIG_SETMASK, &plan.NoSignals, nullptr);
  struct sigaction defaults = {};
  defaults.sa_handler = SIG_DFL;
  defaults.sa_mask = plan.NoSignals;
  for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaults, nullptr);
  if (plan.DevNull >= 0 && plan.DevNull != STDIN_FILENO) dup2(plan.DevNull, STDIN_FILENO);
  if (plan.StdoutFd >= 0) dup2(plan.StdoutFd, STDOUT_FILENO);
  if (plan.DevNullOut >= 0) dup2(plan.DevNullOut, STDERR_FILENO);
  unsigned keep = static_cast<unsigned>(errorFd);
  bool closed = (keep == 3 || close_range(3, keep - 1, 0) == 0) && close_range(keep + 1, ~0U, 0) == 0;
  if (!closed) {
    for (int fd = 3; fd < plan.MaxFd; ++fd) {
      if (fd != errorFd) close(fd);
    }
  }
  execve(plan.Path.c_str(), plan.Argv.data(), plan.Env);
  ReportErrno(errorFd);
  _exit(127);
}

// Reads the child's exec error, if any: true when exec succeeded.
bool ExecSucceeded(int readFd) {
  int error = 0;
  ssize_t count;
  do {
    count = read(readFd, &error, sizeof error);
  } while (count < 0 && errno == EINTR);
  return count == 0;
}

int WaitFor(pid_t pid) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void KillAndWait(pid_t pid) {
  kill(pid, SIGKILL);
  WaitFor(pid);
}

constexpr size_t kMaxCapturedOutput = 4 << 20;

// Reads the child's stdout until end of file: false when the deadline came
// first.
bool ReadOutput(int fd, std::string& output, int timeoutMs) {
  using std::chrono::steady_clock;
  const steady_clock::time_point deadline = steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd entry = {fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready == 0) continue;
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return count == 0;
    // Past the cap the rest is drained unread, so the child never blocks.
    const size_t room = kMaxCapturedOutput - std::min(output.size(), kMaxCapturedOutput);
    output.append(buffer, std::min(static_cast<size_t>(count), room));
  }
}

}  // namespace

bool StartDetachedProcess(const std::vector<std::string>& argv, bool quiet) {
  try {
    ExecPlan plan;
    if (!MakePlan(argv, plan)) return false;
    if (quiet) {
      const int devNullOut = open("/dev/null", O_WRONLY | O_CLOEXEC);
      if (devNullOut >= 0) {
        plan.DevNullOut = fcntl(devNullOut, F_DUPFD_CLOEXEC, 3);
        close(devNullOut);
      }
      if (plan.DevNullOut < 0) {
        ClosePlan(plan);
        return false;
      }
      plan.StdoutFd = plan.DevNullOut;
    }
    int fds[2];
    if (!ErrorPipe(fds)) {
      ClosePlan(plan);
      return false;
    }
    pid_t child = fork();
    if (child == 0) {
      // The intermediate child ends at once; the program, orphaned, is
      // adopted and reaped by init.
      setsid();
      pid_t grandchild = fork();
      if (grandchild == 0) ExecChild(plan, fds[1]);
      if (grandchild < 0) ReportErrno(fds[1]);
      _exit(0);
    }
    close(fds[1]);
    ClosePlan(plan);
    bool started = false;
    if (child > 0) {
      WaitFor(child);
      started = ExecSucceeded(fds[0]);
    }
    close(fds[0]);
    return started;
  } catch (...) {
    LogError("StartDetachedProcess");
  }
  return false;
}

int RunProcess(const std::vector<std::string>& argv) {
  try {
    ExecPlan plan;
    if (!MakePlan(argv, plan)) return -1;
    int fds[2];
    if (!ErrorPipe(fds)) {
      ClosePlan(plan);
      return -1;
    }
    pid_t child = fork();
    if (child == 0) ExecChild(plan, fds[1]);
    close(fds[1]);
    ClosePlan(plan);
    int status = -1;
    if (child > 0) {
      bool started = ExecSucceeded(fds[0]);
      status = WaitFor(child);
      if (!started) status = -1;
    }
    close(fds[0]);
    return status;
  } catch (...) {
    LogError("RunProcess");
  }
  return -1;
}

int RunProcessCapture(const std::vector<std::string>& argv, std::string& output, int timeoutMs) {
  output.clear();
  try {
    ExecPlan plan;
    if (!MakePlan(argv, plan)) return -1;
    // Above the standard descriptors, like the pipes, so that the child's
    // dup2 onto stdout cannot clobber it.
    const int devNullOut = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNullOut >= 0) {
      plan.DevNullOut = fcntl(devNullOut, F_DUPFD_CLOEXEC, 3);
      close(devNullOut);
    }
    int errorFds[2];
    if (!ErrorPipe(errorFds)) {
      ClosePlan(plan);
      return -1;
    }
    int outputFds[2];
    if (!ErrorPipe(outputFds)) {
      close(errorFds[0]);
      close(errorFds[1]);
      ClosePlan(plan);
      return -1;
    }
    plan.StdoutFd = outputFds[1];
    pid_t child = fork();
    if (child == 0) ExecChild(plan, errorFds[1]);
    close(errorFds[1]);
    close(outputFds[1]);
    ClosePlan(plan);
    int status = -1;
    if (child > 0) {
      const bool started = ExecSucceeded(errorFds[0]);
      if (started && ReadOutput(outputFds[0], output, timeoutMs)) {
        status = WaitFor(child);
      } else {
        KillAndWait(child);
      }
    }
    close(errorFds[0]);
    close(outputFds[0]);
    return status;
  } catch (...) {
    LogError("RunProcessCapture");
  }
  return -1;
}

}  // namespace brindle
