#include "platform/shell.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/systemd_power.h"
#include "platform/win_reboot.h"
#include "platform/xdg_launcher.h"
#include "support/fake_launcher.h"
#include "support/fake_power.h"
#include "support/installed.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;
using Words = std::vector<std::string>;

TEST(ShellTest, SplitCommandLine) {
  const std::pair<const char*, Words> cases[] = {
      {"", {}}, {" \t\n ", {}}, {"a b  c", {"a", "b", "c"}}, {"\tprog\targ\n", {"prog", "arg"}},
      {"'a b' c", {"a b", "c"}}, {"\"a b\"", {"a b"}}, {"a '' b \"\"", {"a", "", "b", ""}}, {"x\"y\"'z'", {"xyz"}},
      {R"("a\"b\\c\$d\`e")", {"a\"b\\c$d`e"}}, {R"("a\nb")", {"a\\nb"}}, {R"('a\b"c')", {"a\\b\"c"}},
      {R"(a\ b a\\b \'x)", {"a b", "a\\b", "'x"}}, {"a\\\nb", {"ab"}}, {"a \\\n b", {"a", "b"}},
      {"\"a\\\nb\"", {"ab"}}, {"end\\", {"end\\"}},
      {"$HOME *.txt | > ; && #c", {"$HOME", "*.txt", "|", ">", ";", "&&", "#c"}},
      {"'open", {}}, {"a \"open", {}}, {"a \"b\\\"", {}},  // unclosed quotes: nothing to run
  };
  for (const auto& [line, words] : cases) EXPECT_EQ(SplitCommandLine(line), words) << line;
}

class ShellLauncherTest : public ::testing::Test {
 protected:
  test::Installed<test::FakeLauncher, SetLauncher> launcher_;
};

TEST_F(ShellLauncherTest, ExecuteProgramStartsTheSplitWordsAndCallbrowserOpens) {
  ExecuteProgram("scanner -q '/tmp/a b.zip'");
  ExecuteProgram("scanner 'unclosed");
  ExecuteProgram("   ");
  ASSERT_EQ(launcher_.started.size(), 1u);
  EXPECT_EQ(launcher_.started[0], (Words{"scanner", "-q", "/tmp/a b.zip"}));
  Callbrowser("http://localhost/stats.html");
  EXPECT_EQ(launcher_.opened, Words{"http://localhost/stats.html"});
}

TEST_F(ShellLauncherTest, RunFileStartsOnlyExecutableFilesAndOpensEverythingElse) {
  namespace fs = std::filesystem;
  TempDir dir;
  WriteWholeFile(dir.File("tool"), "#!/bin/sh\n");
  WriteWholeFile(dir.File("setup.exe"), "MZ");
  WriteWholeFile(dir.File("-name"), "#!/bin/sh\n");
  fs::permissions(dir.File("tool"), fs::perms::owner_all | fs::perms::group_exec);
  fs::permissions(dir.File("-name"), fs::perms::owner_all);
  fs::permissions(dir.File("setup.exe"), fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directory(dir.File("folder"));
  const std::string relative = fs::relative(dir.File("-name")).string();
  const struct {
    std::string path;
    std::string started;  // empty: opened instead
    std::string opened;
  } cases[] = {
      {dir.File("tool"), dir.File("tool"), ""},
      {relative, dir.File("-name"), ""},  // never searched in PATH, never an option
      {dir.File("setup.exe"), "", dir.File("setup.exe")},  // not executable: its association
      {dir.File("folder"), "", dir.File("folder")},        // folders are searchable, not programs
      {dir.File("missing"), "", dir.File("missing")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    launcher_.opened.clear();
    launcher_.started.clear();
    EXPECT_TRUE(RunFile(c.path));
    EXPECT_EQ(launcher_.started, c.started.empty() ? std::vector<Words>{} : std::vector<Words>{{c.started}});
    EXPECT_EQ(launcher_.opened, c.opened.empty() ? Words{} : Words{c.opened});
  }
  launcher_.opened.clear();
  EXPECT_FALSE(RunFile(""));
  EXPECT_TRUE(launcher_.opened.empty());
}

// Writes its arguments, one a line, to <dir>/out, then whether our descriptor 200 leaked to it.
std::string WriteRecorder(const TempDir& dir, const std::string& name) {
  std::string path = dir.File(name);
  WriteWholeFile(path, "#!/bin/sh\n"
                       "if [ -e /proc/$$/fd/200 ]; then fd=leaked; else fd=closed; fi\n"
                       "printf '%s\\n' \"$@\" \"$fd\" > '" + dir.File("out") + "'\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

// Waits, bounded, for the descriptor report that ends the output.
std::string WaitForOutput(const std::string& path) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string content;
  while (!(content = ReadWholeFile(path)).ends_with("ed\n") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return content;
}

TEST(XdgLauncherTest, StartsProgramsFromPathWithTheirArgumentsAndNoLeakedDescriptor) {
  TempDir dir;
  std::string script = WriteRecorder(dir, "record");
  WriteRecorder(dir, "xdg-open");
  int fd = open(dir.Path().c_str(), O_RDONLY);  // no close-on-exec, as a lock file would have
  ASSERT_GE(fd, 0);
  ASSERT_EQ(dup2(fd, 200), 200);
  close(fd);
  XdgLauncher launcher;
  bool started = launcher.StartProgram({script, "a b", "*", "$HOME"});
  close(200);
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitForOutput(dir.File("out")), "a b\n*\n$HOME\nclosed\n");
  std::filesystem::remove(dir.File("out"));

  std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", ("/nonexistent:" + dir.Path()).c_str(), 1);
  bool opened = launcher.OpenDocument("http://localhost/a b");
  bool missing = launcher.StartProgram({"brindle-no-such-program"});
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(missing);
  EXPECT_EQ(WaitForOutput(dir.File("out")), "http://localhost/a b\nclosed\n");

  WriteWholeFile(dir.File("plain.txt"), "not a program\n");
  WriteWholeFile(dir.File("bad-interpreter"), "#!/nonexistent/sh\n");
  std::filesystem::permissions(dir.File("bad-interpreter"), std::filesystem::perms::owner_all);
  for (const char* name : {"missing", "plain.txt", "bad-interpreter"})
    EXPECT_FALSE(launcher.StartProgram({dir.File(name)})) << name;
  EXPECT_FALSE(launcher.StartProgram({}));
  EXPECT_FALSE(launcher.OpenDocument(""));
}

TEST(SystemdPowerTest, RunsPoweroffAndReportsItsExitStatus) {
  TempDir dir;
  const std::string accepting = dir.File("accepting"), refusing = dir.File("refusing");
  WriteWholeFile(accepting, "#!/bin/sh\nprintf '%s' \"$*\" > '" + dir.File("args") + "'\nexit 0\n");
  WriteWholeFile(refusing, "#!/bin/sh\nexit 1\n");
  for (const std::string& path : {accepting, refusing}) std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  EXPECT_TRUE(SystemdPower(accepting).PowerOff());
  EXPECT_EQ(ReadWholeFile(dir.File("args")), "poweroff");
  EXPECT_FALSE(SystemdPower(refusing).PowerOff());
  EXPECT_FALSE(SystemdPower(dir.File("missing")).PowerOff());
}

TEST(WinRebootTest, WinExitPowersOffThroughThePowerPort) {
  test::FakePower power;
  SetPower(&power);
  TWinReboot reboot;
  EXPECT_TRUE(reboot.WinExit(TWinReboot::kPowerOff));
  EXPECT_TRUE(reboot.WinExit(TWinReboot::kPowerOff | 4));
  power.result = false;
  EXPECT_FALSE(reboot.WinExit(TWinReboot::kPowerOff));
  EXPECT_FALSE(reboot.WinExit(2));  // a restart is not turned into a power-off
  EXPECT_EQ(power.powerOffs, 3);
  SetPower(nullptr);
  EXPECT_FALSE(reboot.WinExit(TWinReboot::kPowerOff));
}

}  // namespace
}  // namespace brindle
