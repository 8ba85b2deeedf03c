#include "manager/server_stats.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "core/url.h"
#include "engine/file_mirror.h"
#include "engine/mirror_list.h"
#include "support/manager_test.h"
#include "support/fake_launcher.h"
#include "support/installed.h"

namespace brindle {
namespace {

using test::FileExists;
using test::ReadWholeFile;
using Strings = std::vector<std::string>;

Strings Names(const std::vector<TServer>& list) {
  Strings names;
  for (const TServer& entry : list) names.push_back(entry.Name);
  return names;
}

std::string WithCrLf(const std::string& text) {
  std::string result;
  for (const char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

class ServerStatsTest : public test::ManagerTest {
 protected:
  test::Installed<test::FakeLauncher, SetLauncher> launcher_;
};

TEST_F(ServerStatsTest, AveragesRoundHalvesToEvenWithoutOverflow) {
  TServerStats stats(temp_.Path());
  stats.AddPing("Host.Example.ORG", 100);
  stats.AddPing("host.example.org", 200);
  stats.AddPing("host.example.org", 300);
  const TServer& host = stats.Servers()[0];
  EXPECT_EQ(std::tie(host.Name, host.AvgPing, host.PingCount), std::make_tuple("host.example.org", 200, 3));
  EXPECT_EQ(stats.TopDomains()[0].Name, "org");

  for (const auto& [first, second, average] : {std::tuple{1, 2, 2}, {2, 3, 2}, {3, 4, 4}, {0, 1, 0}, {5, 8, 6}}) {
    TServerStats fresh(temp_.File("fresh"));
    fresh.Clear();
    fresh.AddPing("h", first);
    fresh.AddPing("h", second);
    EXPECT_EQ(fresh.Servers()[0].AvgPing, average) << first << " " << second;
  }
  stats.LoadText("1\r\nbig\t9000\t2147483647\t2000000000\t2000000000\r\n");
  stats.AddPing("big", 9998);
  stats.AddSpeed("big", INT64_MAX);
  const TServer& big = stats.Servers()[0];
  EXPECT_EQ(std::tie(big.AvgPing, big.PingCount, big.AvgSpeed, big.SpeedCount),
            std::make_tuple(9000, INT_MAX, 2000000000, 2000000001));
}

TEST_F(ServerStatsTest, ListOrderAndWhatIsRecorded) {
  TServerStats stats(temp_.Path());
  stats.AddPing("b.com", 90);
  stats.AddPing("a.com", 100);
  EXPECT_EQ(Names(stats.Servers()), (Strings{"b.com", "a.com"}));
  stats.AddPing("a.com", 80);  // average 90, equal: the one updated later stays behind
  EXPECT_EQ(Names(stats.Servers()), (Strings{"b.com", "a.com"}));
  stats.AddPing("a.com", 60);  // average 80
  EXPECT_EQ(Names(stats.Servers()), (Strings{"a.com", "b.com"}));

  for (const int ignored : {-1, 9999, 10000}) stats.AddPing("x.net", ignored);
  EXPECT_EQ(stats.Servers().size(), 2u);
  stats.AddPing("localhost", 0);
  EXPECT_EQ(stats.TopDomains()[0].Name, "");

  stats.AddSpeed("c.com", 1000);  // no host entry: only its domain
  stats.AddSpeed("q.net", 1000);
  stats.AddSpeed("a.com", -5);
  EXPECT_EQ(Names(stats.Servers()), (Strings{"localhost", "a.com", "b.com"}));
  for (const TServer& host : stats.Servers()) EXPECT_EQ(host.SpeedCount, 0) << host.Name;
  EXPECT_EQ(Names(stats.TopDomains()), (Strings{"", "com"}));
  EXPECT_EQ(std::tie(stats.TopDomains()[1].AvgSpeed, stats.TopDomains()[1].SpeedCount), std::make_tuple(1000, 1));
}

TEST_F(ServerStatsTest, EachListKeepsAtMostOneHundredEntries) {
  TServerStats stats(temp_.Path());
  std::string full = "100\r\n";
  for (int i = 0; i < 100; ++i) full += "h" + std::to_string(i) + "\t" + std::to_string(100 + i) + "\t1\t0\t0\r\n";
  full += "extra\t1\t1\t0\t0\r\n";  // a 101st host line is a domain line
  stats.LoadText(full);
  EXPECT_EQ(stats.TopDomains().size(), 1u);
  stats.AddPing("worse", 300);  // would be 101st: dropped
  EXPECT_EQ(stats.Servers().back().Name, "h99");
  stats.AddPing("better", 150);
  ASSERT_EQ(stats.Servers().size(), 100u);
  EXPECT_EQ(stats.Servers().back().Name, "h98");
  EXPECT_EQ(stats.Servers()[51].Name, "better");
}

TEST_F(ServerStatsTest, FileRoundTripAndDamagedLines) {
  TServerStats stats(temp_.Path());
  stats.LoadText(
      "3\r\nok.org\t10\t1\t0\t0\r\nshort\t1\t1\t0\r\ntab.org\t20\t2\t300\t1\tjunk\r\n"
      "org\t15\t3\t300\t1\r\norg\t16\t1\t0\t0\r\nx\tab\t1\t1\t1\r\n\xff\xfe junk\r\nne\t-5\t1\t1\t1\r\n"
      "big\t1\t1\t1\t99999999999\n");
  EXPECT_EQ(stats.Text(), "2\r\nok.org\t10\t1\t0\t0\r\ntab.org\t20\t2\t300\t1\r\norg\t15\t3\t300\t1\r\n");
  stats.LoadText("x\r\nok.org\t10\t1\t0\t0\r\n");
  EXPECT_TRUE(stats.Servers().empty() && stats.TopDomains().empty());

  stats.AddPing("odd\tname\nhere\\.org", 5);
  stats.AddPing("b.de", 7);
  ASSERT_TRUE(test::FileExists(stats.StatisticsFile()));
  const TServerStats read(temp_.Path());
  EXPECT_EQ(read.Text(), stats.Text());
  EXPECT_EQ(read.Servers()[0].Name, "odd\tname\nhere\\.org");
}

TEST_F(ServerStatsTest, SortMirrorsAnnotatesAndOrders) {
  TServerStats stats(temp_.Path());
  stats.LoadText("2\r\na.org\t50\t1\t700\t1\r\nd.de\t30\t1\t0\t0\r\norg\t40\t1\t900\t1\r\nde\t30\t1\t0\t0\r\n");
  TMirrorList mirrors;
  for (const char* url : {"http://A.org/f", "http://c.net/f", "http://b.org/f", "http://d.de/f"})
    mirrors.Add(new TFileMirror(url));
  stats.SortMirrors(mirrors);
  Strings order;
  for (int i = 0; i < mirrors.Count(); ++i) order.push_back(mirrors.Get(i)->Url->Url);
  EXPECT_EQ(order, (Strings{"http://d.de/f", "http://b.org/f", "http://A.org/f", "http://c.net/f"}));
  const auto marks = [&](int i) {
    const TFileMirror* m = mirrors.Get(i);
    return std::vector<int>{m->HostPing, m->HostSpeed, m->DomainPing, m->DomainSpeed};
  };
  EXPECT_EQ(marks(2), (std::vector<int>{50, 700, 40, 900}));
  EXPECT_EQ(marks(3), (std::vector<int>{9999, 0, 9999, 0}));
  mirrors.DeleteAndFreeAllMirrors();
}

TEST_F(ServerStatsTest, ShowStatisticsWritesBothPagesAndOpensThePingPage) {
  TServerStats stats(temp_.Path());
  stats.LoadText(
      "2\r\nmirror.de\t120\t1\t0\t0\r\nftp.example.org\t85\t3\t4123\t2\r\n"
      "org\t85\t3\t1234\t1\r\nde\t120\t1\t20000\t1\r\n");
  stats.ShowStatistics();
  const std::string ping = temp_.File("StatisticsPing.html"), speed = temp_.File("StatisticsSpeed.html");
  EXPECT_EQ(launcher_.opened, Strings{ping});
  EXPECT_EQ(ReadWholeFile(ping), WithCrLf(R"(<HTML><HEAD><TITLE>Server Statistics</TITLE></HEAD><BODY>
<table width="95%" border="0" cellspacing="0" cellpadding="0">
<tr bgcolor="#cccccc"><td><b>Server</b></td><td><b>Average Ping [ms]</b></td><td><b><a href=")" + speed +
                                          R"(">Average Download Speed per Connection [kb/s]</a></b></td></tr>
<tr><td><font size="2" color="#000000" face="verdana,arial">ftp.example.org</font></td><td><font size="2" color="#000000" face="verdana,arial">85</font></td><td><font size="2" color="#000000" face="verdana,arial">4.1</font></td></tr>
<tr bgcolor="#eeeeee"><td><font size="2" color="#000000" face="verdana,arial">mirror.de</font></td><td><font size="2" color="#000000" face="verdana,arial">120</font></td><td><font size="2" color="#000000" face="verdana,arial">N/A</font></td></tr>
</table><br><br>
<A name="section2"><table width="95%" border="0" cellspacing="0" cellpadding="0">
<tr bgcolor="#cccccc"><td><b>Top Domain</b></td><td><b>Average Ping [ms]</b></td><td><b><a href=")" + speed +
                                          R"(#section2">Average Download Speed per Connection[kb/s]</a></b></td></tr>
<tr><td><font size="2" color="#000000" face="verdana,arial">.org</font></td><td><font size="2" color="#000000" face="verdana,arial">85</font></td><td><font size="2" color="#000000" face="verdana,arial">1.2</font></td></tr>
<tr bgcolor="#eeeeee"><td><font size="2" color="#000000" face="verdana,arial">.de</font></td><td><font size="2" color="#000000" face="verdana,arial">120</font></td><td><font size="2" color="#000000" face="verdana,arial">20</font></td></tr>
</table></body></html>
)"));
  EXPECT_EQ(ReadWholeFile(speed), WithCrLf(R"(<HTML><HEAD><TITLE>Server Statistics</TITLE></HEAD><BODY>
<table width="95%" border="0" cellspacing="0" cellpadding="0">
<tr bgcolor="#cccccc"><td><b>Server</b></td><td><b><a href=")" + ping +
                                           R"(">Average Ping [ms]</a></b></td><td><b>Average Download Speed [kb/s]</b></td></tr>
<tr><td><font size="2" color="#000000" face="verdana,arial">ftp.example.org</font></td><td><font size="2" color="#000000" face="verdana,arial">85</font></td><td><font size="2" color="#000000" face="verdana,arial">4.1</font></td></tr>
<tr bgcolor="#eeeeee"><td><font size="2" color="#000000" face="verdana,arial">mirror.de</font></td><td><font size="2" color="#000000" face="verdana,arial">120</font></td><td><font size="2" color="#000000" face="verdana,arial">N/A</font></td></tr>
</table><br><br>
<A name="section2"></A><table width="95%" border="0" cellspacing="0" cellpadding="0">
<tr bgcolor="#cccccc"><td><b>Top Domain</b></td><td><b><a href=")" + ping +
                                           R"(#section2">Average Ping [ms]</a></b></td><td><b>Average Download Speed [kb/s]</b></td></tr>
<tr><td>.de</td><td>120</td><td>20</td></tr>
<tr bgcolor="#eeeeee"><td>.org</td><td>85</td><td>1.2</td></tr>
</table></body></html>
)"));
  EXPECT_EQ(Names(stats.Servers()), (Strings{"ftp.example.org", "mirror.de"}));
  EXPECT_EQ(TServerStats(temp_.Path()).Text(), stats.Text());

  stats.AddPing("a<b>&\".org", 5);
  stats.ShowStatistics();
  EXPECT_NE(ReadWholeFile(ping).find(">a&lt;b&gt;&amp;&quot;.org<"), std::string::npos);

  stats.Clear();
  EXPECT_TRUE(stats.Servers().empty() && stats.TopDomains().empty());
  for (const std::string& file : {ping, speed, stats.StatisticsFile()}) EXPECT_FALSE(FileExists(file)) << file;
}

TEST_F(ServerStatsTest, FailedSaveKeepsOldFileAndMemory) {
  TServerStats stats(temp_.Path());
  stats.AddPing("a.org", 10);
  const std::string before = ReadWholeFile(stats.StatisticsFile());
  FailWritesOf(stats.StatisticsFile());
  stats.AddPing("b.org", 20);
  EXPECT_EQ(stats.Servers().size(), 2u);
  EXPECT_EQ(ReadWholeFile(stats.StatisticsFile()), before);
}

}  // namespace
}  // namespace brindle
