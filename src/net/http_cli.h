#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/event_depth.h"
#include "core/event_loop.h"

namespace brindle {

class TChunkedDecoder;
class TNameResolver;
class TReceiveBudget;
class TWSocket;

// Where THttpCli puts the body of an answer. The caller owns it and keeps it
// alive until OnRequestDone. The client writes straight from its receive
// buffer, in reads of up to 64 KiB, so a sink costs no further copy.
class TReceiveStream {
 public:
  virtual ~TReceiveStream() = default;
  // Appends size bytes. false when they could not all be stored (disk full
  // ...): the client then ends the request with kHttpErrWriteFailed.
  virtual bool Write(const char* data, size_t size) = 0;
};

// A receive stream in memory (small documents such as the version file).
class TMemoryReceiveStream final : public TReceiveStream {
 public:
  bool Write(const char* data, size_t size) override {
    Data.append(data, size);
    return true;
  }
  std::string Data;
};

enum class THttpState {
  httpReady,
  httpNotConnected,
  httpConnected,
  httpDnsLookup,
  httpDnsLookupDone,
  httpWaitingHeader,
  httpWaitingBody,
  httpAborting,
};

enum class THttpRequest { httpGET, httpPOST, httpHEAD };

// Error codes of OnRequestDone besides 0 (success) and the socket error
// codes (errno values, kSocketErr... of socket_errors.h).
inline constexpr int kHttpErrBusy = 1;        // thrown: a request is running
inline constexpr int kHttpErrNoData = 2;      // thrown: POST without SendStream
inline constexpr int kHttpErrAborted = 3;     // Abort
inline constexpr int kHttpErrOverflow = 4;    // a header line (or the whole header) too long
// Codes above the errno range for failures of the answer itself.
inline constexpr int kHttpErrInvalidUrl = 1001;           // URL refused before anything was sent
inline constexpr int kHttpErrTooManyRedirects = 1002;     // more than kHttpMaxRedirects
inline constexpr int kHttpErrUnsupportedLocation = 1003;  // redirect to another scheme, or https to http
inline constexpr int kHttpErrWriteFailed = 1004;          // RcvdStream refused bytes
inline constexpr int kHttpErrIncomplete = 1005;           // the server closed before the answer was complete
inline constexpr int kHttpErrUnsupportedCoding = 1006;    // a transfer coding other than a lone "chunked"
inline constexpr int kHttpErrMalformedAnswer = 1007;      // a Content-Length or chunk framing that makes no sense

inline constexpr int kHttpMaxRedirects = 20;

// Thrown synchronously by GetASync / PostASync / HeadASync.
class EHttpException : public std::runtime_error {
 public:
  EHttpException(const std::string& message, int errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// Fetches one document over HTTP/1.1 on one TWSocket, one request per
// connection ("Connection: close"), asynchronously: builds
// the request, parses the status line and header, follows redirections
// (at most kHttpMaxRedirects, to http or https, never from https to http),
// and writes the body to RcvdStream. One request at a time; the client is
// reused for the next one after OnRequestDone.
//
// https: the socket carries TLS (TTlsLayer) and the server's certificate
// must verify for the URL's host; a certificate that does not ends the
// request with kSocketErrCertificate, another handshake failure with
// kSocketErrTls or the socket's error (status 404, the reason phrase holds
// OpenSSL's text). OnSessionConnected comes once the TLS session is up.
// Through a proxy, the client asks for a tunnel first
// ("CONNECT host:port HTTP/1.1", with Proxy-Authorization when
// ProxyUsername is set) and speaks TLS to the server inside it; a proxy that
// refuses the tunnel gives the answer (its status, reason and body).
//
// Wire format: the request is sent in one piece, lines ended by CR LF, in
// this order (lines whose condition fails are left out):
//   <GET|POST|HEAD> <path, or the whole http URL through a proxy> HTTP/1.1
//   From: Sender / Accept: Accept / Referer: Reference /
//   Content-Type: ContentTypePost (POST) / User-Agent: Agent /
//   Host: <host>[:<port> when the URL names a port other than the scheme's] /
//   Connection: close / Pragma: no-cache (NoCache) / Content-Length: <n> (POST) /
//   If-Modified-Since: <RFC 1123 date> (ModifiedSince != 0) /
//   Authorization: Basic ... (Username) /
//   Proxy-Authorization: Basic ... (Proxy and ProxyUsername, http only) /
//   Cookie: Cookie / Range: bytes=<ContentRangeBegin>-<ContentRangeEnd>
//   and an empty line. A value holding CR or LF leaves its line out.
//
// The answer's body ends where Content-Length says (the connection is then
// closed by the client), at the last chunk and trailer section of a
// "Transfer-Encoding: chunked" body (decoded: only the chunks' data is
// handed on, and Content-Length is ignored), else when the server closes;
// a close before the length or the last chunk is kHttpErrIncomplete. Over
// https a body that ends with the connection must end with close_notify: a
// cut without it is kHttpErrIncomplete too. A HEAD answer, a
// Content-Length of 0, a 204/304 status and a followed redirection have
// no body; an interim 1xx answer (100 Continue) is skipped for the real one
// that follows. With a status of 400 or more the client closes right after
// handing on the body bytes that came with the header.
//
// Only bytes whose framing the client understands are handed on. An answer
// with a body whose framing it does not is refused after its header,
// without OnHeaderEnd and without a body byte, its status code kept: any
// transfer coding but a lone "chunked" (kHttpErrUnsupportedCoding, reason
// "Unsupported transfer coding: <codings>"), and Content-Length values that
// are not one decimal number (kHttpErrMalformedAnswer, "Malformed
// Content-Length: <values>"). Broken chunk framing ends the request there
// (kHttpErrMalformedAnswer, "Malformed chunked body: <why>").
//
// Events may start, abort or (through EventLoop::DeleteLater) destroy the
// client; OnRequestDone is always posted, never raised from inside the call
// or event that ended the request, and comes exactly once per started
// request.
class THttpCli {
 public:
  // nullptr: EventLoop::Current(), which must exist (std::logic_error).
  explicit THttpCli(EventLoop* loop = nullptr);
  ~THttpCli();
  THttpCli(const THttpCli&) = delete;
  THttpCli& operator=(const THttpCli&) = delete;

  // ---- Request properties (read when a request starts) ----
  std::string URL;                       // "http[s]://[user[:password]@]host[:port][/path]"
  std::string LocalAddr = "0.0.0.0";     // local address to bind
  std::string Proxy;                     // HTTP proxy host, "host[:port]"; non-empty: proxy form
  std::string ProxyPort;                 // used when Proxy names no port ("80" when both are empty)
  std::string ProxyUsername;
  std::string ProxyPassword;
  std::string Username;                  // server credentials (Basic); the URL's user replaces them
  std::string Password;
  std::string Sender;                    // "From: "
  std::string Agent = "Mozilla/3.0 (compatible)";
  std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  std::string Reference;                 // "Referer: "
  bool NoCache = false;                  // "Pragma: no-cache"
  TDateTime ModifiedSince = 0;           // local time; 0: no "If-Modified-Since: "
  std::string Cookie;                    // "Cookie: "
  std::string ContentTypePost = "application/x-www-form-urlencoded";
  // Request: the bounds of "Range: bytes=<begin>-<end>" (sent when either is
  // non-empty; both are cleared once the request is sent). Answer: the
  // bounds read from a "Content-Range: bytes <begin>-<end>/<total>" field.
  std::string ContentRangeBegin;
  std::string ContentRangeEnd;
  bool MultiThreaded = false;            // kept for compatibility; the client always runs on its loop

  TReceiveStream* RcvdStream = nullptr;  // not owned; may be nullptr (body dropped)
  const std::string* SendStream = nullptr;  // not owned; the body of a POST

  // The resolver the client's socket uses (default: CurrentNameResolver()
  // at construction).
  void SetResolver(std::shared_ptr<TNameResolver> resolver);
  // Limits what the client's socket reads (nullptr: no limit).
  void SetReceiveBudget(std::shared_ptr<TReceiveBudget> budget);

  // ---- Requests ----
  // Start a GET / POST / HEAD of URL and return at once. Throw
  // EHttpException "HTTP component is busy" (kHttpErrBusy) while a request
  // runs, and PostASync "HTTP component has nothing to post" (kHttpErrNoData)
  // without SendStream. A URL that is not http or https, has no host, or holds a
  // control character or a space is refused before anything is sent: status
  // 404, reason "Invalid URL", OnRequestDone(kHttpErrInvalidUrl).
  void GetASync();
  void PostASync();
  void HeadASync();
  // Ends the running request at once: state httpAborting, a running lookup
  // is cancelled, the connection closed, status 404, reason "Connection
  // aborted on request", then (posted) state httpReady and
  // OnRequestDone(kHttpErrAborted). Bytes already written to RcvdStream stay.
  // Harmless when idle or when the request has already ended.
  void Abort();

  // ---- State of the current (or last) request ----
  THttpState State() const { return state_; }
  THttpRequest RequestType() const { return requestType_; }
  // 0 until a status line was read. Failures before an answer: 404.
  int StatusCode() const { return statusCode_; }
  // The status line's text, or the failure: "can't resolve hostname to IP
  // address"; "<socket error description> (Error #<code>)" when the
  // connection failed; "Connection aborted on request"; "Invalid URL";
  // "Too many redirections (<location>)", "Redirection to an unsupported
  // location: <location>" and "Redirection from https to http refused:
  // <location>" for a redirection that is not followed (the
  // status code then stays the 3xx of that answer and Location() is set back
  // to URL, so the answer reads as a final one that failed); the refusals of
  // an answer's framing (above).
  const std::string& ReasonPhrase() const { return reasonPhrase_; }
  int64_t ContentLength() const { return contentLength_; }  // -1: none given, or a chunked body
  const std::string& ContentType() const { return contentType_; }  // lower case
  // The total of "Content-Range: bytes a-b/total"; -1 when absent or "*".
  int64_t ContentRangeTotal() const { return contentRangeTotal_; }
  const std::string& AcceptRanges() const { return acceptRanges_; }
  // URL at the start; the target of each followed redirection (with the
  // port when it is not the scheme's default), already in the OnHeaderEnd of the answer that
  // redirects; back to URL when a redirection is refused. Stays readable
  // after the request.
  const std::string& Location() const { return location_; }
  int RedirectCount() const { return redirectCount_; }
  // The header lines of the last answer (without line ends).
  const std::vector<std::string>& RcvdHeader() const { return rcvdHeader_; }
  // The header line just handled (valid in OnHeaderData).
  const std::string& LastResponse() const { return lastResponse_; }
  // Values of the "WWW-Authenticate" fields of the last answer.
  const std::vector<std::string>& AuthChallenges() const { return authChallenges_; }
  // Body bytes received for the last answer.
  int64_t RcvdCount() const { return rcvdCount_; }
  // OpenSSL's reason when TLS failed (a certificate's verify text); empty
  // otherwise.
  const std::string& TlsErrorText() const;
  // The code the request ended with (valid in and after OnRequestDone).
  int RequestDoneError() const { return requestDoneError_; }
  // The request has ended and its OnRequestDone is posted.
  bool Finishing() const { return finishing_; }

  // ---- Events, in the order one request raises them ----
  std::function<void()> OnSessionConnected;
  std::function<void()> OnRequestHeaderBegin;
  std::function<void(const std::string& line)> OnCommand;  // each request line, without line end
  std::function<void()> OnRequestHeaderEnd;
  std::function<void()> OnSendBegin;                        // POST body
  std::function<void(const char* data, size_t size)> OnSendData;
  std::function<void()> OnSendEnd;
  std::function<void()> OnHeaderBegin;
  std::function<void()> OnHeaderData;                       // after each header line (LastResponse)
  // Each "Set-Cookie" value; accept is true on entry and only informs.
  std::function<void(const std::string& cookie, bool& accept)> OnCookie;
  std::function<void()> OnHeaderEnd;
  std::function<void()> OnLocationChange;                   // a redirection is being followed
  std::function<void()> OnDocBegin;                         // before the first body chunk
  // Each body chunk, after it was written to RcvdStream.
  std::function<void(const char* data, size_t size)> OnDocData;
  std::function<void()> OnDocEnd;                           // the body arrived whole
  std::function<void(THttpRequest request, int error)> OnRequestDone;
  std::function<void()> OnStateChange;                      // after every change of State()

 private:
  struct Target;

  void Start(THttpRequest request);
  void SetState(THttpState state);
  // The request that raised an event is still the one running.
  bool Current(uint64_t request) const;
  void ForgetAnswer();
  void StartConnection();
  void SocketDnsLookupDone(int error);
  void SocketSessionConnected(int error);
  void SocketDataAvailable(int error);
  void SocketDataSent(int error);
  void SocketSessionClosed(int error);
  void SocketTlsDone(int error);
  void SendConnect();
  void ReadTunnelAnswer();
  void StartTls();
  void SessionReady();
  void HeaderBytesArrived();
  void SendRequest();
  void SendNextBodyChunk();
  bool ProcessHeader(size_t& consumed);
  bool HandleHeaderLine(const std::string& line);
  bool HeaderEnded();
  std::string JudgeFraming();
  bool DeliverBody(const char* data, size_t size);
  bool HandOn(const char* data, size_t size);
  bool DocumentEnded();
  void FollowRedirection();
  void CloseSocket();
  void Finish(int error);

  EventLoop* loop_;
  std::unique_ptr<TWSocket> socket_;
  std::unique_ptr<Target> target_;
  TEventDepth events_{"THttpCli"};
  uint64_t requestSerial_ = 0;  // changes when a request starts or ends
  bool finishing_ = false;      // OnRequestDone of this request is posted
  bool closingSocket_ = false;  // our own Close: its OnSessionClosed is no news

  THttpState state_ = THttpState::httpReady;
  THttpRequest requestType_ = THttpRequest::httpGET;
  int statusCode_ = 0;
  std::string reasonPhrase_;
  int64_t contentLength_ = -1;
  std::vector<std::string> contentLengths_;  // the values of the answer's Content-Length fields
  std::string transferCodings_;              // its Transfer-Encoding values, joined by ", "
  std::unique_ptr<TChunkedDecoder> chunked_;  // set while a chunked body is read
  std::string contentType_;
  int64_t contentRangeTotal_ = -1;
  std::string acceptRanges_;
  std::string location_;
  std::string pendingLocation_;  // where the answer being read redirects to
  int redirectCount_ = 0;
  std::vector<std::string> rcvdHeader_;
  size_t rcvdHeaderBytes_ = 0;
  std::string lastResponse_;
  std::vector<std::string> authChallenges_;
  int64_t rcvdCount_ = 0;
  int requestDoneError_ = 0;
  bool headerBegun_ = false;
  bool docBegun_ = false;
  size_t sendBodyOffset_ = 0;
  bool sendingBody_ = false;
  bool awaitingTunnel_ = false;  // CONNECT sent, the proxy's answer not read yet
  bool proxyAnswer_ = false;     // the proxy refused the tunnel: its answer is the answer

  std::unique_ptr<char[]> buffer_;
  size_t bufferUsed_ = 0;
};

}  // namespace brindle
