#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brindle::test {

// How a run of brindle-cli ended.
struct CliOutcome {
  int Status = -1;  // exit status; -1 when a signal ended it
  int Signal = 0;   // the signal that ended it, 0 when it exited
  std::string Out;
  std::string Err;
};

struct CliStart {
  std::vector<std::string> Args{};  // after "--home <home>"
  std::vector<std::string> Env{};  // "NAME=VALUE", added to the test's environment
  int64_t FileSizeLimit = -1;      // RLIMIT_FSIZE of the process, bytes; -1: unchanged
  std::string Stdin{};             // what it reads on its standard input; "": the test's
};

// brindle-cli (or another of the programs) as a child process on one
// profile, its standard output and error in files of logDir. One run at a time.
class CliProcess {
 public:
  CliProcess(std::string binary, std::string home, std::string logDir);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  void Start(const CliStart& start);
  bool Running();
  void Kill(int signal);
  // A bounded wait: after limitMs the process is killed and the test fails.
  CliOutcome Wait(int limitMs = 20000);
  CliOutcome Run(const CliStart& start, int limitMs = 20000) {
    Start(start);
    return Wait(limitMs);
  }

 private:
  std::string binary_;
  std::string home_;
  std::string logDir_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

// Polls done() every 20 ms until it holds or seconds have passed: waiting
// for a real process, not timing anything under test.
bool WaitFor(const std::function<bool()>& done, int seconds = 15);

}  // namespace brindle::test
