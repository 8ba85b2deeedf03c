#include "net/http_cli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>

#include "core/ascii_case.h"
#include "core/url.h"
#include "net/chunked_decoder.h"
#include "net/name_resolver.h"
#include "net/socket_errors.h"
#include "net/wsocket.h"

namespace brindle {

namespace {

// Large reads: the body path is one recv and one stream write per chunk.
constexpr size_t kBufferSize = 65536;
// Guards memory against a server that sends header lines without end.
constexpr size_t kMaxHeaderBytes = 256 * 1024;

constexpr auto npos = std::string::npos;


std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Plain decimal digits only; anything else (signs, overflow) is no number.
bool ParseInt64(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (result > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10) return false;
    result = result * 10 + (c - '0');
  }
  value = result;
  return true;
}

bool HasControlOrSpace(std::string_view text) {
  for (unsigned char c : text)
    if (c <= 0x20 || c == 0x7f) return true;
  return false;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != npos; }

std::string Base64(const std::string& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t n = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i + 1 == data.size()) {
    uint32_t n = uint8_t(data[i]) << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    uint32_t n = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string Rfc1123Date(TDateTime localTime) {
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t seconds = static_cast<time_t>(UnixMsFromDateTime(localTime) / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday % 7], utc.tm_mday,
           kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

// "scheme:" at the start of a reference, by the generic URI syntax.
std::string SchemeOf(std::string_view ref) {
  size_t i = 0;
  while (i < ref.size() && (std::isalnum(static_cast<unsigned char>(ref[i])) || ref[i] == '+' || ref[i] == '-' ||
                            ref[i] == '.'))
    ++i;
  if (i == 0 || i >= ref.size() || ref[i] != ':' || !std::isalpha(static_cast<unsigned char>(ref[0]))) return "";
  return LowerCaseAscii(ref.substr(0, i));
}

// Removes "." and ".." segments of a path (the query is left alone).
std::string RemoveDotSegments(const std::string& pathAndQuery) {
  size_t queryPos = pathAndQuery.find('?');
  std::string path = pathAndQuery.substr(0, queryPos);
  std::string query = queryPos == npos ? std::string() : pathAndQuery.substr(queryPos);
  if (path.find("/.") == npos) return pathAndQuery;
  std::vector<std::string> segments;
  size_t pos = 1;
  bool trailingSlash = false;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    std::string segment = path.substr(pos, next == npos ? npos : next - pos);
    bool last = next == npos;
    if (segment == ".") {
      trailingSlash = last;
    } else if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      trailingSlash = last;
    } else {
      segments.push_back(segment);
      trailingSlash = false;
    }
    if (last) break;
    pos = next + 1;
  }
  std::string out;
  for (const std::string& segment : segments) out += "/" + segment;
  if (out.empty() || trailingSlash) out += "/";
  return out + query;
}

}  // namespace

// Where a request goes, taken apart from an absolute http or https URL.
struct THttpCli::Target {
  std::string scheme = "http";  // "http" or "https", lower case
  std::string host;         // as written (IPv6 literal with brackets)
  std::string port = "80";  // decimal
  bool explicitPort = false;
  std::string path;         // path and query on the server, at least "/"
  std::string user;         // from the URL, percent-decoded
  std::string password;
  bool hasUser = false;

  bool Secure() const { return scheme == "https"; }
  const char* DefaultPort() const { return Secure() ? "443" : "80"; }
  // "host" or "host:port" when the port is not the scheme's default.
  std::string HostAndPort() const { return explicitPort && port != DefaultPort() ? host + ":" + port : host; }
  std::string AbsoluteUrl() const { return scheme + "://" + HostAndPort() + path; }

  // false for anything that is not a usable absolute http or https URL.
  bool Parse(const std::string& url) {
    if (url.empty() || HasControlOrSpace(url)) return false;
    size_t schemeEnd = url.find("://");
    if (schemeEnd == npos) return false;
    scheme = LowerCaseAscii(url.substr(0, schemeEnd));
    if (scheme != "http" && scheme != "https") return false;
    std::string rest = url.substr(schemeEnd + 3);
    size_t fragment = rest.find('#');
    if (fragment != npos) rest.erase(fragment);
    size_t authorityEnd = rest.find_first_of("/?");
    std::string authority = rest.substr(0, authorityEnd);
    path = authorityEnd == npos ? "/" : rest.substr(authorityEnd);
    if (path.front() == '?') path.insert(0, "/");
    size_t at = authority.rfind('@');
    hasUser = at != npos;
    user.clear();
    password.clear();
    if (hasUser) {
      std::string userInfo = authority.substr(0, at);
      size_t colon = userInfo.find(':');
      user = PercentDecode(userInfo.substr(0, colon));
      if (colon != npos) password = PercentDecode(userInfo.substr(colon + 1));
      authority.erase(0, at + 1);
    }
    std::string portText;
    if (!authority.empty() && authority.front() == '[') {
      size_t close = authority.find(']');
      if (close == npos) return false;
      host = authority.substr(0, close + 1);
      if (close + 1 < authority.size()) {
        if (authority[close + 1] != ':') return false;
        portText = authority.substr(close + 2);
        explicitPort = true;
      } else {
        explicitPort = false;
      }
    } else {
      size_t colon = authority.find(':');
      host = authority.substr(0, colon);
      explicitPort = colon != npos;
      if (explicitPort) portText = authority.substr(colon + 1);
    }
    if (host.empty() || (host.front() != '[' && host.find_first_of("[]") != npos)) return false;
    if (explicitPort && portText.empty()) explicitPort = false;
    if (explicitPort) {
      int64_t value = 0;
      if (!ParseInt64(portText, value) || value < 1 || value > 65535) return false;
      port = std::to_string(value);
    } else {
      port = DefaultPort();
    }
    return true;
  }
};

THttpCli::THttpCli(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()),
      target_(std::make_unique<Target>()),
      buffer_(new char[kBufferSize]) {
  if (!loop_) throw std::logic_error("THttpCli: no event loop on this thread");
  socket_ = std::make_unique<TWSocket>(loop_);
  socket_->OnDnsLookupDone = [this](int error) { SocketDnsLookupDone(error); };
  socket_->OnSessionConnected = [this](int error) { SocketSessionConnected(error); };
  socket_->OnDataAvailable = [this](int error) { SocketDataAvailable(error); };
  socket_->OnDataSent = [this](int error) { SocketDataSent(error); };
  socket_->OnSessionClosed = [this](int error) { SocketSessionClosed(error); };
  socket_->OnTlsDone = [this](int error) { SocketTlsDone(error); };
}

THttpCli::~THttpCli() {
  loop_->CancelPosts(this);
  // No events from a dying client.
  socket_->OnSessionClosed = nullptr;
  socket_->Close();
}

const std::string& THttpCli::TlsErrorText() const { return socket_->TlsErrorText(); }

void THttpCli::SetResolver(std::shared_ptr<TNameResolver> resolver) { socket_->SetResolver(std::move(resolver)); }

void THttpCli::SetReceiveBudget(std::shared_ptr<TReceiveBudget> budget) {
  socket_->SetReceiveBudget(std::move(budget));
}

void THttpCli::SetState(THttpState state) {
  if (state == state_) return;
  state_ = state;
  RaiseEvent(events_, OnStateChange);
}

// Whether the request that raised an event is still the one running, after
// the event's handler returned.
bool THttpCli::Current(uint64_t request) const {
  return request == requestSerial_ && !finishing_;
}

// ---- Starting ----

void THttpCli::GetASync() { Start(THttpRequest::httpGET); }
void THttpCli::PostASync() { Start(THttpRequest::httpPOST); }
void THttpCli::HeadASync() { Start(THttpRequest::httpHEAD); }

void THttpCli::Start(THttpRequest request) {
  if (state_ != THttpState::httpReady || finishing_) throw EHttpException("HTTP component is busy", kHttpErrBusy);
  if (request == THttpRequest::httpPOST && !SendStream)
    throw EHttpException("HTTP component has nothing to post", kHttpErrNoData);
  ++requestSerial_;
  requestType_ = request;
  redirectCount_ = 0;
  requestDoneError_ = 0;
  location_ = URL;
  statusCode_ = 0;
  reasonPhrase_.clear();
  rcvdHeader_.clear();
  rcvdCount_ = 0;
  contentType_.clear();
  contentLength_ = -1;

  uint64_t serial = requestSerial_;
  SetState(THttpState::httpNotConnected);
  if (!Current(serial)) return;

  // A control character or a blank could split the request line or add
  // header lines of the URL's choosing: such a URL is never sent.
  if (!target_->Parse(URL)) {
    statusCode_ = 404;
    reasonPhrase_ = "Invalid URL";
    Finish(kHttpErrInvalidUrl);
    return;
  }
  if (!target_->hasUser) {
    target_->user = Username;
    target_->password = Password;
  }
  StartConnection();
}

// What one answer's header said; an interim answer's is forgotten too.
void THttpCli::ForgetAnswer() {
  statusCode_ = 0;
  reasonPhrase_.clear();
  contentLength_ = -1;
  contentLengths_.clear();
  transferCodings_.clear();
  chunked_.reset();
  contentType_.clear();
  contentRangeTotal_ = -1;
  acceptRanges_.clear();
  authChallenges_.clear();
  rcvdHeader_.clear();
  rcvdHeaderBytes_ = 0;
  lastResponse_.clear();
  pendingLocation_.clear();
}

void THttpCli::StartConnection() {
  uint64_t serial = requestSerial_;
  ForgetAnswer();
  rcvdCount_ = 0;
  headerBegun_ = false;
  docBegun_ = false;
  sendingBody_ = false;
  bufferUsed_ = 0;
  awaitingTunnel_ = false;
  proxyAnswer_ = false;
  SetState(THttpState::httpDnsLookup);
  if (!Current(serial)) return;

  std::string host = target_->host;
  if (!Proxy.empty()) {
    std::string proxy = Proxy;
    if (StartsWithIgnoringCase(proxy, "http://")) proxy.erase(0, 7);
    while (!proxy.empty() && proxy.back() == '/') proxy.pop_back();
    host = proxy;
    size_t colon = proxy.rfind(':');
    if (colon != npos && proxy.find(']', colon) == npos) host = proxy.substr(0, colon);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  try {
    socket_->DnsLookup(host);
  } catch (const ESocketException& e) {
    statusCode_ = 404;
    reasonPhrase_ = "can't resolve hostname to IP address";
    Finish(e.ErrorCode != 0 ? e.ErrorCode : kSocketErrHostNotFound);
  }
}

void THttpCli::SocketDnsLookupDone(int error) {
  if (state_ != THttpState::httpDnsLookup || finishing_) return;
  if (error != 0) {
    statusCode_ = 404;
    reasonPhrase_ = "can't resolve hostname to IP address";
    Finish(error);
    return;
  }
  uint64_t serial = requestSerial_;
  SetState(THttpState::httpDnsLookupDone);
  if (!Current(serial)) return;

  std::string port = target_->port;
  if (!Proxy.empty()) {
    std::string proxy = Proxy;
    if (StartsWithIgnoringCase(proxy, "http://")) proxy.erase(0, 7);
    while (!proxy.empty() && proxy.back() == '/') proxy.pop_back();
    size_t colon = proxy.rfind(':');
    if (colon != npos && proxy.find(']', colon) == npos)
      port = proxy.substr(colon + 1);
    else
      port = ProxyPort.empty() ? "80" : ProxyPort;
  }
  socket_->Addr = socket_->DnsResult();
  socket_->Port = port;
  socket_->LocalAddr = LocalAddr;
  try {
    socket_->Connect(socket_->DnsResults());
  } catch (const ESocketException& e) {
    int code = e.ErrorCode != 0 ? e.ErrorCode : EINVAL;
    statusCode_ = 404;
    reasonPhrase_ = e.ErrorCode != 0 ? SocketErrorDesc(code) + " (Error #" + std::to_string(code) + ")" : e.what();
    Finish(code);
  }
}

void THttpCli::SocketSessionConnected(int error) {
  if (finishing_ || state_ != THttpState::httpDnsLookupDone) return;
  if (error != 0) {
    statusCode_ = 404;
    reasonPhrase_ = SocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")";
    Finish(error);
    return;
  }
  if (!target_->Secure()) {
    SessionReady();
  } else if (Proxy.empty()) {
    StartTls();
  } else {
    SendConnect();
  }
}

// Through a proxy, https travels in a tunnel the proxy opens to the server;
// only the proxy sees this request (and the proxy's credentials).
void THttpCli::SendConnect() {
  awaitingTunnel_ = true;
  bufferUsed_ = 0;
  const std::string authority = target_->host + ":" + target_->port;
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (!Agent.empty() && !HasLineBreak(Agent)) request += "User-Agent: " + Agent + "\r\n";
  if (!ProxyUsername.empty())
    request += "Proxy-Authorization: Basic " + Base64(ProxyUsername + ":" + ProxyPassword) + "\r\n";
  socket_->SendStr(request + "\r\n");
}

// The proxy's answer to CONNECT. A 2xx opens the tunnel; anything else is
// the answer to the request, as a plain proxy's refusal would be.
void THttpCli::ReadTunnelAnswer() {
  const int64_t n = socket_->Receive(buffer_.get() + bufferUsed_, kBufferSize - bufferUsed_);
  if (n <= 0) return;
  bufferUsed_ += static_cast<size_t>(n);
  const std::string_view head(buffer_.get(), bufferUsed_);
  if (head.find("\r\n\r\n") == npos && head.find("\n\n") == npos) {
    if (bufferUsed_ == kBufferSize) {
      reasonPhrase_ = "HTTP header too long";
      Finish(kHttpErrOverflow);
    }
    return;
  }
  awaitingTunnel_ = false;
  const bool opened = (head.starts_with("HTTP/1.0 2") || head.starts_with("HTTP/1.1 2")) && head.size() > 12 &&
                      std::isdigit(static_cast<unsigned char>(head[10])) &&
                      std::isdigit(static_cast<unsigned char>(head[11]));
  if (opened) {
    // The server speaks first inside the tunnel only after the handshake:
    // nothing else can have come yet.
    bufferUsed_ = 0;
    StartTls();
    return;
  }
  proxyAnswer_ = true;
  uint64_t serial = requestSerial_;
  SessionReady();
  if (!Current(serial) || state_ != THttpState::httpWaitingHeader) return;
  HeaderBytesArrived();
}

void THttpCli::StartTls() {
  try {
    socket_->StartTls(target_->host);
  } catch (const ESocketException& e) {
    statusCode_ = 404;
    reasonPhrase_ = e.what();
    Finish(kSocketErrTls);
  }
}

void THttpCli::SocketTlsDone(int error) {
  if (finishing_ || state_ != THttpState::httpDnsLookupDone) return;
  if (error != 0) {
    statusCode_ = 404;
    const std::string why = socket_->TlsErrorText();
    reasonPhrase_ = SocketErrorDesc(error) + (why.empty() ? std::string() : ": " + why);
    Finish(error);
    return;
  }
  SessionReady();
}

void THttpCli::SessionReady() {
  uint64_t serial = requestSerial_;
  SetState(THttpState::httpConnected);
  if (!Current(serial)) return;
  RaiseEvent(events_, OnSessionConnected);
  if (!Current(serial)) return;
  SetState(THttpState::httpWaitingHeader);
  if (!Current(serial)) return;
  // The proxy refused the tunnel: its answer is already here.
  if (proxyAnswer_) return;
  SendRequest();
}

// ---- Sending ----

void THttpCli::SendRequest() {
  uint64_t serial = requestSerial_;
  RaiseEvent(events_, OnRequestHeaderBegin);
  if (!Current(serial)) return;

  std::string request;
  request.reserve(512);
  bool ok = true;
  auto put = [&](const std::string& line) {
    if (!ok) return;
    RaiseEvent(events_, OnCommand, line);
    if (!Current(serial)) {
      ok = false;
      return;
    }
    request += line;
    request += "\r\n";
  };
  // A caller's value holding a line break would add header lines of its
  // own: such a line is left out.
  auto header = [&](const char* name, const std::string& value) {
    if (!value.empty() && !HasLineBreak(value)) put(name + value);
  };

  const char* method = requestType_ == THttpRequest::httpPOST   ? "POST"
                       : requestType_ == THttpRequest::httpHEAD ? "HEAD"
                                                                : "GET";
  // Inside a tunnel the server is asked directly.
  const bool viaProxy = !Proxy.empty() && !target_->Secure();
  std::string path = viaProxy ? target_->AbsoluteUrl() : target_->path;
  // HTTP/1.1: some servers honour Range only in it. One request per
  // connection all the same.
  put(std::string(method) + " " + path + " HTTP/1.1");
  header("From: ", Sender);
  header("Accept: ", Accept);
  header("Referer: ", Reference);
  if (requestType_ == THttpRequest::httpPOST) header("Content-Type: ", ContentTypePost);
  header("User-Agent: ", Agent);
  put("Host: " + target_->HostAndPort());
  put("Connection: close");
  if (NoCache) put("Pragma: no-cache");
  if (requestType_ == THttpRequest::httpPOST) put("Content-Length: " + std::to_string(SendStream->size()));
  if (ModifiedSince != 0) put("If-Modified-Since: " + Rfc1123Date(ModifiedSince));
  if (!target_->user.empty()) put("Authorization: Basic " + Base64(target_->user + ":" + target_->password));
  if (viaProxy && !ProxyUsername.empty())
    put("Proxy-Authorization: Basic " + Base64(ProxyUsername + ":" + ProxyPassword));
  header("Cookie: ", Cookie);
  if ((!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) && !HasLineBreak(ContentRangeBegin) &&
      !HasLineBreak(ContentRangeEnd))
    put("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
  if (!ok) return;
  RaiseEvent(events_, OnRequestHeaderEnd);
  if (!Current(serial)) return;
  request += "\r\n";
  // Only the request carries the range: a followed redirection asks for
  // the whole document, and the fields now hold the answer's bounds.
  ContentRangeBegin.clear();
  ContentRangeEnd.clear();
  socket_->SendStr(request);

  if (requestType_ != THttpRequest::httpPOST) return;
  sendingBody_ = true;
  sendBodyOffset_ = 0;
  RaiseEvent(events_, OnSendBegin);
  if (!Current(serial)) return;
  SendNextBodyChunk();
}

// The body goes out in slices as the socket drains, so a large one is not
// copied into the socket's queue at once.
void THttpCli::SendNextBodyChunk() {
  const std::string& body = *SendStream;
  if (sendBodyOffset_ >= body.size()) {
    sendingBody_ = false;
    RaiseEvent(events_, OnSendEnd);
    return;
  }
  size_t size = std::min(kBufferSize, body.size() - sendBodyOffset_);
  const char* data = body.data() + sendBodyOffset_;
  sendBodyOffset_ += size;
  socket_->Send(data, size);
  RaiseEvent(events_, OnSendData, data, size);
}

void THttpCli::SocketDataSent(int) {
  if (finishing_ || !sendingBody_ || !SendStream) return;
  SendNextBodyChunk();
}

// ---- Receiving ----

void THttpCli::SocketDataAvailable(int) {
  if (finishing_) return;
  if (awaitingTunnel_) {
    ReadTunnelAnswer();
    return;
  }
  if (state_ == THttpState::httpWaitingHeader) {
    int64_t n = socket_->Receive(buffer_.get() + bufferUsed_, kBufferSize - bufferUsed_);
    if (n <= 0) return;  // the end of the stream comes as OnSessionClosed
    bufferUsed_ += static_cast<size_t>(n);
    HeaderBytesArrived();
    return;
  }
  if (state_ == THttpState::httpWaitingBody) {
    int64_t n = socket_->Receive(buffer_.get(), kBufferSize);
    if (n <= 0) return;
    DeliverBody(buffer_.get(), static_cast<size_t>(n));
    return;
  }
  // Bytes before the request was sent (or in another state) are not an
  // answer to it; the socket keeps them until the header is awaited.
}

void THttpCli::HeaderBytesArrived() {
  size_t consumed = 0;
  if (!ProcessHeader(consumed)) return;
  if (state_ != THttpState::httpWaitingHeader) return;
  if (consumed > 0) {
    std::memmove(buffer_.get(), buffer_.get() + consumed, bufferUsed_ - consumed);
    bufferUsed_ -= consumed;
  }
  if (bufferUsed_ == kBufferSize) {
    reasonPhrase_ = "HTTP line too long";
    Finish(kHttpErrOverflow);
  }
}

// Cuts the buffered bytes into header lines and handles them. Returns false
// when the request ended or changed under an event; consumed tells how much
// of the buffer was used up while still waiting for the header.
bool THttpCli::ProcessHeader(size_t& consumed) {
  uint64_t serial = requestSerial_;
  char* buffer = buffer_.get();
  size_t pos = 0;
  while (state_ == THttpState::httpWaitingHeader) {
    const char* newline = static_cast<const char*>(std::memchr(buffer + pos, '\n', bufferUsed_ - pos));
    if (!newline) break;
    size_t lineStart = pos;
    size_t lineEnd = static_cast<size_t>(newline - buffer);
    pos = lineEnd + 1;
    if (lineEnd > lineStart && buffer[lineEnd - 1] == '\r') --lineEnd;
    std::string line(buffer + lineStart, lineEnd - lineStart);

    if (!headerBegun_) {
      headerBegun_ = true;
      RaiseEvent(events_, OnHeaderBegin);
      if (!Current(serial)) return false;
      // No header at all: the server sent the document right away.
      if (StartsWithIgnoringCase(line, "<HTML>")) {
        if (contentType_.empty()) contentType_ = "text/html";
        SetState(THttpState::httpWaitingBody);
        if (!Current(serial)) return false;
        RaiseEvent(events_, OnHeaderEnd);
        if (!Current(serial)) return false;
        return DeliverBody(buffer + lineStart, bufferUsed_ - lineStart);
      }
    }

    if (line.empty()) {
      // Some servers put an empty line before a Content-Range field.
      if (StartsWithIgnoringCase(std::string_view(buffer + pos, bufferUsed_ - pos), "content-range:")) continue;
      if (statusCode_ >= 100 && statusCode_ < 200) {
        // An interim answer (100 Continue): the real one follows.
        ForgetAnswer();
        headerBegun_ = false;
        continue;
      }
      consumed = pos;
      if (!HeaderEnded()) return false;
      if (state_ != THttpState::httpWaitingBody) return false;
      if (pos < bufferUsed_ && !DeliverBody(buffer + pos, bufferUsed_ - pos)) return false;
      if (statusCode_ >= 400) {
        // An error page is not the document: don't wait for it.
        Finish(0);
        return false;
      }
      return true;
    }
    if (!HandleHeaderLine(line)) return false;
  }
  consumed = pos;
  return true;
}

bool THttpCli::HandleHeaderLine(const std::string& line) {
  uint64_t serial = requestSerial_;
  rcvdHeaderBytes_ += line.size() + 2;
  if (rcvdHeaderBytes_ > kMaxHeaderBytes) {
    reasonPhrase_ = "HTTP header too long";
    Finish(kHttpErrOverflow);
    return false;
  }
  rcvdHeader_.push_back(line);
  lastResponse_ = line;

  if (line.starts_with("HTTP/1.0") || line.starts_with("HTTP/1.1")) {
    int code = 0;
    bool digits = line.size() >= 12;
    for (size_t i = 9; digits && i < 12; ++i) {
      if (line[i] < '0' || line[i] > '9') digits = false;
      else code = code * 10 + (line[i] - '0');
    }
    statusCode_ = digits ? code : 0;
    reasonPhrase_ = line.size() > 13 ? line.substr(13) : std::string();
  } else if (size_t colon = line.find(':'); colon != npos) {
    std::string name = LowerCaseAscii(TrimBlanks(std::string_view(line).substr(0, colon)));
    std::string_view value = TrimBlanks(std::string_view(line).substr(colon + 1));
    if (name == "location") {
      pendingLocation_ = std::string(value);
    } else if (name == "content-length") {
      contentLengths_.emplace_back(value);
    } else if (name == "transfer-encoding") {
      if (!value.empty()) transferCodings_ += (transferCodings_.empty() ? "" : ", ") + std::string(value);
    } else if (name == "content-range") {
      // "bytes <begin>-<end>/<total>"
      std::string_view range = value;
      if (StartsWithIgnoringCase(range, "bytes")) range = TrimBlanks(range.substr(5));
      size_t dash = range.find('-');
      size_t slash = range.find('/');
      ContentRangeBegin = std::string(TrimBlanks(range.substr(0, dash)));
      ContentRangeEnd.clear();
      if (dash != npos)
        ContentRangeEnd =
            std::string(TrimBlanks(range.substr(dash + 1, slash == npos || slash < dash ? npos : slash - dash - 1)));
      contentRangeTotal_ = -1;
      int64_t total = 0;
      if (slash != npos && ParseInt64(TrimBlanks(range.substr(slash + 1)), total)) contentRangeTotal_ = total;
    } else if (name == "accept-ranges") {
      acceptRanges_ = std::string(value);
    } else if (name == "content-type") {
      contentType_ = LowerCaseAscii(value);
    } else if (name == "www-authenticate") {
      authChallenges_.emplace_back(value);
    } else if (name == "set-cookie") {
      bool accept = true;
      RaiseEvent(events_, OnCookie, std::string(value), accept);
      if (!Current(serial)) return false;
    }
  }
  RaiseEvent(events_, OnHeaderData);
  return Current(serial);
}

// The empty line that ends the header. Returns false when the request ended
// or changed.
bool THttpCli::HeaderEnded() {
  uint64_t serial = requestSerial_;
  const std::string refusal = JudgeFraming();
  // A proxy's refusal of a tunnel sends nobody elsewhere.
  bool redirection = statusCode_ >= 300 && statusCode_ < 400 && !pendingLocation_.empty() && !proxyAnswer_;
  if (redirection) {
    std::string raw = pendingLocation_;
    std::string absolute;
    // Blanks are common in careless Location values; they are escaped.
    std::string value;
    for (char c : raw) value += c == ' ' ? std::string("%20") : std::string(1, c);
    std::string scheme = SchemeOf(value);
    bool usable = !HasControlOrSpace(value);
    bool downgrade = false;
    const std::string& here = target_->scheme;
    if (usable && value.starts_with("//")) {
      absolute = here + ":" + value;
    } else if (usable && !scheme.empty()) {
      usable = scheme == "http" || scheme == "https";
      // What was asked for securely is never fetched in the clear.
      downgrade = usable && target_->Secure() && scheme == "http";
      absolute = value;
    } else if (usable && value.starts_with("/")) {
      absolute = here + "://" + target_->HostAndPort() + value;
    } else if (usable) {
      std::string base = target_->path;
      size_t query = base.find('?');
      if (value.starts_with("?")) {
        base = base.substr(0, query);
      } else {
        base = base.substr(0, query);
        base.erase(base.rfind('/') + 1);
      }
      absolute = here + "://" + target_->HostAndPort() + base + value;
    }
    Target next;
    if (usable && !next.Parse(absolute)) usable = false;
    int error = 0;
    std::string shown;
    for (char c : raw) shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    if (downgrade) {
      reasonPhrase_ = "Redirection from https to http refused: " + shown;
      error = kHttpErrUnsupportedLocation;
    } else if (!usable) {
      reasonPhrase_ = "Redirection to an unsupported location: " + shown;
      error = kHttpErrUnsupportedLocation;
    } else if (redirectCount_ >= kHttpMaxRedirects) {
      reasonPhrase_ = "Too many redirections (" + value + ")";
      error = kHttpErrTooManyRedirects;
    }
    if (error != 0) {
      // Back to URL, so that a caller comparing the two sees a final answer
      // (and fails on its status) instead of chasing the chain again.
      location_ = URL;
      RaiseEvent(events_, OnHeaderEnd);
      if (!Current(serial)) return false;
      Finish(error);
      return false;
    }
    next.path = RemoveDotSegments(next.path);
    location_ = next.hasUser ? absolute : next.AbsoluteUrl();
    RaiseEvent(events_, OnHeaderEnd);
    if (!Current(serial)) return false;
    CloseSocket();
    // Credentials go only to the server they were given for.
    bool sameServer = next.scheme == target_->scheme && next.host == target_->host && next.port == target_->port;
    if (!next.hasUser && sameServer) {
      next.user = target_->user;
      next.password = target_->password;
    }
    // So do the caller's cookies and referrer: a redirection elsewhere
    // loses them for the rest of the request.
    if (!sameServer) {
      Cookie.clear();
      Reference.clear();
    }
    *target_ = next;
    FollowRedirection();
    return false;
  }

  const bool noBody = requestType_ == THttpRequest::httpHEAD || statusCode_ == 204 || statusCode_ == 304 ||
                      (statusCode_ >= 100 && statusCode_ < 200);
  if (!noBody && !refusal.empty()) {
    reasonPhrase_ = refusal;
    Finish(transferCodings_.empty() ? kHttpErrMalformedAnswer : kHttpErrUnsupportedCoding);
    return false;
  }
  if (noBody || contentLength_ == 0) {
    RaiseEvent(events_, OnHeaderEnd);
    if (!Current(serial)) return false;
    Finish(0);
    return false;
  }
  SetState(THttpState::httpWaitingBody);
  if (!Current(serial)) return false;
  RaiseEvent(events_, OnHeaderEnd);
  return Current(serial);
}

// Sets how the body ends (contentLength_, chunked_) from the framing fields.
// Returns why the client cannot read such a body, or "".
std::string THttpCli::JudgeFraming() {
  contentLength_ = -1;
  if (!transferCodings_.empty()) {
    // Any coding but chunking would hand on bytes that are not the file's;
    // a transfer coding overrides Content-Length.
    if (!SameTextIgnoringCase(transferCodings_, "chunked")) return "Unsupported transfer coding: " + transferCodings_;
    chunked_ = std::make_unique<TChunkedDecoder>();
    return "";
  }
  if (contentLengths_.empty()) return "";
  // Repeated values, also as a list, are fine as long as they agree.
  std::string values;
  for (size_t i = 0; i < contentLengths_.size(); ++i) values += (i > 0 ? ", " : "") + contentLengths_[i];
  int64_t length = -1;
  for (size_t start = 0;;) {
    const size_t comma = values.find(',', start);
    int64_t value = 0;
    if (!ParseInt64(TrimBlanks(std::string_view(values).substr(start, comma - start)), value) ||
        (length >= 0 && value != length))
      return "Malformed Content-Length: " + values;
    length = value;
    if (comma == npos) break;
    start = comma + 1;
  }
  contentLength_ = length;
  return "";
}

void THttpCli::FollowRedirection() {
  uint64_t serial = requestSerial_;
  ++redirectCount_;
  if (requestType_ == THttpRequest::httpPOST) requestType_ = THttpRequest::httpGET;
  rcvdHeader_.clear();
  RaiseEvent(events_, OnLocationChange);
  if (!Current(serial)) return;
  StartConnection();
}

// Takes body bytes as they came over the connection. Returns false when the
// request ended or changed.
bool THttpCli::DeliverBody(const char* data, size_t size) {
  if (chunked_) {
    while (size > 0 && chunked_->State() == TChunkedState::NeedMore) {
      std::string_view piece;
      const size_t used = chunked_->Decode(data, size, piece);
      data += used;
      size -= used;
      if (!HandOn(piece.data(), piece.size())) return false;
    }
    if (chunked_->State() == TChunkedState::Complete) return DocumentEnded();
    if (chunked_->State() == TChunkedState::Malformed) {
      reasonPhrase_ = "Malformed chunked body: " + std::string(chunked_->Error());
      Finish(kHttpErrMalformedAnswer);
      return false;
    }
    return true;
  }
  // Bytes past the announced length are not the document's.
  if (contentLength_ >= 0 && static_cast<int64_t>(size) > contentLength_ - rcvdCount_)
    size = static_cast<size_t>(contentLength_ - rcvdCount_);
  if (!HandOn(data, size)) return false;
  if (contentLength_ >= 0 && rcvdCount_ >= contentLength_) return DocumentEnded();
  return true;
}

// Hands bytes of the document on. Returns false when the request ended or
// changed.
bool THttpCli::HandOn(const char* data, size_t size) {
  if (size == 0) return true;
  uint64_t serial = requestSerial_;
  if (!docBegun_) {
    docBegun_ = true;
    RaiseEvent(events_, OnDocBegin);
    if (!Current(serial)) return false;
  }
  rcvdCount_ += static_cast<int64_t>(size);
  if (RcvdStream && !RcvdStream->Write(data, size)) {
    Finish(kHttpErrWriteFailed);
    return false;
  }
  RaiseEvent(events_, OnDocData, data, size);
  return Current(serial);
}

// The body is whole before the connection ends: the request is done, even
// when the server would keep the connection open. Returns false.
bool THttpCli::DocumentEnded() {
  uint64_t serial = requestSerial_;
  RaiseEvent(events_, OnDocEnd);
  if (!Current(serial)) return false;
  Finish(0);
  return false;
}

// ---- Ending ----

void THttpCli::SocketSessionClosed(int error) {
  if (finishing_ || closingSocket_) return;
  uint64_t serial = requestSerial_;
  switch (state_) {
    case THttpState::httpWaitingHeader:
      if (headerBegun_) {
        RaiseEvent(events_, OnHeaderEnd);
        if (!Current(serial)) return;
      }
      Finish(error != 0 ? error : kHttpErrIncomplete);
      return;
    case THttpState::httpWaitingBody:
      // A body with a length or chunks is still short here (whole, it would
      // have ended the request); one that ends with the connection is cut
      // when TLS ended without close_notify.
      if (error == 0 && (contentLength_ >= 0 || chunked_ || socket_->TlsCutShort())) error = kHttpErrIncomplete;
      if (error == 0 && docBegun_) {
        RaiseEvent(events_, OnDocEnd);
        if (!Current(serial)) return;
      }
      Finish(error);
      return;
    case THttpState::httpReady:
      return;
    default:
      Finish(error != 0 ? error : kHttpErrIncomplete);
      return;
  }
}

void THttpCli::CloseSocket() {
  closingSocket_ = true;
  socket_->Close();
  closingSocket_ = false;
}

void THttpCli::Abort() {
  if (state_ == THttpState::httpReady || finishing_) return;
  statusCode_ = 404;
  reasonPhrase_ = "Connection aborted on request";
  Finish(kHttpErrAborted);
  SetState(THttpState::httpAborting);
}

void THttpCli::Finish(int error) {
  if (finishing_) return;
  finishing_ = true;
  sendingBody_ = false;
  requestDoneError_ = error;
  CloseSocket();
  uint64_t serial = requestSerial_;
  loop_->Post(this, [this, serial] {
    if (serial != requestSerial_) return;
    THttpRequest request = requestType_;
    int done = requestDoneError_;
    finishing_ = false;
    ++requestSerial_;
    SetState(THttpState::httpReady);
    // Raised even when OnStateChange started the next request: every
    // started request gets its one OnRequestDone.
    RaiseEvent(events_, OnRequestDone, request, done);
  });
}

}  // namespace brindle
