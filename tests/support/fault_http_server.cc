#include "support/fault_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/broken_pipe_signal.h"
#include "support/loopback_port.h"

namespace brindle::test {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

std::string ReasonFor(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    default: return "Status";
  }
}

std::string MakeHead(int status, const std::string& reason, const std::vector<std::string>& lines,
                     const char* version = "HTTP/1.0") {
  std::string head = std::string(version) + " " + std::to_string(status) + " " + reason + "\r\n";
  for (const std::string& line : lines) head += line + "\r\n";
  return head + "\r\n";
}

// Where the request head ends (after its blank line), or npos.
size_t HeadEnd(const std::string& in) {
  size_t crlf = in.find("\r\n\r\n");
  size_t lf = in.find("\n\n");
  if (crlf != std::string::npos) crlf += 4;
  if (lf != std::string::npos) lf += 2;
  return std::min(crlf, lf);
}

}  // namespace

std::vector<std::string> HttpRequest::Lines() const {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < Raw.size()) {
    size_t end = Raw.find('\n', pos);
    if (end == std::string::npos) end = Raw.size();
    std::string line = Raw.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
  std::vector<std::string> lines = Lines();
  for (size_t i = 1; i < lines.size(); ++i) {
    size_t colon = lines[i].find(':');
    if (colon == std::string::npos || !EqualsIgnoringCase(std::string_view(lines[i]).substr(0, colon), name))
      continue;
    size_t value = lines[i].find_first_not_of(' ', colon + 1);
    return value == std::string::npos ? std::string() : lines[i].substr(value);
  }
  return std::nullopt;
}

std::optional<std::pair<int64_t, int64_t>> HttpRequest::Range() const {
  std::optional<std::string> value = Header("Range");
  if (!value || value->rfind("bytes=", 0) != 0) return std::nullopt;
  size_t dash = value->find('-');
  if (dash == std::string::npos || dash == 6) return std::nullopt;
  try {
    int64_t first = std::stoll(value->substr(6, dash - 6));
    int64_t last = dash + 1 < value->size() ? std::stoll(value->substr(dash + 1)) : -1;
    return std::make_pair(first, last);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

HttpReply FileReply(const HttpRequest& request, const std::string& content, const FileReplyOptions& options) {
  const auto total = static_cast<int64_t>(content.size());
  std::optional<std::pair<int64_t, int64_t>> range = options.IgnoreRange ? std::nullopt : request.Range();
  std::vector<std::string> lines = {"Content-Type: application/octet-stream"};
  int status = 200;
  int64_t first = 0;
  int64_t last = total - 1;
  if (range) {
    if (range->first >= total) {
      return StatusReply(416, ReasonFor(416), "", {"Content-Range: bytes */" + std::to_string(total)});
    }
    status = 206;
    first = std::clamp<int64_t>(range->first + options.RangeShift, 0, total - 1);
    if (range->second >= 0) last = std::min(range->second, total - 1);
    if (options.RangeCap > 0) last = std::min(last, first + options.RangeCap - 1);
    lines.push_back("Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                    (options.NoLength ? std::string("*") : std::to_string(total)));
  } else if (options.AcceptRanges) {
    lines.push_back("Accept-Ranges: bytes");
  }
  HttpReply reply;
  reply.Body = content.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
  if (options.ChunkSize > 0) {
    lines.push_back("Transfer-Encoding: chunked");
    std::string chunked;
    char size[32];
    for (size_t pos = 0; pos < reply.Body.size(); pos += static_cast<size_t>(options.ChunkSize)) {
      const std::string chunk = reply.Body.substr(pos, static_cast<size_t>(options.ChunkSize));
      snprintf(size, sizeof size, "%zx", chunk.size());
      chunked += size + options.ChunkExtension + "\r\n" + chunk + "\r\n";
    }
    chunked += "0" + options.ChunkExtension + "\r\n";
    for (const std::string& trailer : options.Trailers) chunked += trailer + "\r\n";
    reply.Body = chunked + "\r\n";
  } else if (!options.NoLength) {
    lines.push_back("Content-Length: " + std::to_string(static_cast<int64_t>(reply.Body.size()) + options.LengthDelta));
  }
  lines.insert(lines.end(), options.ExtraHeaders.begin(), options.ExtraHeaders.end());
  reply.Head = MakeHead(status, ReasonFor(status), lines, options.ChunkSize > 0 ? "HTTP/1.1" : "HTTP/1.0");
  return reply;
}

HttpReply StatusReply(int status, const std::string& reason, const std::string& body,
                      const std::vector<std::string>& extraHeaders) {
  std::vector<std::string> lines = {"Content-Type: text/html", "Content-Length: " + std::to_string(body.size())};
  lines.insert(lines.end(), extraHeaders.begin(), extraHeaders.end());
  HttpReply reply;
  reply.Head = MakeHead(status, reason, lines);
  reply.Body = body;
  return reply;
}

HttpReply RedirectReply(int status, const std::string& location) {
  return StatusReply(status, ReasonFor(status), "<html>moved</html>", {"Location: " + location});
}

struct FaultHttpServer::Connection {
  int Fd = -1;
  EventLoop::WatchId Watch = 0;
  std::string In;
  bool Answered = false;
  std::string Out;          // head and body as they will go out
  size_t HeadSize = 0;
  size_t Sent = 0;
  std::vector<int64_t> StallAt;  // body offsets still ahead, ascending
  bool Stalled = false;
  SSL* Ssl = nullptr;
  bool Handshaking = false;
  bool CloseNotify = false;  // the answer went out whole: TLS is ended properly
  int64_t Rate = 0;         // bytes per second; 0: no limit
  int64_t StartMs = 0;      // when the answer began, by the loop's clock
  EventLoop::TimerId Wake = 0;  // the next send under the rate limit
};

FaultHttpServer::FaultHttpServer(EventLoop& loop) : loop_(loop) {
  listenFd_ = ListenOnLoopback(port_, "FaultHttpServer");
  listenWatch_ = loop_.AddWatch(listenFd_, EventLoop::kReadable, [this](unsigned) { OnListen(); },
                                "FaultHttpServer.Listen");
}

FaultHttpServer::~FaultHttpServer() {
  while (!connections_.empty()) Drop(connections_.begin()->first);
  loop_.RemoveWatch(listenWatch_);
  close(listenFd_);
  if (tls_) SSL_CTX_free(tls_);
}

std::string FaultHttpServer::Url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void FaultHttpServer::EnableTls(const std::string& certificateFile, const std::string& keyFile) {
  // A client that goes away while the answer is written must not end the test.
  IgnoreBrokenPipeSignal();
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context || SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    if (context) SSL_CTX_free(context);
    throw std::runtime_error("FaultHttpServer: cannot load " + certificateFile);
  }
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (tls_) SSL_CTX_free(tls_);
  tls_ = context;
}

int64_t FaultHttpServer::Read(Connection& c, char* buffer, size_t size) {
  if (!c.Ssl) {
    const ssize_t n = recv(c.Fd, buffer, size, 0);
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EINTR ? -1 : -2;
  }
  ERR_clear_error();
  const int n = SSL_read(c.Ssl, buffer, static_cast<int>(size));
  if (n > 0) return n;
  const int error = SSL_get_error(c.Ssl, n);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return -1;
  return error == SSL_ERROR_ZERO_RETURN ? 0 : -2;
}

void FaultHttpServer::AddFile(const std::string& path, std::string content) { files_[path] = std::move(content); }

HttpReply FaultHttpServer::Serve(const HttpRequest& request, const FileReplyOptions& options) const {
  auto file = files_.find(request.Target);
  if (file == files_.end()) return StatusReply(404, "Not Found", "<html>no such file</html>");
  return FileReply(request, file->second, options);
}

int FaultHttpServer::StalledConnections() const {
  return static_cast<int>(std::count_if(connections_.begin(), connections_.end(),
                                        [](const auto& entry) { return entry.second->Stalled; }));
}

void FaultHttpServer::Release() {
  std::vector<int> ids;
  for (auto& [id, c] : connections_) {
    if (!c->Stalled) continue;
    c->Stalled = false;
    if (!c->StallAt.empty()) c->StallAt.erase(c->StallAt.begin());
    ids.push_back(id);
  }
  for (int id : ids) Flush(id);
}

void FaultHttpServer::OnListen() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const int id = ++accepted_;
    auto c = std::make_unique<Connection>();
    c->Fd = fd;
    if (tls_) {
      c->Ssl = SSL_new(tls_);
      SSL_set_fd(c->Ssl, fd);
      SSL_set_accept_state(c->Ssl);
      c->Handshaking = true;
    }
    c->Watch = loop_.AddWatch(fd, EventLoop::kReadable, [this, id](unsigned events) { OnConnection(id, events); },
                              "FaultHttpServer.Connection");
    connections_[id] = std::move(c);
  }
}

void FaultHttpServer::OnConnection(int id, unsigned events) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  if (c.Handshaking) {
    ERR_clear_error();
    const int result = SSL_do_handshake(c.Ssl);
    if (result != 1) {
      const int error = SSL_get_error(c.Ssl, result);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        loop_.SetWatchEvents(c.Watch, error == SSL_ERROR_WANT_READ ? EventLoop::kReadable : EventLoop::kWritable);
        return;
      }
      return Drop(id);
    }
    c.Handshaking = false;
    loop_.SetWatchEvents(c.Watch, EventLoop::kReadable);
    events = EventLoop::kReadable;
  }
  // Plain text TLS already decrypted makes the socket no more readable.
  while ((events & EventLoop::kReadable) || (c.Ssl && !c.Answered && SSL_pending(c.Ssl) > 0)) {
    events &= ~EventLoop::kReadable;
    char buffer[4096];
    const int64_t n = Read(c, buffer, sizeof buffer);
    if (n == 0 || n == -2) return Drop(id);
    if (n > 0 && !c.Answered) {
      c.In.append(buffer, static_cast<size_t>(n));
      size_t end = HeadEnd(c.In);
      if (end == std::string::npos) return;
      HttpRequest request;
      request.Raw = c.In.substr(0, end);
      // A body announced by Content-Length is read whole before the answer.
      const size_t length = std::strtoull(request.Header("Content-Length").value_or("0").c_str(), nullptr, 10);
      if (c.In.size() - end < length) return;
      c.Answered = true;
      request.Body = c.In.substr(end, length);
      Answer(c, std::move(request));
      if (c.Out.empty() && c.StallAt.empty()) return Drop(id);
    }
    if (n < 0) break;
  }
  if (c.Answered) Flush(id);
}

void FaultHttpServer::Answer(Connection& c, HttpRequest request) {
  std::vector<std::string> lines = request.Lines();
  if (!lines.empty()) {
    size_t space = lines[0].find(' ');
    request.Method = lines[0].substr(0, space);
    if (space != std::string::npos) request.Target = lines[0].substr(space + 1, lines[0].find(' ', space + 1) - space - 1);
  }
  requests_.push_back(request);
  Handler handler;
  if (!scripts_.empty()) {
    handler = std::move(scripts_.front());
    scripts_.pop_front();
  } else {
    handler = handler_;
  }
  HttpReply reply = handler ? handler(request) : Serve(request);
  if (reply.CloseAtOnce) return;
  std::string body = std::move(reply.Body);
  const bool cut = reply.CloseAfter >= 0 && reply.CloseAfter < static_cast<int64_t>(body.size());
  if (cut) body.resize(static_cast<size_t>(reply.CloseAfter));
  c.CloseNotify = !reply.SkipCloseNotify && !cut;
  c.HeadSize = reply.Head.size();
  c.Out = reply.Head + body;
  c.StallAt = reply.StallAt;
  std::sort(c.StallAt.begin(), c.StallAt.end());
  c.Rate = rateLimit_;
  c.StartMs = loop_.GetClock().MonotonicMs();
}

void FaultHttpServer::Flush(int id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  if (c.Stalled) return;
  size_t limit = c.Out.size();
  if (!c.StallAt.empty()) limit = std::min(limit, c.HeadSize + static_cast<size_t>(std::max<int64_t>(0, c.StallAt[0])));
  bool capped = false;
  if (c.Rate > 0) {
    const int64_t allowed = c.Rate * (loop_.GetClock().MonotonicMs() - c.StartMs) / 1000 + 1;
    if (allowed < static_cast<int64_t>(limit)) {
      limit = static_cast<size_t>(std::max<int64_t>(allowed, static_cast<int64_t>(c.Sent)));
      capped = true;
    }
  }
  while (c.Sent < limit) {
    if (c.Ssl) {
      ERR_clear_error();
      const int n = SSL_write(c.Ssl, c.Out.data() + c.Sent, static_cast<int>(limit - c.Sent));
      if (n <= 0) {
        const int error = SSL_get_error(c.Ssl, n);
        if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) break;
        c.CloseNotify = false;
        return Drop(id);
      }
      c.Sent += static_cast<size_t>(n);
      continue;
    }
    ssize_t n = send(c.Fd, c.Out.data() + c.Sent, limit - c.Sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) break;
      return Drop(id);
    }
    c.Sent += static_cast<size_t>(n);
  }
  if (c.Sent < limit) {
    loop_.SetWatchEvents(c.Watch, EventLoop::kReadable | EventLoop::kWritable);
    return;
  }
  loop_.SetWatchEvents(c.Watch, EventLoop::kReadable);
  if (capped) {
    if (!c.Wake) c.Wake = loop_.AddTimer(10, 0, [this, id] {
      if (auto it = connections_.find(id); it != connections_.end()) it->second->Wake = 0;
      Flush(id);
    }, "FaultHttpServer.Rate");
    return;
  }
  if (!c.StallAt.empty()) {
    c.Stalled = true;  // keeps the connection open, reading only to notice a close
    return;
  }
  Drop(id);
}

void FaultHttpServer::Drop(int id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  loop_.RemoveWatch(c.Watch);
  if (c.Ssl) {
    // A whole answer ends TLS properly; a cut one just stops.
    if (c.CloseNotify && !c.Handshaking && c.Sent == c.Out.size()) SSL_shutdown(c.Ssl);
    SSL_free(c.Ssl);
  }
  loop_.CancelTimer(c.Wake);
  // Half-close first so that the peer reads everything sent before the end.
  shutdown(c.Fd, SHUT_WR);
  close(c.Fd);
  connections_.erase(it);
}

bool RunUntil(EventLoop& loop, const std::function<bool()>& done, int64_t limitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    loop.RunOnce(20);
  }
  return true;
}

}  // namespace brindle::test
