// fuzz-link: brindle_net
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "net/http_cli.h"
#include "net/name_resolver.h"
#include "net/socket_errors.h"

// Feeds the input as a server's answer to a THttpCli over loopback. The
// first byte chooses the request (GET, GET with a range, HEAD); the rest is
// sent, then the server side ends its stream; a redirection's further
// connections are closed unanswered, a redirection to a host name fails
// without asking any DNS server, and one left waiting elsewhere is aborted.
// Exactly one OnRequestDone must follow, and the body handed on must agree
// with the counts.

namespace {

// A redirection's host name must not reach the system's resolver: the lookup
// would wait on the network, and glibc's resolver buffers still in use by an
// unfinished lookup count as leaks between inputs.
class NoNames final : public brindle::TNameResolver {
 public:
  int Resolve(const std::string&, std::vector<std::string>&) override { return brindle::kSocketErrHostNotFound; }
};

int ListeningSocket(int& port) {
  static int fd = -1;
  static int boundPort = 0;
  if (fd < 0) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0)
      std::abort();
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    boundPort = ntohs(addr.sin_port);
  }
  port = boundPort;
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const bool resolverSet = (brindle::SetNameResolver(std::make_shared<NoNames>()), true);
  (void)resolverSet;
  int port = 0;
  int listenFd = ListeningSocket(port);
  uint8_t mode = data[0] % 3;
  const char* answer = reinterpret_cast<const char*>(data + 1);
  size_t answerSize = size - 1;

  // Connections left over from an earlier input are not this one's.
  for (int stale; (stale = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(stale);

  brindle::EventLoop loop;
  brindle::THttpCli cli(&loop);
  brindle::TMemoryReceiveStream body;
  cli.RcvdStream = &body;
  cli.URL = "http://127.0.0.1:" + std::to_string(port) + "/dir/a.cgi?x=1";
  int done = 0;
  int64_t handedOn = 0;
  cli.OnDocData = [&](const char*, size_t n) { handedOn += static_cast<int64_t>(n); };
  cli.OnRequestDone = [&](brindle::THttpRequest, int) { ++done; };
  if (mode == 1) cli.ContentRangeBegin = "100";
  if (mode == 2)
    cli.HeadASync();
  else
    cli.GetASync();

  int server = -1;
  for (int i = 0; i < 500 && server < 0 && done == 0; ++i) {
    loop.RunOnce(10);
    server = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  }
  if (server < 0) std::abort();

  size_t written = 0;
  bool shut = false;
  int redirectedWait = 0;
  for (int i = 0; i < 5000 && done == 0; ++i) {
    while (written < answerSize) {
      ssize_t n = ::send(server, answer + written, answerSize - written, MSG_NOSIGNAL);
      if (n <= 0) {
        if (n < 0 && errno != EAGAIN) written = answerSize;  // the client closed: stop
        break;
      }
      written += static_cast<size_t>(n);
    }
    if (written == answerSize && !shut) {
      ::shutdown(server, SHUT_WR);
      shut = true;
    }
    loop.RunOnce(10);
    // A followed redirection comes back here: end it without an answer.
    for (int more; (more = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(more);
    // One to another port or a numeric address elsewhere may wait on a
    // peer that never answers (the client leaves time-outs to its owner):
    // ended as its owner would.
    if (shut && cli.RedirectCount() > 0 && ++redirectedWait == 100) cli.Abort();
  }
  if (done != 1) std::abort();
  for (int i = 0; i < 3; ++i) loop.RunOnce(0);
  if (done != 1) std::abort();
  if (static_cast<int64_t>(body.Data.size()) != cli.RcvdCount() || handedOn != cli.RcvdCount()) std::abort();
  if (cli.ContentLength() >= 0 && cli.RcvdCount() > cli.ContentLength()) std::abort();
  if (cli.State() != brindle::THttpState::httpReady) std::abort();
  ::close(server);
  return 0;
}
