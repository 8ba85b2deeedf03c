// Crash torture: brindle-cli is killed at named points and at random moments
// and started again until its download is done; the file must come out
// byte-identical with exactly one record. Settings saves are killed the same
// way. BRINDLE_TORTURE_TRIALS sets the number of trials (default 5),
// BRINDLE_TORTURE_SEED the seed (default: from the clock; always printed).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "core/settings.h"
#include "platform/registry_hive_file.h"
#include "support/fault_http_server.h"
#include "support/loop_thread.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

int Trials() {
  const char* value = std::getenv("BRINDLE_TORTURE_TRIALS");
  return value ? std::max(1, std::atoi(value)) : 5;
}

std::mt19937_64 SeededRandom(const char* what) {
  const char* value = std::getenv("BRINDLE_TORTURE_SEED");
  const uint64_t seed = value ? std::strtoull(value, nullptr, 10)
                              : static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::cout << what << ": BRINDLE_TORTURE_SEED=" << seed << std::endl;
  return std::mt19937_64(seed);
}

size_t CountEnding(const std::vector<std::string>& names, const std::string& end) {
  return std::count_if(names.begin(), names.end(), [&](const std::string& n) { return n.ends_with(end); });
}

// The files of the partial-downloads folder with every record's content,
// for the message of a failed check.
std::string Describe(const std::string& partial) {
  std::string text;
  for (const std::string& name : test::ListFiles(partial)) {
    text += "\n" + name;
    if (name.ends_with(".dat")) text += ":\n" + test::ReadWholeFile(partial + "/" + name);
  }
  return text;
}

bool RecordSaysDone(const std::string& partial) {
  for (const std::string& name : test::ListFiles(partial))
    if (name.ends_with(".dat") && test::ReadWholeFile(partial + "/" + name).find("\nStatus=Done\r\n") != std::string::npos)
      return true;
  return false;
}

// Where the first two runs of a trial stop (a point not reached lets the run
// end); some later runs are killed at random moments.
const std::vector<std::string> kCrashPoints = {
    "part-written#1",                     // the first bytes of the first contact
    "part-written#40",                    // in the middle of the transfer
    "atomic-write-before-rename:.dat#3",  // saving the record
    "combine-part-copied",                // joining
    "combine-block-copied#2",
    "combine-before-rename",
    "combine-after-rename",  // the file is in place, its parts not yet gone
};

TEST(CliTortureTest, KilledAtAnyMomentTheDownloadEndsWholeWithOneRecord) {
  const std::string content = test::MakeContent(3 * 1024 * 1024 + 17);
  test::LoopThread thread;
  test::FaultHttpServer& server = thread.Make<test::FaultHttpServer>();
  thread.Call([&] {
    server.AddFile("/f.bin", content);
    // About a second for the whole file in four parts.
    server.SetRateLimit(1024 * 1024);
  });
  std::mt19937_64 random = SeededRandom("crash torture");
  int kills = 0;
  for (int trial = 0; trial < Trials(); ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    test::TempDir home, log, out;
    test::CliProcess cli(test::kCli, home.Path(), log.Path());
    const std::string partial = home.File("Partial Downloads");
    const int randomKills = static_cast<int>(random() % 4);
    for (int run = 0;; ++run) {
      ASSERT_LT(run, 30) << "no end in sight";
      test::CliStart start{{"-q", "-s", "4", "--retries", "3", "--retry-delay", "0", "-d", out.Path(), "-o", "f.bin",
                            server.Url("/f.bin")}};
      // Two named points per trial, so that five trials pass them all.
      const bool crashPoint = run < 2;
      if (crashPoint) start.Env = {"BRINDLE_CRASH_AT=" + kCrashPoints[(2 * trial + run) % kCrashPoints.size()]};
      cli.Start(start);
      if (!crashPoint && run < 2 + randomKills) {
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
        cli.Kill(SIGKILL);
      }
      const test::CliOutcome outcome = cli.Wait(30000);
      // Never a second record, and never a finished file with other bytes.
      ASSERT_LE(CountEnding(test::ListFiles(partial), ".dat"), 1u) << "run " << run << ": " << Describe(partial);
      if (outcome.Status == 86 || outcome.Signal == SIGKILL) {
        ++kills;
        continue;
      }
      ASSERT_EQ(outcome.Status, 0) << "run " << run << ": " << outcome.Err;
      EXPECT_EQ(outcome.Out, "Done " + out.File("f.bin") + "\n");
      EXPECT_TRUE(RecordSaysDone(partial));
      break;
    }
    EXPECT_TRUE(test::ReadWholeFile(out.File("f.bin")) == content) << "wrong bytes";
    EXPECT_EQ(test::ListFiles(out.Path()), std::vector<std::string>{"f.bin"});
    // The record of the finished download, and nothing else.
    const std::vector<std::string> left = test::ListFiles(partial);
    EXPECT_EQ(left.size(), 1u);
    EXPECT_EQ(CountEnding(left, ".dat"), 1u);
  }
  std::cout << "crash torture: " << Trials() << " trials, " << kills << " kills" << std::endl;
}

// A child process that saves the settings over and over, counting up.
pid_t StartSaving(const std::string& path, const std::string& crashAt) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!crashAt.empty()) setenv("BRINDLE_CRASH_AT", crashAt.c_str(), 1);
    RegistryHiveFile hive;
    hive.Load(path);
    SetRegistry(&hive);
    for (int i = ReadInteger(kOptionsSection, "Counter", 0) + 1; i < 1000000; ++i) {
      WriteString(kOptionsSection, "Text", std::string(static_cast<size_t>(i % 5000), 'x'));
      WriteInteger(kOptionsSection, "Counter", i);
    }
    _exit(0);
  }
  return pid;
}

// What a start after the kill reads: a hive that parses, with the values
// of one completed save.
int ReadCounter(const std::string& path) {
  RegistryHiveFile hive;
  EXPECT_TRUE(hive.Load(path));
  SetRegistry(&hive);
  const int counter = ReadInteger(kOptionsSection, "Counter", -1);
  const std::string text = ReadString(kOptionsSection, "Text", "");
  SetRegistry(nullptr);
  // Text is saved before Counter: it belongs to the same or the next value.
  const size_t length = text.size();
  EXPECT_TRUE(counter <= 0 || length == static_cast<size_t>(counter % 5000) ||
              length == static_cast<size_t>((counter + 1) % 5000))
      << counter << " " << length;
  return counter;
}

TEST(CliTortureTest, KilledWhileSavingTheSettingsNothingIsLost) {
  test::TempDir dir;
  const std::string path = dir.File("registry.reg");

  // At the named point: the save in progress is lost, the earlier ones not.
  int status = 0;
  pid_t child = StartSaving(path, "atomic-write-before-rename:registry.reg#7");
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 86);
  EXPECT_EQ(ReadCounter(path), 3);

  std::mt19937_64 random = SeededRandom("settings torture");
  int last = 3;
  for (int trial = 0; trial < 10 * Trials(); ++trial) {
    child = StartSaving(path, "");
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    const int counter = ReadCounter(path);
    EXPECT_GE(counter, last) << "trial " << trial;
    last = counter;
  }
  EXPECT_FALSE(test::FileExists(path + ".bad"));
}

}  // namespace
}  // namespace brindle
