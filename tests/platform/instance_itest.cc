#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "core/event_loop.h"
#include "platform/hand_over_client.h"
#include "platform/hand_over_server.h"
#include "platform/hand_over_socket.h"
#include "platform/instance_lock.h"
#include "support/manual_clock.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

using test::ManualClock;
using Lock = TInstanceLock::TResult;

THandOverRequest Text(std::string text) { return THandOverRequest::PlainText(std::move(text)); }

class InstanceTest : public ::testing::Test {
 protected:
  std::string Profile(const std::string& name = "profile") const { return home_.File(name); }

  // Runs fn on a second thread, as a second process would, while this thread
  // drives the loop the server lives on.
  template <class F>
  auto WhileLoopRuns(EventLoop& loop, F fn, const std::function<void()>& eachTurn = nullptr) {
    std::optional<decltype(fn())> result;
    std::atomic<bool> done{false};
    std::thread other([&] {
      result = fn();
      done = true;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < until) {
      if (eachTurn) eachTurn();
      loop.RunOnce(5);
    }
    other.join();
    return *result;
  }

  test::TempDir runtime_, home_;
  test::ScopedEnvironment env_{{{"XDG_RUNTIME_DIR", runtime_.Path()}, {"XDG_CACHE_HOME", std::nullopt}}};
};

// A raw socket connected to path (connect) or bound there (the leftover of
// an instance that died).
int RawSocket(const std::string& path, bool connectIt = true) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const auto* raw = reinterpret_cast<sockaddr*>(&address);
  EXPECT_EQ(connectIt ? connect(fd, raw, sizeof address) : bind(fd, raw, sizeof address), 0) << path;
  return fd;
}
int Connect(const std::string& path) { return RawSocket(path); }

// True when the server has closed its end: the end of the stream, or a
// reset when it closed without reading what we sent.
bool ClosedByServer(int fd) {
  char buffer[64];
  const ssize_t count = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  return count == 0 || (count < 0 && errno != EAGAIN);
}

TEST_F(InstanceTest, LocksExcludePerProfileAndPerOpenFile) {
  TInstanceLock first(Profile("a/nested")), second(Profile("a/nested")), other(Profile("b"));
  ASSERT_EQ(first.Acquire(), Lock::Acquired);  // creates the missing directories
  EXPECT_EQ(first.Acquire(), Lock::Acquired);
  EXPECT_EQ(second.Acquire(), Lock::Busy);  // same process, own open file: excluded
  EXPECT_EQ(other.Acquire(), Lock::Acquired);
  struct stat info;
  ASSERT_EQ(stat(first.LockFilePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(HandOverSocketPath(first.Directory()), HandOverSocketPath(other.Directory()));

  first.Release();
  EXPECT_EQ(second.Acquire(), Lock::Acquired);

  test::WriteWholeFile(Profile("file"), "x");
  TInstanceLock broken(Profile("file"));  // a profile that is not a directory
  EXPECT_EQ(broken.Acquire(), Lock::Failed);
}

TEST_F(InstanceTest, SocketPathIsShortPrivateAndFollowsTheCanonicalProfile) {
  TInstanceLock lock(Profile());
  ASSERT_EQ(lock.Acquire(), Lock::Acquired);
  const std::string inRuntime = HandOverSocketPath(lock.Directory());
  EXPECT_EQ(inRuntime.rfind(runtime_.Path() + "/brindle-", 0), 0u) << inRuntime;
  EXPECT_EQ(HandOverPlaceNote(HandOverPlace(lock.Directory())), "");
  ASSERT_EQ(symlink(lock.Directory().c_str(), Profile("link").c_str()), 0);
  EXPECT_EQ(HandOverSocketPath(Profile("link")), inRuntime);

  // Without a runtime folder of ours the place is a folder of the user's
  // own (no other user can take it first, as one could in /tmp), chosen by
  // the environment and the profile alone; a path too long for a socket
  // address takes the next folder, or the bare hash as the name.
  const std::string profile = std::filesystem::canonical(lock.Directory()).string();
  const std::string hash = inRuntime.substr(inRuntime.rfind('-') + 1, 16);
  std::string longRuntime = runtime_.Path();
  while (longRuntime.size() < 100) longRuntime += "/deeper-directory";
  ASSERT_TRUE(std::filesystem::create_directories(longRuntime));
  const std::string cache = home_.File("cache");
  std::string tightCache = home_.File("tight-");  // "<it>/brindle/<hash>" fills a socket address
  tightCache += std::string(sizeof(sockaddr_un::sun_path) - 1 - 17 - 8 - tightCache.size(), 'c');
  struct Case {
    const char* runtime;  // nullptr: unset
    std::string cache;    // "": unset
    std::string socket;
  };
  const Case cases[] = {
      {nullptr, cache, cache + "/brindle/brindle-" + hash + ".sock"},
      {nullptr, "", profile + "/channel/brindle-" + hash + ".sock"},
      {"relative", "relative", profile + "/channel/brindle-" + hash + ".sock"},
      {"/nonexistent", cache, cache + "/brindle/brindle-" + hash + ".sock"},
      {longRuntime.c_str(), cache, cache + "/brindle/brindle-" + hash + ".sock"},
      {nullptr, tightCache, tightCache + "/brindle/" + hash},
      {nullptr, tightCache + "c", profile + "/channel/brindle-" + hash + ".sock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.socket);
    env_.Set("XDG_RUNTIME_DIR", c.runtime ? std::optional<std::string>(c.runtime) : std::nullopt);
    env_.Set("XDG_CACHE_HOME", c.cache.empty() ? std::nullopt : std::optional<std::string>(c.cache));
    const THandOverPlace place = HandOverPlace(lock.Directory());
    EXPECT_EQ(place.SocketPath, c.socket);
    EXPECT_EQ(HandOverSocketPath(Profile("link")), c.socket);
    EXPECT_LT(place.SocketPath.size(), sizeof(sockaddr_un::sun_path));
    EXPECT_FALSE(place.InRuntimeFolder);
    EXPECT_NE(HandOverPlaceNote(place).find(place.Folder), std::string::npos);
    struct stat info;
    ASSERT_EQ(lstat(place.Folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
  }

  // Both starts meet there.
  unsetenv("XDG_RUNTIME_DIR");
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  EventLoop loop;
  THandOverServer server(&loop);
  ASSERT_TRUE(server.Listen(lock));
  server.OnHandOver = [](const THandOverRequest&) { return 1; };
  TInstanceLock second(Profile("link"));
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return StartOrHandOver(second, Text("http://h/a")); }), TInstanceStart::HandedOver);
}

TEST_F(InstanceTest, PrivateDirectoryRefusesWhatOthersCouldHavePrepared) {
  EXPECT_TRUE(EnsurePrivateDirectory(home_.File("fresh")));
  EXPECT_TRUE(EnsurePrivateDirectory(home_.File("fresh")));
  ASSERT_EQ(mkdir(home_.File("open").c_str(), 0755), 0);
  EXPECT_FALSE(EnsurePrivateDirectory(home_.File("open")));
  ASSERT_EQ(symlink(home_.File("fresh").c_str(), home_.File("link").c_str()), 0);
  EXPECT_FALSE(EnsurePrivateDirectory(home_.File("link")));
  test::WriteWholeFile(home_.File("file"), "");
  EXPECT_FALSE(EnsurePrivateDirectory(home_.File("file")));
}

struct RoundTripCase {
  THandOverRequest Request;
  int Answer;
};

TEST_F(InstanceTest, RequestsAndAnswersRoundTrip) {
  EventLoop loop;
  TInstanceLock lock(Profile());
  ASSERT_EQ(lock.Acquire(), Lock::Acquired);
  THandOverServer server(&loop);
  ASSERT_TRUE(server.Listen(lock));
  EXPECT_FALSE(server.Listen(TInstanceLock(Profile("other"))));  // a lock not held
  ASSERT_TRUE(server.Listen(lock));

  const RoundTripCase cases[] = {
      {Text("http://host/file.zip"), 1},
      {Text(""), 1},  // a start without arguments still hands over
      {Text("plain\r\nword\twith tab"), 0},
      {{"ftp://h/\xC3\xA9t\xC3\xA9.bin", "/home/u/Down\r\nloads", "na\nme \xE2\x82\xAC.bin", 8, true}, 7},
      {{"", "", "", 0, true}, -3},
      {{std::string(100000, 'u'), "", "", 999999, true}, 2},
      {{"https://h/get?id=1", "", "Setup.zip", 0, true, "https://h/page", "sid=a=b; t=\xC3\xA9"}, 1},
      {{"http://h/d.iso", "", "", 0, true, "", "", TChecksum{TDigestAlgorithm::Sha1, std::string(40, 'a')}}, 1},
  };
  for (const auto& [request, answer] : cases) {
    std::vector<THandOverRequest> seen;
    server.OnHandOver = [&, answer = answer](const THandOverRequest& received) {
      seen.push_back(received);
      return answer;
    };
    const auto got = WhileLoopRuns(loop, [&] { return HandOver(server.SocketPath(), request, 5000); });
    EXPECT_EQ(got, answer) << request.Url.substr(0, 40);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], request);
  }
  // A plain text ends at a NUL, as the C string it stands for; a structured
  // field with one is refused whole rather than cut into another name.
  THandOverRequest decoded;
  ASSERT_EQ(DecodeHandOverRequest(EncodeHandOverRequest(Text(std::string("http://h/a\0.exe", 15))), decoded),
            THandOverDecode::Complete);
  EXPECT_EQ(decoded.Url, "http://h/a");
  EXPECT_EQ(DecodeHandOverRequest(EncodeHandOverRequest({"u", "d", std::string("a.zip\0.exe", 10), 0, true}), decoded),
            THandOverDecode::Invalid);
  // Referrer and cookies become request lines: a line break in them is refused.
  EXPECT_EQ(DecodeHandOverRequest(EncodeHandOverRequest({"u", "", "", 0, true, "", "a=1\r\nX: y"}), decoded),
            THandOverDecode::Invalid);
  EXPECT_EQ(DecodeHandOverRequest(EncodeHandOverRequest({"u", "", "", 0, true, "http://h/\n", ""}), decoded),
            THandOverDecode::Invalid);
  // A checksum the receiver cannot read would be a check dropped.
  const THandOverRequest badChecksum{"u", "", "", 0, true, "", "", TChecksum{TDigestAlgorithm::Sha1, "00"}};
  EXPECT_EQ(DecodeHandOverRequest(EncodeHandOverRequest(badChecksum), decoded), THandOverDecode::Invalid);

  server.OnHandOver = nullptr;
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return HandOver(server.SocketPath(), Text("x"), 5000); }), 1);
  server.OnHandOver = [](const THandOverRequest&) -> int { throw std::runtime_error("handler"); };
  test::ErrorReports reports;
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return HandOver(server.SocketPath(), Text("x"), 5000); }), 1);
  EXPECT_EQ(reports.Lines(), std::vector<std::string>{"THandOverServer.OnHandOver: handler"});
}

TEST_F(InstanceTest, SecondStartHandsOverOrContinuesOnAnswerZero) {
  EventLoop loop;
  TInstanceLock first(Profile());
  ASSERT_EQ(StartOrHandOver(first, Text("ignored")), TInstanceStart::First);
  THandOverServer server(&loop);
  ASSERT_TRUE(server.Listen(first));
  int answer = 1;
  std::vector<std::string> urls;
  server.OnHandOver = [&](const THandOverRequest& request) {
    urls.push_back(request.Url);
    return answer;
  };

  TInstanceLock second(Profile());
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return StartOrHandOver(second, Text("http://h/a")); }), TInstanceStart::HandedOver);
  answer = 0;
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return StartOrHandOver(second, Text("http://h/b")); }), TInstanceStart::Further);
  EXPECT_FALSE(second.Held());
  EXPECT_EQ(urls, (std::vector<std::string>{"http://h/a", "http://h/b"}));
}

TEST_F(InstanceTest, SecondStartWaitsForAChannelThatAppearsLater) {
  EventLoop loop;
  TInstanceLock first(Profile()), second(Profile());
  ASSERT_EQ(first.Acquire(), Lock::Acquired);
  THandOverServer server(&loop);
  std::vector<std::string> urls;
  server.OnHandOver = [&](const THandOverRequest& request) {
    urls.push_back(request.Url);
    return 1;
  };
  std::atomic<int> looks{0};
  THandOverWait wait;
  wait.PollMs = 5;
  wait.Pause = [&](int64_t ms) {
    ++looks;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  // The first instance opens its channel only after the second has looked
  // for it three times.
  const auto start = WhileLoopRuns(
      loop, [&] { return StartOrHandOver(second, Text("http://h/late"), wait); },
      [&] {
        if (looks >= 3 && !server.Listening()) {
          ASSERT_TRUE(server.Listen(first));
        }
      });
  EXPECT_EQ(start, TInstanceStart::HandedOver);
  EXPECT_GE(looks, 3);
  EXPECT_EQ(urls, std::vector<std::string>{"http://h/late"});
}

TEST_F(InstanceTest, WaitEndsWithoutHandOverOrTakesOverFromAnInstanceThatEnded) {
  TInstanceLock first(Profile()), second(Profile());
  ASSERT_EQ(first.Acquire(), Lock::Acquired);
  ManualClock clock;
  const int64_t began = clock.MonotonicMs();
  int looks = 0;
  THandOverWait wait;
  wait.WaitClock = &clock;
  wait.Pause = [&](int64_t ms) {
    ++looks;
    clock.SetMonotonicMs(clock.MonotonicMs() + ms);
  };
  EXPECT_EQ(StartOrHandOver(second, Text("http://h/x"), wait), TInstanceStart::Ended);
  EXPECT_EQ(clock.MonotonicMs() - began, 5000);
  EXPECT_EQ(looks, 100);
  EXPECT_FALSE(second.Held());

  // A stale socket file of a dead instance is no channel either.
  const std::string path = HandOverSocketPath(first.Directory());
  close(RawSocket(path, false));
  looks = 0;
  wait.Pause = [&](int64_t ms) {
    if (++looks == 2) first.Release();  // the running instance ends meanwhile
    clock.SetMonotonicMs(clock.MonotonicMs() + ms);
  };
  EXPECT_EQ(StartOrHandOver(second, Text("http://h/x"), wait), TInstanceStart::First);
  EXPECT_TRUE(second.Held());
  EventLoop loop;
  THandOverServer server(&loop);
  EXPECT_TRUE(server.Listen(second));  // the stale file is replaced
  EXPECT_EQ(server.SocketPath(), path);
}

TEST_F(InstanceTest, HostilePeersAreDroppedAndTheChannelKeepsWorking) {
  ManualClock clock;
  EventLoop loop(clock);
  clock.Attach(loop);
  TInstanceLock lock(Profile());
  ASSERT_EQ(lock.Acquire(), Lock::Acquired);
  THandOverServer server(&loop);
  ASSERT_TRUE(server.Listen(lock));
  int handled = 0;
  server.OnHandOver = [&](const THandOverRequest&) { return ++handled; };
  const std::string valid = EncodeHandOverRequest(Text("http://h/f"));
  auto settle = [&] {
    for (int i = 0; i < 5; ++i) loop.RunOnce(2);
  };

  const std::string garbage[] = {
      "GET / HTTP/1.0\r\n\r\n",
      std::string("BHO1\xFF\xFF\xFF\xFF", 8),           // announces more than the limit
      std::string("BHO2\0\0\0\0", 8),                   // an unknown version
      std::string("BHO1\0\0\0\x03x=1", 11),             // a field that breaks off
      valid + "trailing",                                // more than one frame
  };
  for (const std::string& bytes : garbage) {
    const int fd = Connect(server.SocketPath());
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    settle();
    EXPECT_TRUE(ClosedByServer(fd)) << bytes;
    close(fd);
  }

  const int staller = Connect(server.SocketPath());
  ASSERT_EQ(send(staller, valid.data(), 10, MSG_NOSIGNAL), 10);
  const int quitter = Connect(server.SocketPath());
  close(quitter);  // connects and leaves without a word
  settle();
  EXPECT_FALSE(ClosedByServer(staller));
  clock.Advance(THandOverServer::kConnectionTimeoutMs);
  settle();
  EXPECT_TRUE(ClosedByServer(staller));
  close(staller);

  std::vector<int> crowd;
  for (size_t i = 0; i <= THandOverServer::kMaxConnections; ++i) crowd.push_back(Connect(server.SocketPath()));
  settle();
  EXPECT_TRUE(ClosedByServer(crowd.back()));
  EXPECT_FALSE(ClosedByServer(crowd.front()));
  for (int fd : crowd) close(fd);
  settle();

  server.SetAllowedUid(geteuid() + 1);
  const int foreign = Connect(server.SocketPath());
  ASSERT_EQ(send(foreign, valid.data(), valid.size(), MSG_NOSIGNAL), static_cast<ssize_t>(valid.size()));
  settle();
  EXPECT_TRUE(ClosedByServer(foreign));
  close(foreign);
  EXPECT_EQ(handled, 0);

  server.SetAllowedUid(geteuid());
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return HandOver(server.SocketPath(), Text("http://h/ok"), 5000); }), 1);
}

TEST_F(InstanceTest, ServerLetGoByItsHandlerRemovesOnlyItsOwnFile) {
  EventLoop loop;
  TInstanceLock lock(Profile());
  ASSERT_EQ(lock.Acquire(), Lock::Acquired);
  auto server = std::make_unique<THandOverServer>(&loop);
  ASSERT_TRUE(server->Listen(lock));
  const std::string path = server->SocketPath();
  server->OnHandOver = [&](const THandOverRequest&) {
    loop.DeleteLater(std::move(server));
    return 1;
  };
  EXPECT_EQ(WhileLoopRuns(loop, [&] { return HandOver(path, Text("x"), 2000); }), 1);
  EXPECT_FALSE(test::FileExists(path));

  // A file that is not a socket is not a dead instance's: left alone.
  test::WriteWholeFile(path, "keep");
  THandOverServer refused(&loop);
  EXPECT_FALSE(refused.Listen(lock));
  EXPECT_EQ(test::ReadWholeFile(path), "keep");
}

}  // namespace
}  // namespace brindle
