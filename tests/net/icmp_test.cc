#include "net/icmp.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "net/name_resolver.h"
#include "net/ping.h"
#include "net/socket_errors.h"

namespace brindle {
namespace {

// Answers from a table and counts the lookups; never asks a DNS server.
class TableResolver final : public TNameResolver {
 public:
  explicit TableResolver(std::map<std::string, std::vector<std::string>> table) : table_(std::move(table)) {}
  int Resolve(const std::string& host, std::vector<std::string>& addresses) override {
    ++lookups;
    const auto found = table_.find(host);
    if (found == table_.end()) return kSocketErrHostNotFound;
    addresses = found->second;
    return 0;
  }
  std::atomic<int> lookups{0};

 private:
  std::map<std::string, std::vector<std::string>> table_;
};

bool IcmpPermitted() {
  for (int type : {SOCK_DGRAM, SOCK_RAW})
    if (const int fd = socket(AF_INET, type, IPPROTO_ICMP); fd >= 0) return close(fd), true;
  return false;
}

struct Events {
  std::vector<std::string> display;
  int requests = 0;
  std::vector<int> replies;
};

void Watch(TPing& ping, Events& events) {
  ping.OnDisplay = [&](TPing&, TICMP&, const std::string& m) { events.display.push_back(m); };
  ping.OnEchoRequest = [&](TPing&, TICMP&) { ++events.requests; };
  ping.OnEchoReply = [&](TPing&, TICMP&, int n) { events.replies.push_back(n); };
}

TEST(IcmpTest, PayloadIsTheFixedTextOverBlanks) {
  const std::string text = TICMP::kPayloadText;
  EXPECT_EQ(TICMP::Payload(56), text + std::string(11, ' '));
  EXPECT_EQ(TICMP::Payload(10), text.substr(0, 10));
  EXPECT_EQ(TICMP::Payload(0), "");
  EXPECT_EQ(TICMP::Payload(-1), "");
}

TEST(IcmpTest, AddressesThatCannotBePingedSendNothing) {
  struct Case {
    const char* address;
    int error;
    const char* message;
  };
  auto resolver = std::make_shared<TableResolver>(std::map<std::string, std::vector<std::string>>{
      {"six.test", {"::1"}}});
  for (const Case& c : {Case{"nowhere.test", kSocketErrHostNotFound, "Unable to resolve nowhere.test"},
                        {"", kSocketErrHostNotFound, "Unable to resolve "},
                        {"0.0.0.0", kIcmpErrInvalidAddress, "Invalid host address"},
                        {"255.255.255.255", kIcmpErrInvalidAddress, "Invalid host address"},
                        {"six.test", kIcmpErrInvalidAddress, "Invalid host address"}}) {
    SCOPED_TRACE(c.address);
    TPing ping(resolver);
    Events events;
    Watch(ping, events);
    ping.SetAddress(c.address);
    EXPECT_EQ(ping.Ping(), 0);
    EXPECT_EQ(ping.Icmp().LastError(), c.error);
    EXPECT_EQ(events.display, std::vector<std::string>{c.message});
    EXPECT_TRUE(events.requests == 0 && events.replies.empty());
  }
}

class IcmpLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IcmpPermitted()) GTEST_SKIP() << "neither a datagram nor a raw ICMP socket is permitted here";
  }
};

// A dotted address needs no lookup; a name is looked up once until the
// address changes, and its IPv4 address is pinged.
TEST_F(IcmpLoopbackTest, RepliesAndLookups) {
  auto resolver = std::make_shared<TableResolver>(std::map<std::string, std::vector<std::string>>{
      {"mirror.test", {"::1", "127.0.0.1"}}, {"other.test", {"127.0.0.2"}}});
  TPing ping(resolver);
  Events events;
  Watch(ping, events);
  ping.SetAddress("127.0.0.1");
  ping.SetTimeout(1000);
  ping.SetTTL(200);
  ASSERT_EQ(ping.Ping(), 1) << ping.Icmp().LastError();
  const TIcmpEchoReply& reply = ping.Icmp().Reply();
  EXPECT_EQ(resolver->lookups, 0);
  EXPECT_EQ(reply.Address, "127.0.0.1");
  EXPECT_EQ(reply.Status, 0u);
  EXPECT_LT(reply.RoundTripTime, 1000u);
  EXPECT_EQ(reply.Data, TICMP::Payload(56));
  // Our own request (sent with TTL 200) is seen on a raw socket too; the
  // reply is the kernel's, with its own TTL.
  EXPECT_NE(reply.Ttl, 200);
  EXPECT_TRUE(events.requests == 1 && events.replies == std::vector<int>{1} && events.display.empty());

  TICMP& icmp = ping.Icmp();
  icmp.SetSize(8);
  for (int i = 0; i < 2; ++i) {
    icmp.SetAddress("mirror.test");
    EXPECT_EQ(icmp.Ping(), 1);
    EXPECT_EQ(icmp.HostIP(), "127.0.0.1");
  }
  EXPECT_EQ(resolver->lookups, 1);
  icmp.SetAddress("other.test");
  EXPECT_FALSE(icmp.Resolved());
  EXPECT_EQ(icmp.Ping(), 1);
  EXPECT_EQ(resolver->lookups, 2);
  EXPECT_EQ(icmp.Reply().Address, "127.0.0.2");
  EXPECT_EQ(icmp.Reply().Data, TICMP::Payload(8));
}

TEST_F(IcmpLoopbackTest, SimultaneousPingsEachGetTheirOwnReply) {
  std::atomic<int> replies{0};
  std::vector<std::jthread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      TICMP icmp;
      icmp.SetAddress("127.0.0." + std::to_string(t + 1));
      icmp.SetTimeOut(2000);
      for (int i = 0; i < 5; ++i) replies += icmp.Ping() == 1 && icmp.Reply().Address == icmp.Address();
    });
  }
  threads.clear();
  EXPECT_EQ(replies, 20);
}

}  // namespace
}  // namespace brindle
