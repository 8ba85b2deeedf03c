#include "platform/network_manager_dial_up.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process_start.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::TempDir;
using test::WriteWholeFile;
using Names = std::vector<std::string>;

TEST(NmcliTerseTest, ParsesNameAndTypeLines) {
  const std::pair<const char*, std::vector<TNmcliConnection>> cases[] = {
      {"", {}},
      {"\n\n", {}},
      {"Wired:802-3-ethernet\nMobile:gsm\n", {{"Wired", "802-3-ethernet"}, {"Mobile", "gsm"}}},
      {"Last:cdma", {{"Last", "cdma"}}},
      {R"(My\:Net:gsm)", {{"My:Net", "gsm"}}},
      {R"(back\\slash:pppoe)", {{"back\\slash", "pppoe"}}},
      {R"(a\\:gsm)", {{"a\\", "gsm"}}},
      {R"(odd\x:gsm)", {{"odd\\x", "gsm"}}},
      {R"(type:bad\)", {{"type", "bad\\"}}},
      {"three:fields:here\n:gsm\nalone\nok:", {{"ok", ""}}},
      {R"(end\:)", {}},
  };
  for (const auto& [output, expected] : cases) EXPECT_EQ(ParseNmcliConnections(output), expected) << output;
  for (const std::string field : {"", "a:b", "c\\", "\\:", "plain"}) {
    const std::vector<std::string> fields = SplitNmcliTerseLine(EscapeNmcliTerseField(field) + ":x");
    EXPECT_EQ(fields, (std::vector<std::string>{field, "x"})) << field;
  }
}

// A fake nmcli on a PATH of its own: it logs each call's arguments and
// answers like NetworkManager with two dial-up lines active.
class NetworkManagerDialUpTest : public ::testing::Test {
 protected:
  void InstallNmcli(const std::string& body) {
    const std::string path = bin_.File("nmcli");
    WriteWholeFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" + Log() +
                             "'\necho >> '" + Log() + "'\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }
  void InstallNetworkManager() {
    InstallNmcli(R"(case "$*" in
"-t -f NAME,TYPE connection show") printf '%s\n' 'Wired:802-3-ethernet' 'Mobile\:1:gsm' 'Phone DUN:bluetooth' \
  'Headset:bluetooth' 'DSL:pppoe' 'CDMA:cdma' 'Wifi:802-11-wireless' ;;
"-t -f NAME,TYPE connection show --active") printf '%s\n' 'Wired:802-3-ethernet' 'Mobile\:1:gsm' \
  'Phone DUN:bluetooth' 'Headset:bluetooth' ;;
"-t -f bluetooth.type connection show id Phone DUN") echo 'bluetooth.type:dun' ;;
"-t -f bluetooth.type connection show id Headset") echo 'bluetooth.type:panu' ;;
"connection down id Phone DUN") [ -e ')" + bin_.File("refuse") + R"(' ] && exit 4 ;;
esac
exit 0
)");
  }
  std::string Log() const { return logDir_.File("calls"); }
  std::string Calls() const { return test::FileExists(Log()) ? test::ReadWholeFile(Log()) : ""; }

  TempDir bin_;
  TempDir logDir_;
  test::ScopedEnvironment env_{{{"PATH", bin_.Path()}}};
};

TEST_F(NetworkManagerDialUpTest, ListsDialUpLikeConnectionsAndHangsUpTheActiveOnes) {
  InstallNetworkManager();
  NetworkManagerDialUp port;
  EXPECT_EQ(port.Entries(), (Names{"Mobile:1", "Phone DUN", "DSL", "CDMA"}));
  EXPECT_TRUE(port.IsConnected());
  EXPECT_FALSE(port.Dial("Mobile:1"));
  WriteWholeFile(Log(), "");
  EXPECT_TRUE(port.HangUp());
  EXPECT_EQ(Calls(),
            "[-t][-f][NAME,TYPE][connection][show][--active]\n"
            "[-t][-f][bluetooth.type][connection][show][id][Phone DUN]\n"
            "[-t][-f][bluetooth.type][connection][show][id][Headset]\n"
            "[connection][down][id][Mobile:1]\n"
            "[connection][down][id][Phone DUN]\n");
  // One line that will not go down fails the hang-up; the others still go.
  WriteWholeFile(bin_.File("refuse"), "");
  WriteWholeFile(Log(), "");
  EXPECT_FALSE(port.HangUp());
  EXPECT_NE(Calls().find("[connection][down][id][Mobile:1]"), std::string::npos);
}

TEST_F(NetworkManagerDialUpTest, WithoutAnAnsweringNetworkManagerThereIsNoDialUp) {
  const std::pair<const char*, const char*> scripts[] = {
      {"not running", "echo 'Error: NetworkManager is not running.' >&2\nexit 8\n"},
      {"only other lines", "printf '%s\\n' 'Wired:802-3-ethernet'\n"},
      {"too slow", "exec /bin/sleep 5\n"},
  };
  for (const auto& [name, body] : scripts) {
    InstallNmcli(body);
    NetworkManagerDialUp port("nmcli", 300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Entries(), Names{}) << name;
    EXPECT_FALSE(port.IsConnected()) << name;
    EXPECT_FALSE(port.HangUp()) << name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << name;
    EXPECT_EQ(Calls().find("[down]"), std::string::npos) << name;
  }
  std::filesystem::remove(bin_.File("nmcli"));
  NetworkManagerDialUp missing;
  EXPECT_EQ(missing.Entries(), Names{});
  EXPECT_FALSE(missing.IsConnected());
  EXPECT_FALSE(missing.HangUp());
}

TEST_F(NetworkManagerDialUpTest, RunProcessCaptureKeepsStdoutAndTheExitStatus) {
  InstallNmcli("printf 'out\\n'; echo err >&2; exit 3\n");
  std::string output = "stale";
  EXPECT_EQ(RunProcessCapture({"nmcli", "a b"}, output, 2000), 3);
  EXPECT_EQ(output, "out\n");
  EXPECT_EQ(RunProcessCapture({"no-such-program"}, output, 2000), -1);
  EXPECT_EQ(output, "");
  EXPECT_EQ(RunProcessCapture({}, output, 2000), -1);
}

}  // namespace
}  // namespace brindle
