#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "net/canned_server.h"
#include "net/name_resolver.h"
#include "net/socket_errors.h"
#include "net/wsocket.h"

namespace brindle {
namespace {

using test::RunUntil;

class WSocketTest : public ::testing::Test {
 protected:
  // A listening TWSocket on a free loopback port whose connections are
  // adopted by `accepted`.
  void StartListener() {
    listener = std::make_unique<TWSocket>(&loop);
    listener->LocalAddr = "127.0.0.1";
    listener->Port = "0";
    listener->OnSessionAvailable = [this](int) {
      accepted = std::make_unique<TWSocket>(&loop);
      accepted->Dup(listener->Accept());
    };
    listener->Listen();
    std::string addr;
    ASSERT_EQ(listener->GetSockName(addr, port), 0);
    EXPECT_EQ(addr, "127.0.0.1");
    EXPECT_GT(port, 0);
  }

  // Connects `client` to the listener and waits for both ends.
  void ConnectClient() {
    client.Addr = "127.0.0.1";
    client.Port = std::to_string(port);
    client.OnSessionConnected = [this](int error) { connectErrors.push_back(error); };
    client.Connect();
    ASSERT_TRUE(RunUntil(loop, [&] { return !connectErrors.empty() && accepted; }));
    ASSERT_EQ(connectErrors, std::vector<int>{0});
  }

  EventLoop loop;
  std::unique_ptr<TWSocket> listener;
  std::unique_ptr<TWSocket> accepted;
  TWSocket client{&loop};
  std::vector<int> connectErrors;
  int port = 0;
};

TEST_F(WSocketTest, ConnectRefusals) {
  struct Case {
    const char* addr;
    const char* port;
    const char* proto;
    const char* message;
  } cases[] = {
      {"127.0.0.1", "", "tcp", "Connect: No Port Specified"},
      {"", "80", "tcp", "Connect: No IP Address Specified"},
      {"127.0.0.1", "80", "", "Connect: No Protocol Specified"},
  };
  for (const Case& c : cases) {
    TWSocket s(&loop);
    s.Addr = c.addr;
    s.Port = c.port;
    s.Proto = c.proto;
    try {
      s.Connect();
      FAIL() << c.message;
    } catch (const ESocketException& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  TWSocket s(&loop);
  try {
    s.DnsLookup("");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "DNS lookup: invalid host name.");
  }
}

TEST_F(WSocketTest, ConnectingAConnectedSocketIsRefused) {
  StartListener();
  ConnectClient();
  EXPECT_EQ(client.State(), TSocketState::wsConnected);
  try {
    client.Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: Socket already in use");
  }
  EXPECT_EQ(client.GetPeerPort(), std::to_string(port));
  EXPECT_EQ(client.GetPeerAddr(), "127.0.0.1");
}

TEST_F(WSocketTest, RefusedConnectionReportsErrorAndNoData) {
  StartListener();
  listener->Close();
  std::vector<TSocketState> states;
  bool data = false, closed = false;
  client.OnChangeState = [&](TSocketState, TSocketState now) { states.push_back(now); };
  client.OnDataAvailable = [&](int) { data = true; };
  client.OnSessionClosed = [&](int) { closed = true; };
  client.Addr = "127.0.0.1";
  client.Port = std::to_string(port);
  client.OnSessionConnected = [this](int error) { connectErrors.push_back(error); };
  client.Connect();
  EXPECT_TRUE(connectErrors.empty());  // never from inside Connect
  ASSERT_TRUE(RunUntil(loop, [&] { return !connectErrors.empty(); }));
  for (int i = 0; i < 3; ++i) loop.RunOnce(10);
  EXPECT_EQ(connectErrors, std::vector<int>{ECONNREFUSED});
  EXPECT_FALSE(data);
  EXPECT_FALSE(closed);
  EXPECT_EQ(client.State(), TSocketState::wsClosed);
  std::vector<TSocketState> expected = {TSocketState::wsOpened, TSocketState::wsConnecting, TSocketState::wsClosed};
  EXPECT_EQ(states, expected);
  // The socket can be used again.
  StartListener();
  connectErrors.clear();
  ConnectClient();
}

TEST_F(WSocketTest, NothingToReadIsNotABrokenConnection) {
  StartListener();
  ConnectClient();
  bool closed = false;
  client.OnSessionClosed = [&](int) { closed = true; };
  char buffer[16];
  EXPECT_EQ(client.Receive(buffer, sizeof buffer), -1);
  EXPECT_EQ(client.LastError(), EAGAIN);
  loop.RunOnce(10);
  EXPECT_FALSE(closed);
  EXPECT_EQ(client.State(), TSocketState::wsConnected);
}

TEST_F(WSocketTest, LargeSendNeverBlocksAndArrivesWhole) {
  StartListener();
  ConnectClient();
  std::string data(16 * 1024 * 1024, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  int sent = 0;
  client.OnDataSent = [&](int error) {
    EXPECT_EQ(error, 0);
    ++sent;
  };
  EXPECT_EQ(client.SendStr(data), static_cast<int64_t>(data.size()));
  EXPECT_GT(client.BufferedByteCount(), 0u);  // the kernel could not take it all
  std::string received;
  accepted->OnDataAvailable = [&](int) {
    char buffer[65536];
    int64_t n = accepted->Receive(buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
  };
  ASSERT_TRUE(RunUntil(loop, [&] { return received.size() == data.size() && sent == 1; }, 100000));
  EXPECT_TRUE(received == data);
  EXPECT_EQ(client.BufferedByteCount(), 0u);
}

TEST_F(WSocketTest, PeerCloseAndLocalCloseRaiseSessionClosed) {
  StartListener();
  ConnectClient();
  std::vector<int> clientClosed, serverClosed;
  client.OnSessionClosed = [&](int error) { clientClosed.push_back(error); };
  accepted->OnSessionClosed = [&](int error) { serverClosed.push_back(error); };
  std::string got;
  client.OnDataAvailable = [&](int) {
    char buffer[64];
    int64_t n = client.Receive(buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
  };
  accepted->SendStr("bye");
  accepted->OnDataSent = [&](int) { accepted->Close(); };
  ASSERT_TRUE(RunUntil(loop, [&] { return !clientClosed.empty(); }));
  EXPECT_EQ(got, "bye");
  EXPECT_EQ(serverClosed, std::vector<int>{0});  // raised by Close itself
  EXPECT_EQ(clientClosed, std::vector<int>{0});
  EXPECT_EQ(client.State(), TSocketState::wsClosed);
}

class ListResolver : public TNameResolver {
 public:
  explicit ListResolver(int error) : error_(error) {}
  int Resolve(const std::string&, std::vector<std::string>& addresses) override {
    if (error_ == 0) addresses = {"127.0.0.1"};
    return error_;
  }

 private:
  int error_;
};

TEST_F(WSocketTest, LookupResultsAndCancel) {
  std::vector<int> results;
  TWSocket s(&loop);
  s.OnDnsLookupDone = [&](int error) { results.push_back(error); };
  s.SetResolver(std::make_shared<ListResolver>(0));
  s.DnsLookup("anything.test");
  ASSERT_TRUE(RunUntil(loop, [&] { return results.size() == 1; }));
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");

  s.SetResolver(std::make_shared<ListResolver>(kSocketErrHostNotFound));
  s.DnsLookup("anything.test");
  ASSERT_TRUE(RunUntil(loop, [&] { return results.size() == 2; }));
  EXPECT_EQ(results[1], kSocketErrHostNotFound);

  s.DnsLookup("127.0.0.1");
  s.CancelDnsLookup();
  for (int i = 0; i < 3; ++i) loop.RunOnce(10);
  EXPECT_EQ(results.size(), 2u);
}

TEST_F(WSocketTest, ConnectByNameAndFailedLookup) {
  StartListener();
  client.SetResolver(std::make_shared<ListResolver>(kSocketErrHostNotFound));
  client.Addr = "nowhere.test";
  client.Port = std::to_string(port);
  client.OnSessionConnected = [this](int error) { connectErrors.push_back(error); };
  client.Connect();
  ASSERT_TRUE(RunUntil(loop, [&] { return !connectErrors.empty(); }));
  EXPECT_EQ(connectErrors, std::vector<int>{kSocketErrHostNotFound});
  connectErrors.clear();
  client.SetResolver(std::make_shared<ListResolver>(0));
  client.Connect();
  ASSERT_TRUE(RunUntil(loop, [&] { return !connectErrors.empty() && accepted; }));
  EXPECT_EQ(connectErrors, std::vector<int>{0});
}

TEST_F(WSocketTest, DestroyedFromItsOwnEvent) {
  StartListener();
  auto owned = std::make_unique<TWSocket>(&loop);
  TWSocket* raw = owned.get();
  raw->Addr = "127.0.0.1";
  raw->Port = std::to_string(port);
  bool gone = false;
  raw->OnDataAvailable = [&](int) {
    loop.DeleteLater(std::move(owned));
    gone = true;
  };
  raw->Connect();
  ASSERT_TRUE(RunUntil(loop, [&] { return accepted != nullptr; }));
  accepted->SendStr("x");
  accepted->Close();
  ASSERT_TRUE(RunUntil(loop, [&] { return gone; }));
  loop.RunOnce(0);
  EXPECT_FALSE(owned);
}

}  // namespace
}  // namespace brindle
