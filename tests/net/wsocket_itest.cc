#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "net/name_resolver.h"
#include "net/socket_errors.h"
#include "net/wsocket.h"
#include "support/fault_http_server.h"
#include "support/manual_clock.h"

namespace brindle {
namespace {

using test::RunUntil;

void ExpectRefusal(const std::function<void()>& call, const char* message) {
  try {
    call();
    ADD_FAILURE() << "not refused: " << message;
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

struct ListResolver : TNameResolver {
  explicit ListResolver(int error, std::vector<std::string> list = {"127.0.0.1"}) : error(error), list(std::move(list)) {}
  int Resolve(const std::string&, std::vector<std::string>& addresses) override {
    if (error == 0) addresses = list;
    return error;
  }
  int error;
  std::vector<std::string> list;
};

class WSocketTest : public ::testing::Test {
 protected:
  WSocketTest() { clock.Attach(loop); }
  ~WSocketTest() override { clock.Detach(); }
  // A listening socket on a free loopback port whose connections are
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
  }
  // Connects `client` to the listener (Addr: a name or an address) and
  // waits for the outcome, and for the server's end when it succeeded.
  void ConnectClient(const std::string& addr = "127.0.0.1") {
    connectErrors.clear();
    client.Addr = addr;
    client.Port = std::to_string(port);
    client.OnSessionConnected = [this](int error) { connectErrors.push_back(error); };
    client.Connect();
    EXPECT_TRUE(connectErrors.empty());  // never from inside Connect
    ASSERT_TRUE(RunUntil(loop, [&] { return !connectErrors.empty() && (connectErrors[0] != 0 || accepted); }));
  }

  test::ManualClock clock;
  EventLoop loop{clock};
  std::unique_ptr<TWSocket> listener;
  std::unique_ptr<TWSocket> accepted;
  TWSocket client{&loop};
  std::vector<int> connectErrors;
  int port = 0;
};

TEST_F(WSocketTest, RefusalsAndARefusedConnectionAfterWhichTheSocketCanBeUsedAgain) {
  for (auto [addr, portText, proto, message] :
       {std::tuple{"127.0.0.1", "", "tcp", "Connect: No Port Specified"},
        {"", "80", "tcp", "Connect: No IP Address Specified"},
        {"127.0.0.1", "80", "", "Connect: No Protocol Specified"}}) {
    TWSocket s(&loop);
    s.Addr = addr;
    s.Port = portText;
    s.Proto = proto;
    ExpectRefusal([&] { s.Connect(); }, message);
  }
  ExpectRefusal([&] { client.DnsLookup(""); }, "DNS lookup: invalid host name.");
  StartListener();
  listener->Close();
  std::vector<TSocketState> states;
  bool data = false, closed = false;
  client.OnChangeState = [&](TSocketState, TSocketState now) { states.push_back(now); };
  client.OnDataAvailable = [&](int) { data = true; };
  client.OnSessionClosed = [&](int) { closed = true; };
  ConnectClient();
  for (int i = 0; i < 3; ++i) loop.RunOnce(10);
  EXPECT_EQ(connectErrors, std::vector<int>{ECONNREFUSED});
  EXPECT_FALSE(data || closed);
  EXPECT_EQ(states, (std::vector{TSocketState::wsOpened, TSocketState::wsConnecting, TSocketState::wsClosed}));
  StartListener();
  ConnectClient();
  EXPECT_EQ(connectErrors, std::vector<int>{0});
}

TEST_F(WSocketTest, ConnectedSessionUntilThePeerCloses) {
  StartListener();
  ConnectClient();
  ASSERT_EQ(client.State(), TSocketState::wsConnected);
  ExpectRefusal([&] { client.Connect(); }, "Connect: Socket already in use");
  EXPECT_EQ(client.GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(client.GetPeerPort(), std::to_string(port));
  std::string data(16 * 1024 * 1024, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  std::vector<int> sent;  // a large send never blocks and arrives whole
  client.OnDataSent = [&](int error) { sent.push_back(error); };
  EXPECT_EQ(client.SendStr(data), static_cast<int64_t>(data.size()));
  EXPECT_GT(client.BufferedByteCount(), 0u);  // the kernel could not take it all
  std::string received;
  accepted->OnDataAvailable = [&](int) {
    char buffer[65536];
    int64_t n = accepted->Receive(buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
  };
  ASSERT_TRUE(RunUntil(loop, [&] { return received.size() == data.size() && !sent.empty(); }, 100000));
  EXPECT_TRUE(received == data);
  EXPECT_EQ(sent, std::vector<int>{0});
  EXPECT_EQ(client.BufferedByteCount(), 0u);

  std::vector<int> clientClosed, serverClosed;
  client.OnSessionClosed = [&](int error) { clientClosed.push_back(error); };
  accepted->OnSessionClosed = [&](int error) { serverClosed.push_back(error); };
  // Nothing to read yet is no broken connection.
  char buffer[64];
  EXPECT_EQ(client.Receive(buffer, sizeof buffer), -1);
  EXPECT_EQ(client.LastError(), EAGAIN);
  loop.RunOnce(10);
  EXPECT_TRUE(clientClosed.empty());
  std::string got;
  client.OnDataAvailable = [&](int) {
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

TEST_F(WSocketTest, LookupResultsCancelAndConnectByName) {
  std::vector<int> results;
  client.OnDnsLookupDone = [&](int error) { results.push_back(error); };
  for (int error : {0, kSocketErrHostNotFound}) {
    client.SetResolver(std::make_shared<ListResolver>(error));
    client.DnsLookup("anything.test");
    ASSERT_TRUE(RunUntil(loop, [&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector<int>{error});
    results.clear();
  }
  EXPECT_EQ(client.DnsResult(), "127.0.0.1");
  client.DnsLookup("127.0.0.1");
  client.CancelDnsLookup();
  for (int i = 0; i < 3; ++i) loop.RunOnce(10);
  EXPECT_TRUE(results.empty());

  // Connect looks a name up itself, reporting a failure as its outcome.
  StartListener();
  ConnectClient("nowhere.test");
  EXPECT_EQ(connectErrors, std::vector<int>{kSocketErrHostNotFound});
  client.SetResolver(std::make_shared<ListResolver>(0));
  ConnectClient("nowhere.test");
  EXPECT_EQ(connectErrors, std::vector<int>{0});
  EXPECT_TRUE(results.empty());
}

// A host's addresses are tried in turn, the families taking turns: the
// next as soon as the previous failed, or 250 ms after it started without
// an answer while it goes on; the first connection made wins.
TEST_F(WSocketTest, EveryAddressOfAHostIsTriedUntilOneConnects) {
  using List = std::vector<std::string>;
  for (const auto& [given, tried, v4First] :
       {std::tuple<List, List, List>{{}, {}, {}},
        {{"::1", "::2", "10.0.0.1"}, {"::1", "10.0.0.1", "::2"}, {"10.0.0.1", "::1", "::2"}},
        {{"10.0.0.1", "10.0.0.2", "::1", "::2", "::3"},
         {"10.0.0.1", "::1", "10.0.0.2", "::2", "::3"},
         {"10.0.0.1", "10.0.0.2", "::1", "::2", "::3"}}}) {
    EXPECT_EQ(ConnectionOrder(given), tried);
    EXPECT_EQ(ConnectionOrder(given, true), v4First);
  }

  StartListener();
  // Nothing listens on 127.0.0.3: refused, and the next address at once.
  client.SetResolver(std::make_shared<ListResolver>(0, List{"127.0.0.3", "127.0.0.1"}));
  ConnectClient("two.test");
  EXPECT_EQ(connectErrors, std::vector<int>{0});
  client.Close();
  accepted.reset();

  // 127.0.0.2 stays silent: its listener's queue is full, so further
  // connection attempts are dropped.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  const int queued = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.2", &addr.sin_addr);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(silent, 0), 0);
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::vector<TSocketState> states;
  client.OnChangeState = [&](TSocketState, TSocketState now) { states.push_back(now); };
  client.SetResolver(std::make_shared<ListResolver>(0, List{"127.0.0.2", "127.0.0.1"}));
  connectErrors.clear();
  client.Addr = "two.test";
  client.Connect();
  ASSERT_TRUE(RunUntil(loop, [&] { return client.State() == TSocketState::wsConnecting; }));
  clock.Advance(TWSocket::kNextAttemptDelayMs - 1);
  for (int i = 0; i < 3; ++i) loop.RunOnce(10);
  EXPECT_TRUE(connectErrors.empty());
  EXPECT_FALSE(accepted);
  clock.Advance(1);
  ASSERT_TRUE(RunUntil(loop, [&] { return !connectErrors.empty() && accepted; }));
  EXPECT_EQ(connectErrors, std::vector<int>{0});
  EXPECT_EQ(client.GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(states, (std::vector{TSocketState::wsOpened, TSocketState::wsConnecting, TSocketState::wsConnected}));
  close(queued);
  close(silent);
}

}  // namespace
}  // namespace brindle
