#include "engine/http_part_downloader.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <system_error>

#include "core/checksum.h"
#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/settings.h"
#include "core/system_proxy.h"
#include "core/download_status.h"
#include "core/trace.h"
#include "engine/download_record.h"
#include "engine/part_file_writer.h"
#include "engine/speed_limit_lane.h"
#include "net/http_cli.h"
#include "net/http_date.h"
#include "net/socket_errors.h"

namespace brindle {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The value of the first header line named name (lower case), or "".
std::string HeaderValue(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || Lower(line.substr(0, colon)) != name) continue;
    const size_t value = line.find_first_not_of(" \t", colon + 1);
    return value == std::string::npos ? std::string() : line.substr(value);
  }
  return {};
}

int64_t ParseByteCount(const std::string& text) {
  int64_t value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0 ? value : -1;
}

}  // namespace

THTTPPartDownloader::THTTPPartDownloader(const std::string& url, const std::string& fileName, int64_t startB,
                                         int64_t endB, EventLoop* loop)
    : TPartDownloader(url, fileName, startB, endB, loop) {}

THTTPPartDownloader::~THTTPPartDownloader() {
  if (!httpCli_) return;
  try {
    httpCli_->Abort();
    httpCli_->RcvdStream = nullptr;
  } catch (...) {
    LogError("THTTPPartDownloader.Destroy");
  }
}

const void* THTTPPartDownloader::CurrentClient() const { return httpCli_.get(); }

void THTTPPartDownloader::Get() {
  try {
    // A request on the wire ends first (Stop, Pause or Abort); its completion
    // is still to come and decides the state.
    if (requestRunning_) return;
    BeginStart();
    SetState(psConnecting);
    StartRequest();
  } catch (...) {
    LogError("THTTPPartDownloader.Get");
  }
}

void THTTPPartDownloader::SetOriginHeaders(std::string origin, std::string referer, std::string cookie) {
  origin_ = std::move(origin);
  referer_ = std::move(referer);
  cookie_ = std::move(cookie);
}

void THTTPPartDownloader::StartRequest() {
  answerTaken_ = false;
  if (!httpCli_) {
    httpCli_ = std::make_unique<THttpCli>(&Loop());
    THttpCli& cli = *httpCli_;
    cli.OnSessionConnected =
        ClientEvent(&cli, "THTTPPartDownloader.OnSessionConnected", [this] { HandleSessionConnected(); });
    cli.OnHeaderBegin = ClientEvent(&cli, "THTTPPartDownloader.OnHeaderBegin", [this] { HandleHeaderBegin(); });
    cli.OnHeaderData = ClientEvent(&cli, "THTTPPartDownloader.OnHeaderData", [this] {
      NoteReceived();
      Trace(httpCli_->LastResponse());
    });
    cli.OnHeaderEnd = ClientEvent(&cli, "THTTPPartDownloader.OnHeaderEnd", [this] { HandleHeaderEnd(); });
    cli.OnDocData = ClientEvent(&cli, "THTTPPartDownloader.OnDocData", [this](const char*, size_t) { HandleDocData(); });
    cli.OnRequestDone = ClientEvent(&cli, "THTTPPartDownloader.OnRequestDone",
                                    [this](THttpRequest, int error) { HandleRequestDone(error); });
    ApplyLane();
  }
  THttpCli& cli = *httpCli_;
  cli.URL = Url().Url;
  cli.Username = Url().User;
  cli.Password = Url().Password;
  const TProxyServer proxy = HttpProxyFor(Url(), Settings());
  cli.Proxy = proxy.Host;
  cli.ProxyPort = proxy.Port;
  cli.ProxyUsername = proxy.User;
  cli.ProxyPassword = proxy.Password;
  cli.Accept = "*/*";
  cli.Agent = "Brindle";
  const bool sameOrigin = !origin_.empty() && TDownloadRecord::ServerKey(Url()) == origin_;
  cli.Reference = sameOrigin ? referer_ : "";
  cli.Cookie = sameOrigin ? cookie_ : "";
  cli.ContentRangeEnd.clear();

  cli.RcvdStream = nullptr;
  writer_.reset();
  try {
    writer_ = std::make_unique<TPartFileWriter>(FileName());
  } catch (const std::system_error& e) {
    // Reported like the end of a request, never from inside Get.
    Fail(kPartErrRefused, TDownloadStatus::Failure("Can't write the part file (" + e.code().message() + ")"));
    requestRunning_ = true;
    donePosted_ = true;
    PostLater([this] {
      donePosted_ = false;
      HandleRequestDone(0);
    });
    return;
  }
  requestedFrom_ = writer_->Size();
  cli.ContentRangeBegin = std::to_string(StartByte() + requestedFrom_);
  // A closed range: the server sends nothing past this part's end that
  // would be thrown away. A take-over of the next range asks again for it.
  // A first contact knows no end yet: it may ask for a first piece, and the
  // rest when that ends.
  askedEnd_ = EndByte();
  if (askedEnd_ == 0 && FirstPiece() > 0 && !SizeLearned()) askedEnd_ = Position() + FirstPiece() - 1;
  if (askedEnd_ > 0) cli.ContentRangeEnd = std::to_string(askedEnd_);
  cli.RcvdStream = writer_.get();
  SetTransferCount(requestedFrom_);
  StartTimeOutTimer(TimeOut());
  requestRunning_ = true;
  cli.GetASync();
}

bool THTTPPartDownloader::Pending() const {
  return TPartDownloader::Pending() || donePosted_ || (requestRunning_ && httpCli_ && httpCli_->Finishing());
}

void THTTPPartDownloader::ApplyLane() {
  if (httpCli_) httpCli_->SetReceiveBudget(Lane());
}

void THTTPPartDownloader::HandleSessionConnected() {
  StopTimeOutTimer();
  StartStallWatch();
  SetState(psConnected);
  Trace("OnSessionConnected");
  RaiseChange();
}

void THTTPPartDownloader::HandleHeaderBegin() {
  NoteReceived();
  answerTaken_ = false;
  if (writer_) writer_->SetAccepting(false);
  Trace("OnHeaderBegin");
}

void THTTPPartDownloader::HandleHeaderEnd() {
  const THttpCli& cli = *httpCli_;
  if (State() == psError || Aborted() || Paused() || !writer_) return;
  const int status = cli.StatusCode();
  if (status >= 300 && status < 400) {
    // The client follows it (or ends the request with the reason); its body
    // is never stored.
    Trace("OnHeaderEnd - redirection to " + HeaderValue(cli.RcvdHeader(), "location"));
    return;
  }
  if (status == 416 && cli.ContentRangeTotal() >= 0) {
    HandleRangeNotSatisfiable();
    return;
  }
  if (status != 200 && status != 206) {
    Refuse(status);
    Stop();
    return;
  }
  const int64_t position = Position();
  SetResume(status == 206 ||
            (StartByte() == 0 && Lower(cli.AcceptRanges()).find("bytes") != std::string::npos));
  if (ResumeSupported() == 1 && StartByte() > 0) {
    Fail(kPartErrNoResume, TDownloadState::ResumeNotSupported);
    Stop();
    return;
  }
  if (status == 206) {
    const int64_t begin = ParseByteCount(cli.ContentRangeBegin);
    if (begin != position) {
      Fail(kPartErrRefused, TDownloadStatus::Failure("Content-Range does not start at byte " + std::to_string(position)));
      Stop();
      return;
    }
  }
  // Sizes compared are whole-file sizes, whatever position was asked for.
  int64_t fileSize = -1;
  if (cli.ContentRangeTotal() >= 0) {
    fileSize = cli.ContentRangeTotal();
  } else if (cli.ContentLength() >= 0) {
    fileSize = (status == 206 ? position : 0) + cli.ContentLength();
  }
  SetServerDigest(WholeFileDigest(cli.RcvdHeader()));
  if (!ReportAnswer(fileSize)) return;
  Trace("OnHeaderEnd - AllowResume: " + ResumeText());

  if (cli.RedirectCount() > 0) SetUrl(cli.Location());
  if (status == 200 && writer_->Size() > 0) {
    // The whole file again from its first byte: refill the part file rather
    // than append a second copy.
    if (!writer_->Truncate(0)) {
      Stop();
      return;
    }
    requestedFrom_ = 0;
    SetTransferCount(0);
  }
  answerTaken_ = true;
  writer_->SetAccepting(true);
  ApplyLimit();
}

// Nothing exists from the asked position on; the answer still states the
// whole size, which is checked like any other answer's. A part that already
// holds every byte it needs (an empty file asked from byte 0) is done;
// any other part cannot get its bytes here.
void THTTPPartDownloader::HandleRangeNotSatisfiable() {
  SetResume(true);
  if (!ReportAnswer(httpCli_->ContentRangeTotal())) return;
  const int64_t needed = BytesNeeded();
  if (needed < 0 || TransferCount() < needed) {
    Fail(kPartErrRefused, Refusal());
  } else {
    // Taken with no byte to store: the request's end finds the part whole.
    answerTaken_ = true;
  }
  Stop();
}

bool THTTPPartDownloader::ReportAnswer(int64_t fileSize) {
  const THttpCli& cli = *httpCli_;
  // Known before the answer is reported, so that the owner can refuse it.
  SetValidators(HeaderValue(cli.RcvdHeader(), "etag"), HeaderValue(cli.RcvdHeader(), "last-modified"),
                cli.RedirectCount() > 0 ? cli.Location() : Url().Url);
  SetState(psGotResumeInfo);
  RaiseChange();
  if (State() == psError || Aborted() || Paused()) return false;
  SetTransferSize(fileSize);
  SetState(psGotFileSize);
  RaiseChange();
  return State() != psError && !Aborted() && !Paused();
}

void THTTPPartDownloader::Refuse(int status) {
  if (status == 404 || status == 410) {
    Fail(kPartErrGone, Refusal());
  } else if (status == 503 || status == 429) {
    Fail(kPartErrBusy, Refusal());
    SetRetryAfter(RetryAfterSeconds(HeaderValue(httpCli_->RcvdHeader(), "retry-after"),
                                    Loop().GetClock().WallMs() / 1000));
  } else {
    Fail(kPartErrRefused, Refusal());
  }
}

TDownloadStatus THTTPPartDownloader::Refusal() const {
  const int status = httpCli_->StatusCode();
  if (status == 404) return TDownloadState::FileNotFound;
  // Told in the server's own words.
  if (!httpCli_->ReasonPhrase().empty()) return TDownloadStatus::Failure(httpCli_->ReasonPhrase());
  return TDownloadStatus::Failure(status == 0 ? "Not an HTTP answer" : "HTTP status " + std::to_string(status));
}

void THTTPPartDownloader::HandleDocData() {
  NoteReceived();
  if (!answerTaken_ || !writer_ || State() == psError) return;
  SetTransferCount(writer_->Size());
  if (EndByte() > 0 && TransferCount() >= EndByte() - StartByte() + 1) {
    SetState(psReachedEnd);
    RaiseChange();
    // The owner may have raised EndByte (which let held-back bytes in).
    if (writer_) SetTransferCount(writer_->Size());
    if (EndByte() > 0 && TransferCount() >= EndByte() - StartByte() + 1) Stop();
  }
  if (State() != psDownloading) {
    SetState(psDownloading);
    RaiseChange();
  }
}

void THTTPPartDownloader::HandleRequestDone(int error) {
  Trace("OnRequestDone: " + (httpCli_ ? httpCli_->URL : Url().Url));
  requestRunning_ = false;
  Complete(error);
}

void THTTPPartDownloader::Complete(int error) {
  int writeError = 0;
  if (writer_) {
    SetTransferCount(writer_->Size());
    writeError = writer_->Error();
    if (httpCli_) httpCli_->RcvdStream = nullptr;
    writer_.reset();
  }
  const int64_t needed = BytesNeeded();
  const int status = httpCli_ ? httpCli_->StatusCode() : 0;
  if (Aborted()) {
    unlink(FileName().c_str());
    SetTransferCount(0);
    SetState(psAborted);
  } else if (Paused()) {
    SetState(psPaused);
  } else if (State() == psError) {
    // Decided when it happened.
  } else if (writeError) {
    Fail(kPartErrRefused,
         TDownloadStatus::Failure("Can't write the part file (" + std::generic_category().message(writeError) + ")"));
  } else if (!answerTaken_ && status >= 300 && status < 400) {
    // A redirection that was not followed: a loop, another scheme, no target.
    Fail(kPartErrRefused, TDownloadStatus::Failure(httpCli_->ReasonPhrase()));
  } else if ((!answerTaken_ && error == kHttpErrInvalidUrl) || error == kHttpErrUnsupportedCoding ||
             error == kHttpErrMalformedAnswer) {
    // A URL the client refuses, or an answer whose framing it cannot read:
    // asking again would get the same.
    Fail(kPartErrRefused, TDownloadStatus::Failure(httpCli_->ReasonPhrase()));
  } else if (error == kSocketErrCertificate) {
    Trace("OnRequestDone - " + httpCli_->ReasonPhrase());
    Fail(kPartErrCertificate, TDownloadState::CertificateNotTrusted, httpCli_->TlsErrorText());
  } else if (!answerTaken_ && error == kSocketErrTls) {
    Trace("OnRequestDone - " + httpCli_->ReasonPhrase());
    Fail(kPartErrNoConnection, TDownloadState::CouldNotConnect, httpCli_->TlsErrorText());
  } else if (error == kHttpErrOverflow) {
    // The same header would come again.
    Fail(kPartErrRefused, TDownloadState::HeaderTooLong);
  } else if (IsNameLookupError(error)) {
    Fail(kPartErrNoConnection, TDownloadState::HostNotFound);
  } else if (EndedWhereItsRangeSaid(error, needed)) {
    // Some servers cap every ranged answer, and a first contact asks for a
    // first piece only: an honest early end is no lost connection, and the
    // rest is asked for at once.
    Trace("OnRequestDone - the answer ended at its Content-Range end");
    StartRequest();
    return;
  } else if (needed >= 0 ? TransferCount() >= needed : answerTaken_ && error == 0 && TransferCount() > 0) {
    SetState(psDone);
  } else if (State() == psDownloading || State() == psReachedEnd) {
    Fail(kPartErrTimeoutOrLost, TDownloadState::LostConnection);
  } else {
    Fail(kPartErrNoConnection, TDownloadState::CouldNotConnect);
  }
  StopTimeOutTimer();
  StopStallWatch();
  RaiseChange();
}

bool THTTPPartDownloader::EndedWhereItsRangeSaid(int error, int64_t needed) const {
  if (!httpCli_ || !answerTaken_ || error != 0 || httpCli_->StatusCode() != 206) return false;
  // Each answer must bring bytes, or a server could keep this asking forever.
  if (TransferCount() <= requestedFrom_) return false;
  const int64_t last = StartByte() + TransferCount() - 1;
  // Without a known size, only an end exactly where this asked says there is
  // more: an answer that stopped short may have met the file's end.
  if (needed < 0) return askedEnd_ > 0 && last == askedEnd_ && ParseByteCount(httpCli_->ContentRangeEnd) == last;
  return TransferCount() < needed && ParseByteCount(httpCli_->ContentRangeEnd) == last;
}

void THTTPPartDownloader::ApplyLimit() {
  if (!writer_) return;
  writer_->SetLimit(WriteLimit());
  SetTransferCount(writer_->Size());
}

void THTTPPartDownloader::SetEndByte(int64_t endByte) {
  TPartDownloader::SetEndByte(endByte);
  try {
    if (answerTaken_) ApplyLimit();
  } catch (...) {
    LogError("THTTPPartDownloader.SetEndByte");
  }
}

void THTTPPartDownloader::Stop() {
  try {
    if (httpCli_) httpCli_->Abort();
  } catch (...) {
    LogError("THTTPPartDownloader.Stop");
  }
}

void THTTPPartDownloader::Abort() {
  try {
    TPartDownloader::Abort();
    if (requestRunning_) {
      Stop();
    } else {
      Complete(0);
    }
  } catch (...) {
    LogError("THTTPPartDownloader.Abort");
  }
}

void THTTPPartDownloader::Pause() {
  try {
    TPartDownloader::Pause();
    if (requestRunning_) {
      Stop();
    } else {
      // Nothing on the wire whose end would report it.
      SetState(psPaused);
      RaiseChange();
    }
  } catch (...) {
    LogError("THTTPPartDownloader.Pause");
  }
}

}  // namespace brindle
