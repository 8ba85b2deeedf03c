#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_loop.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace brindle::test {

// One request as the server read it.
struct HttpRequest {
  std::string Raw;  // the exact bytes, request line to the blank line included
  std::string Method;
  std::string Target;  // as sent: path and query
  std::string Body;    // the bytes Content-Length announced (a POST's form)

  // The value of the first header field of that name (ASCII case ignored),
  // without the blanks after the ":".
  std::optional<std::string> Header(std::string_view name) const;
  // The lines without their line ends: request line first, no blank line.
  std::vector<std::string> Lines() const;
  // First and last byte of "Range: bytes=N-" (last -1) or "bytes=N-M".
  std::optional<std::pair<int64_t, int64_t>> Range() const;
};

// What the server sends for one request. After the last byte it closes the
// connection (HTTP/1.0: the body ends there).
struct HttpReply {
  bool CloseAtOnce = false;  // close without sending anything
  std::string Head{};        // sent as is: status line, header lines, blank line
  std::string Body{};
  int64_t CloseAfter = -1;  // close after this many body bytes; -1: the whole body
  // Body offsets at which sending stops until the test calls Release().
  std::vector<int64_t> StallAt{};
  // TLS: the whole answer ends without close_notify, as a cut one
  // (CloseAfter) always does.
  bool SkipCloseNotify = false;
};

// Ways to spoil the answer for a file.
struct FileReplyOptions {
  bool IgnoreRange = false;    // 200 with the whole file, whatever was asked
  int64_t RangeShift = 0;      // the 206 starts this many bytes off the asked start (and says so)
  int64_t RangeCap = 0;        // > 0: a 206 carries at most this many bytes (and says so)
  int64_t LengthDelta = 0;     // Content-Length states this many bytes more than sent
  bool NoLength = false;       // no Content-Length (nor Content-Range total)
  bool AcceptRanges = true;    // "Accept-Ranges: bytes" on a 200
  std::vector<std::string> ExtraHeaders{};  // whole lines, without line end
  // > 0: an HTTP/1.1 answer whose body goes "Transfer-Encoding: chunked" in
  // chunks of this size, without Content-Length.
  int64_t ChunkSize = 0;
  std::string ChunkExtension{};         // after each chunk size, e.g. ";name=value"
  std::vector<std::string> Trailers{};  // trailer field lines after the last chunk
};

// The usual answer for content at the request's path: 206 with Content-Range
// for "bytes=N-" and "bytes=N-M" (416 past the end), else 200.
HttpReply FileReply(const HttpRequest& request, const std::string& content,
                    const FileReplyOptions& options = {});
// A status line with a small HTML body.
HttpReply StatusReply(int status, const std::string& reason, const std::string& body = "",
                      const std::vector<std::string>& extraHeaders = {});
HttpReply RedirectReply(int status, const std::string& location);

// An HTTP/1.0 server on 127.0.0.1 (a free port) that lives on the caller's
// event loop, on plain non-blocking sockets, or with TLS once EnableTls was
// called. Each connection carries one request. The answer comes from the next queued script if there is one, else
// from the handler, else from the files (404 for an unknown path).
class FaultHttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;

  explicit FaultHttpServer(EventLoop& loop);
  ~FaultHttpServer();
  FaultHttpServer(const FaultHttpServer&) = delete;
  FaultHttpServer& operator=(const FaultHttpServer&) = delete;

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" + path ("https://" with TLS).
  std::string Url(const std::string& path) const;
  // Connections accepted from now on speak TLS with this certificate
  // (PEM files, e.g. from TestCertificates).
  void EnableTls(const std::string& certificateFile, const std::string& keyFile);

  void AddFile(const std::string& path, std::string content);
  // The answer for the next connection not yet served by an earlier script.
  void Script(Handler handler) { scripts_.push_back(std::move(handler)); }
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // The answer from the files, for handlers that spoil it only sometimes.
  HttpReply Serve(const HttpRequest& request, const FileReplyOptions& options = {}) const;
  // Every later answer from the files stops after this many body bytes until Release().
  void StallFilesAt(int64_t offset) {
    SetHandler([this, offset](const HttpRequest& r) {
      HttpReply reply = Serve(r);
      reply.StallAt = {offset};
      return reply;
    });
  }

  // Bytes per second each later answer is sent at (head included); 0: as
  // fast as the socket takes them.
  void SetRateLimit(int64_t bytesPerSecond) { rateLimit_ = bytesPerSecond; }

  const std::vector<HttpRequest>& Requests() const { return requests_; }
  int Accepted() const { return accepted_; }
  int OpenConnections() const { return static_cast<int>(connections_.size()); }
  int StalledConnections() const;
  // Lets every stalled connection send on, up to its next stall point.
  void Release();

 private:
  struct Connection;

  void OnListen();
  void OnConnection(int id, unsigned events);
  void Answer(Connection& c, HttpRequest request);
  // recv or SSL_read: the count, 0 at the end, -1 when nothing is there
  // yet, -2 when the connection broke.
  int64_t Read(Connection& c, char* buffer, size_t size);
  void Flush(int id);
  void Drop(int id);

  EventLoop& loop_;
  int listenFd_ = -1;
  EventLoop::WatchId listenWatch_ = 0;
  uint16_t port_ = 0;
  std::map<std::string, std::string> files_;
  std::deque<Handler> scripts_;
  Handler handler_;
  std::vector<HttpRequest> requests_;
  std::map<int, std::unique_ptr<Connection>> connections_;
  int accepted_ = 0;
  SSL_CTX* tls_ = nullptr;
  int64_t rateLimit_ = 0;
};

// Dispatches the loop until done() holds; false when it still does not after
// limitMs of real time (a safety net against hangs, not a time-out under test).
bool RunUntil(EventLoop& loop, const std::function<bool()>& done, int64_t limitMs = 10000);

}  // namespace brindle::test
