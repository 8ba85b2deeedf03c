#pragma once

// Runs the real brindle-cli as a child process with its own profile, and
// reads what it left behind. Shared by the end-to-end tests of this folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace brindle::test {

inline const std::string kCli = std::string(BRINDLE_BINARY_DIR) + "/src/app/brindle-cli";

inline std::string MakeContent(size_t size) {
  std::string content(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : content) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return content;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class CliProcessTest : public ::testing::Test {
 protected:
  pid_t Start(const std::vector<std::string>& args) {
    std::vector<std::string> all{kCli, "--home", home_.Path()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(dir_.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(dir_.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kCli.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }
  // A bounded wait: the process is killed after limitMs.
  Outcome Wait(pid_t pid, int limitMs = 20000) {
    Outcome outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "brindle-cli did not end in time";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = ReadWholeFile(dir_.File("stdout"));
    outcome.err = ReadWholeFile(dir_.File("stderr"));
    return outcome;
  }
  Outcome Cli(const std::vector<std::string>& args) { return Wait(Start(args)); }
  // Waits (bounded) until every one of n part files holds at least `bytes`.
  bool WaitForParts(size_t n, int64_t bytes) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto parts = PartFiles();
      if (parts.size() == n && std::all_of(parts.begin(), parts.end(), [bytes](auto& p) { return p.second >= bytes; }))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Start byte and size of every part file in the profile.
  std::vector<std::pair<int64_t, int64_t>> PartFiles() const {
    std::vector<std::pair<int64_t, int64_t>> parts;
    const std::filesystem::path dir = home_.File("Partial Downloads");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      const std::string ext = entry.path().extension().string();
      if (ext.size() < 2 || ext.find_first_not_of("0123456789", 1) != std::string::npos) continue;
      parts.emplace_back(std::stoll(ext.substr(1)), static_cast<int64_t>(entry.file_size()));
    }
    return parts;
  }

  TempDir home_;
  TempDir dir_;
  TempDir out_;
};

}  // namespace brindle::test
