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
  for (int type : {SOCK_DGRAM, SOCK_RAW}) {
    const int fd = socket(AF_INET, type, IPPROTO_ICMP);
    if (fd >= 0) {
      close(fd);
      return true;
    }
  }
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
  const Case cases[] = {
      {"nowhere.test", kSocketErrHostNotFound, "Unable to resolve nowhere.test"},
      {"", kSocketErrHostNotFound, "Unable to resolve "},
      {"0.0.0.0", kIcmpErrInvalidAddress, "Invalid host address"},
      {"255.255.255.255", kIcmpErrInvalidAddress, "Invalid host address"},
      {"six.test", kIcmpErrInvalidAddress, "Invalid host address"},
  };
  for (const Case& c : cases) {
    TPing ping(resolver);
    Events events;
    Watch(ping, events);
    ping.SetAddress(c.address);
    EXPECT_EQ(ping.Ping(), 0) << c.address;
    EXPECT_EQ(ping.Icmp().LastError(), c.error) << c.address;
    EXPECT_EQ(events.display, std::vector<std::string>{c.message}) << c.address;
    EXPECT_EQ(events.requests, 0) << c.address;
    EXPECT_TRUE(events.replies.empty()) << c.address;
  }
}

class IcmpLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IcmpPermitted()) GTEST_SKIP() << "neither a datagram nor a raw ICMP socket is permitted here";
  }
};

TEST_F(IcmpLoopbackTest, DottedAddressGetsItsReplyWithoutALookup) {
  auto resolver = std::make_shared<TableResolver>(std::map<std::string, std::vector<std::string>>{});
  TPing ping(resolver);
  Events events;
  Watch(ping, events);
  ping.SetAddress("127.0.0.1");
  ping.SetTimeout(1000);
  ping.SetTTL(200);
  ASSERT_EQ(ping.Ping(), 1) << ping.Icmp().LastError();
  const TIcmpEchoReply& reply = ping.Icmp().Reply();
  EXPECT_EQ(resolver->lookups, 0);
  EXPECT_EQ(ping.Icmp().HostIP(), "127.0.0.1");
  EXPECT_EQ(ping.Icmp().LastError(), 0);
  EXPECT_EQ(reply.Address, "127.0.0.1");
  EXPECT_EQ(reply.Status, 0u);
  EXPECT_LT(reply.RoundTripTime, 1000u);
  EXPECT_EQ(reply.DataSize, 56);
  EXPECT_EQ(reply.Data, TICMP::Payload(56));
  // Our own request (sent with TTL 200) is seen on a raw socket too; the
  // reply is the kernel's, with its own TTL.
  EXPECT_NE(reply.Ttl, 200);
  EXPECT_EQ(events.requests, 1);
  EXPECT_EQ(events.replies, std::vector<int>{1});
  EXPECT_TRUE(events.display.empty());
}

TEST_F(IcmpLoopbackTest, NameIsLookedUpOnceUntilTheAddressChanges) {
  auto resolver = std::make_shared<TableResolver>(std::map<std::string, std::vector<std::string>>{
      {"mirror.test", {"::1", "127.0.0.1"}}, {"other.test", {"127.0.0.2"}}});
  TICMP icmp(resolver);
  icmp.SetTimeOut(1000);
  icmp.SetSize(8);
  icmp.SetAddress("mirror.test");
  EXPECT_EQ(icmp.Ping(), 1);
  EXPECT_EQ(icmp.HostIP(), "127.0.0.1");  // the IPv4 address of the name
  icmp.SetAddress("mirror.test");
  EXPECT_EQ(icmp.Ping(), 1);
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
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      TICMP icmp;
      icmp.SetAddress("127.0.0." + std::to_string(t + 1));
      icmp.SetTimeOut(2000);
      for (int i = 0; i < 5; ++i)
        if (icmp.Ping() == 1 && icmp.Reply().Address == icmp.Address()) ++replies;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(replies, 20);
}

}  // namespace
}  // namespace brindle
