#include "support/cli_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace brindle::test {

CliProcess::CliProcess(std::string binary, std::string home, std::string logDir)
    : binary_(std::move(binary)), home_(std::move(home)), logDir_(std::move(logDir)) {}

CliProcess::~CliProcess() {
  if (pid_ > 0 && Running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void CliProcess::Start(const CliStart& start) {
  // Everything the child needs is built before the fork: the test runs
  // server threads, so the child may only call async-signal-safe functions.
  std::vector<std::string> args{binary_, "--home", home_};
  args.insert(args.end(), start.Args.begin(), start.Args.end());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.insert(env.end(), start.Env.begin(), start.Env.end());
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string out = logDir_ + "/stdout";
  const std::string err = logDir_ + "/stderr";
  const std::string in = logDir_ + "/stdin";
  if (!start.Stdin.empty()) WriteWholeFile(in, start.Stdin);
  const rlimit limit{static_cast<rlim_t>(start.FileSizeLimit), static_cast<rlim_t>(start.FileSizeLimit)};

  reaped_ = false;
  status_ = 0;
  pid_ = fork();
  if (pid_ == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (!start.Stdin.empty()) dup2(open(in.c_str(), O_RDONLY | O_CLOEXEC), 0);
    if (start.FileSizeLimit >= 0) setrlimit(RLIMIT_FSIZE, &limit);
    execve(binary_.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  ASSERT_GT(pid_, 0);
}

bool CliProcess::Running() {
  if (reaped_ || pid_ <= 0) return false;
  if (waitpid(pid_, &status_, WNOHANG) == 0) return true;
  reaped_ = true;
  return false;
}

void CliProcess::Kill(int signal) {
  if (Running()) kill(pid_, signal);
}

CliOutcome CliProcess::Wait(int limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      reaped_ = true;
      ADD_FAILURE() << "brindle-cli did not end in time";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  CliOutcome outcome;
  if (WIFEXITED(status_)) outcome.Status = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) outcome.Signal = WTERMSIG(status_);
  outcome.Out = ReadWholeFile(logDir_ + "/stdout");
  outcome.Err = ReadWholeFile(logDir_ + "/stderr");
  return outcome;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace brindle::test
