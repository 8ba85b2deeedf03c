#include "engine/ftp_part_downloader.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <system_error>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "core/trace.h"
#include "core/url.h"
#include "engine/part_file_writer.h"
#include "engine/speed_limit_lane.h"
#include "net/ftp_client.h"
#include "net/socket_errors.h"

namespace brindle {

namespace {

bool HasLineBreak(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

// The directories of an address's path, each decoded on its own (RFC
// 1738): they lead from the login folder, so "/pub/dir/" is "pub", "dir",
// and an encoded "/" ("/%2Fpub/") makes "/pub", from the root. Empty
// segments say nothing a CWD could do.
std::vector<std::string> ServerDirectories(const std::string& dir) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < dir.size()) {
    size_t end = dir.find('/', start);
    if (end == std::string::npos) end = dir.size();
    if (end > start) out.push_back(PercentDecode(std::string_view(dir).substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

// The FTP proxy (the kind that takes "USER user@host:port"), "" for none.
// The system names none such, so only a ticked "Use FTP Proxy" uses one,
// and only with an address.
std::string FtpProxyAddress(const TSettingsReader& settings) {
  return settings.Read(setting::UseFTPProxy) ? settings.Read(setting::FTPProxyAddress) : "";
}

}  // namespace

TFTPPartDownloader::TFTPPartDownloader(const std::string& url, const std::string& fileName, int64_t startB,
                                       int64_t endB, EventLoop* loop)
    : TPartDownloader(url, fileName, startB, endB, loop) {}

TFTPPartDownloader::~TFTPPartDownloader() {
  try {
    FreeClient();
  } catch (...) {
    LogError("TFTPPartDownloader.Destroy");
  }
  writer_.reset();
}

void TFTPPartDownloader::CreateClient() {
  ftpClient_ = std::make_unique<TFtpClient>(&Loop());
  TFtpClient& cli = *ftpClient_;
  const TUrl& url = Url();
  const std::string user = PercentDecode(url.User);
  if (const std::string proxy = FtpProxyAddress(Settings()); !proxy.empty()) {
    // The proxy learns the server from the user name.
    cli.HostName = proxy;
    cli.Port = Settings().Read(setting::FTPProxyPort);
    cli.UserName = user + "@" + url.Host + ":" + std::to_string(url.Port);
  } else {
    cli.HostName = url.Host;
    cli.Port = std::to_string(url.Port);
    cli.UserName = user;
  }
  directories_ = ServerDirectories(url.Dir);
  cli.PassWord = PercentDecode(url.Password);
  cli.HostFileName = PercentDecode(url.FileName);
  cli.Options |= ftpNoAutoStartDownloadAt;
  cli.OnSessionConnected = ClientEvent(&cli, "TFTPPartDownloader.FtpClientSessionConnected",
                                       [this](int error) { HandleSessionConnected(error); });
  cli.OnResponse = ClientEvent(&cli, "TFTPPartDownloader.OnFtpClientResponse", [this](const std::string&) { NoteReceived(); });
  cli.OnProgress = ClientEvent(&cli, "TFTPPartDownloader.OnFtpClientProgress",
                               [this](int64_t count, bool& abort) { HandleProgress(count, abort); });
  cli.OnRequestDone = ClientEvent(&cli, "TFTPPartDownloader.FtpClientRequestDone",
                                  [this](TFtpRequest request, int error) { HandleRequestDone(request, error); });
  ApplyLane();
}

void TFTPPartDownloader::ApplyLane() {
  if (ftpClient_) ftpClient_->SetReceiveBudget(Lane());
}

const void* TFTPPartDownloader::CurrentClient() const { return ftpClient_.get(); }

void TFTPPartDownloader::FreeClient() {
  StopStallWatch();
  if (!ftpClient_) return;
  ftpClient_->RcvdStream = nullptr;
  ftpClient_->Close();
  // It may be given up from inside one of its own events.
  Loop().DeleteLater(std::move(ftpClient_));
}

void TFTPPartDownloader::FailLater(int code, const TDownloadStatus& status) {
  Fail(code, status);
  Stop();
}

void TFTPPartDownloader::FailAndRaise(int code, const TDownloadStatus& status) {
  Fail(code, status);
  FreeClient();
  writer_.reset();
  EndStart();
  RaiseChange();
}

void TFTPPartDownloader::EndStart() {
  running_ = false;
  stopPending_ = false;
  StopTimeOutTimer();
  StopStallWatch();
}

bool TFTPPartDownloader::Pending() const { return TPartDownloader::Pending() || stopPending_; }

void TFTPPartDownloader::Get() {
  try {
    // A request on the wire: its end decides, nothing new starts.
    if (ftpClient_ && ftpClient_->Busy()) return;
    stopPending_ = false;
    BeginStart();
    running_ = true;
    const TUrl& url = Url();
    // Nothing of an address that could end a command line ever goes out.
    if (url.Host.empty() || url.FileName.empty() || HasLineBreak(url.Host) ||
        HasLineBreak(PercentDecode(url.User)) || HasLineBreak(PercentDecode(url.Password)) ||
        HasLineBreak(PercentDecode(url.Dir)) || HasLineBreak(PercentDecode(url.FileName))) {
      FailLater(kPartErrRefused, TDownloadStatus::Failure("Invalid URL"));
      return;
    }
    writer_.reset();
    try {
      writer_ = std::make_unique<TPartFileWriter>(FileName());
    } catch (const std::system_error& e) {
      FailLater(kPartErrRefused, TDownloadStatus::Failure("Can't write the part file (" + e.code().message() + ")"));
      return;
    }
    offset_ = writer_->Size();
    SetTransferCount(offset_);
    if (!ftpClient_) CreateClient();
    TFtpClient& cli = *ftpClient_;
    cli.LocalFileName = FileName();
    cli.RcvdStream = writer_.get();
    cli.StartDownloadAt = StartByte() + offset_;
    cli.LocalFileOffset = offset_;
    cli.EndDownloadAt = StopPosition();
    cli.Passive = !FtpProxyAddress(Settings()).empty() || Settings().Read(setting::PassiveMode);
    if (cli.Connected()) {
      // A connection handed over from a finished part: the file's size is
      // asked again, as on every start, before a byte is written.
      SetState(psConnected);
      StartStallWatch();
      StartNext([](TFtpClient& c) { c.SizeAsync(); });
      return;
    }
    StartTimeOutTimer(TimeOut());
    SetState(psConnecting);
    try {
      cli.ConnectAsync();
    } catch (const FtpException&) {
      // An address with a user but no password, or the like.
      StopTimeOutTimer();
      FailLater(kPartErrLogin, TDownloadState::CouldNotLogin);
      return;
    }
    RaiseChange();
  } catch (...) {
    LogError("TFTPPartDownloader.Get");
  }
}

void TFTPPartDownloader::ChangeDirectoryOrAskSize() {
  if (nextDirectory_ < directories_.size()) {
    ftpClient_->HostDirName = directories_[nextDirectory_++];
    StartNext([](TFtpClient& c) { c.CwdAsync(); });
  } else {
    StartNext([](TFtpClient& c) { c.SizeAsync(); });
  }
}

template <class Fn>
bool TFTPPartDownloader::StartNext(Fn start) {
  try {
    start(*ftpClient_);
    return true;
  } catch (const FtpException&) {
    FailAndRaise(kPartErrNoConnection, TDownloadState::CouldNotConnect);
    return false;
  }
}

void TFTPPartDownloader::HandleSessionConnected(int error) {
  if (error != 0) return;
  // From here on a server that falls silent, on the control connection or
  // the data connection, is a lost connection.
  StartStallWatch();
  if (State() != psConnecting) return;
  SetState(psConnected);
  Trace("Ftp Connected");
  RaiseChange();
}

void TFTPPartDownloader::HandleRequestDone(TFtpRequest request, int error) {
  const TFtpClient& cli = *ftpClient_;
  const int code = cli.StatusCode();
  // A failed step on a connection that went is no answer about the file.
  auto failStep = [&](int codeIfAnswered, TDownloadState state) {
    if (cli.Connected()) {
      FailAndRaise(codeIfAnswered, state);
    } else {
      FailAndRaise(kPartErrNoConnection, TDownloadState::CouldNotConnect);
    }
  };
  switch (request) {
    case TFtpRequest::ftpConnectAsync:
      Trace("Ftp Connected done");
      StopTimeOutTimer();
      if (error != 0 || code != 230) {
        if (code == 530) {
          FailAndRaise(kPartErrLogin, TDownloadState::CouldNotLogin);
        } else if (IsNameLookupError(error)) {
          FailAndRaise(kPartErrNoConnection, TDownloadState::HostNotFound);
        } else {
          FailAndRaise(kPartErrNoConnection, TDownloadState::CouldNotConnect);
        }
        return;
      }
      if (State() != psConnected) {
        SetState(psConnected);
        RaiseChange();
        if (!ftpClient_) return;
      }
      StartNext([](TFtpClient& c) { c.TypeSetAsync(); });
      return;
    case TFtpRequest::ftpTypeSetAsync:
      Trace("Ftp Type done");
      if (!cli.Connected()) {
        FailAndRaise(kPartErrNoConnection, TDownloadState::CouldNotConnect);
        return;
      }
      nextDirectory_ = 0;
      ChangeDirectoryOrAskSize();
      return;
    case TFtpRequest::ftpCwdAsync:
      Trace("Ftp Cwd done");
      if (error == 0 && code == 250) {
        ChangeDirectoryOrAskSize();
      } else {
        failStep(kPartErrRefused, TDownloadState::FileNotFound);
      }
      return;
    case TFtpRequest::ftpSizeAsync: {
      Trace("Ftp Size done");
      if (!cli.Connected() || (error != 0 && error != code)) {
        FailAndRaise(kPartErrNoConnection, TDownloadState::CouldNotConnect);
        return;
      }
      // A server without SIZE (or one that will not tell) still serves the
      // file: it comes in one part, of unknown size, and RETR tells whether
      // it is there.
      if (error != 0) Trace("Ftp Size refused: " + cli.LastResponse());
      SetTransferSize(error == 0 ? cli.SizeResult() : -1);
      SetState(psGotFileSize);
      RaiseChange();
      if (!ftpClient_ || State() == psError) return;
      ApplyLimit();
      ftpClient_->StartDownloadAt = StartByte() + offset_;
      StartNext([](TFtpClient& c) { c.RestAsync(); });
      return;
    }
    case TFtpRequest::ftpRestAsync:
      if (!cli.Connected()) {
        FailAndRaise(kPartErrNoConnection, TDownloadState::CouldNotConnect);
        return;
      }
      SetResume(error == 0 && code == 350);
      SetState(psGotResumeInfo);
      RaiseChange();
      if (!ftpClient_ || State() == psError) return;
      if (ResumeSupported() == 0) {
        StartTransfer(true);
      } else if (StartByte() > 0) {
        FailAndRaise(kPartErrNoResume, TDownloadState::ResumeNotSupported);
      } else {
        // The server sends from the first byte: refill the part file rather
        // than append a second copy after what it holds.
        if (!writer_ || !writer_->Truncate(0)) {
          FailAndRaise(kPartErrRefused, TDownloadStatus::Failure("Can't write the part file"));
          return;
        }
        offset_ = 0;
        SetTransferCount(0);
        StartTransfer(false);
      }
      return;
    case TFtpRequest::ftpGetAsync:
      TransferDone(false, error);
      return;
    case TFtpRequest::ftpRestartGetAsync:
      TransferDone(true, error);
      return;
    default:
      return;
  }
}

void TFTPPartDownloader::StartTransfer(bool restart) {
  TFtpClient& cli = *ftpClient_;
  cli.RcvdStream = writer_.get();
  cli.StartDownloadAt = StartByte() + offset_;
  cli.LocalFileOffset = offset_;
  cli.EndDownloadAt = StopPosition();
  writer_->SetAccepting(true);
  ApplyLimit();
  if (restart) {
    StartNext([](TFtpClient& c) { c.RestartGetAsync(); });
  } else {
    StartNext([](TFtpClient& c) { c.GetAsync(); });
  }
}

void TFTPPartDownloader::HandleProgress(int64_t, bool& abort) {
  NoteReceived();
  if (!writer_) return;
  SetTransferCount(writer_->Size());
  if (Aborted() || Paused()) {
    abort = true;
    return;
  }
  if (State() != psDownloading) {
    SetState(psDownloading);
    RaiseChange();
    if (!writer_) return;
  }
  if (EndByte() > 0 && TransferCount() >= EndByte() - StartByte() + 1) {
    SetState(psReachedEnd);
    RaiseChange();
    if (!writer_) return;
    // The owner may have raised EndByte (which let held-back bytes in).
    SetTransferCount(writer_->Size());
    if (EndByte() > 0 && TransferCount() >= EndByte() - StartByte() + 1) abort = true;
  }
}

void TFTPPartDownloader::TransferDone(bool restart, int error) {
  TFtpClient& cli = *ftpClient_;
  int writeError = 0;
  if (writer_) {
    SetTransferCount(writer_->Size());
    writeError = writer_->Error();
    cli.RcvdStream = nullptr;
    writer_.reset();
  }
  const int64_t needed = BytesNeeded();
  const int code = cli.StatusCode();
  // With no size to compare, only the server's word tells a whole file
  // from a cut one: the final reply after the data.
  const bool confirmed = error == 0 && (code == 226 || code == 250);
  if (writeError) {
    Fail(kPartErrRefused,
         TDownloadStatus::Failure("Can't write the part file (" + std::generic_category().message(writeError) + ")"));
  } else if (restart && error == code && cli.Connected() && cli.LastCommand().rfind("REST ", 0) == 0) {
    Fail(kPartErrNoResume, TDownloadState::ResumeNotSupported);
  } else if (error == 550 && code == 550 && cli.ByteCount() == 0 && cli.LastCommand().rfind("RETR ", 0) == 0) {
    // Refused before a byte came: a server that gave no SIZE says here
    // that the file is not there.
    Fail(kPartErrRefused, TDownloadState::FileNotFound);
  } else if (needed >= 0 ? TransferCount() >= needed : confirmed) {
    SetState(psDone);
  } else {
    Fail(kPartErrTimeoutOrLost, TDownloadState::LostConnection);
  }
  EndStart();
  if (State() == psError) FreeClient();
  RaiseChange();
}

int64_t TFTPPartDownloader::StopPosition() const {
  if (EndByte() <= 0) return 0;
  // The bytes this transfer still has to bring; at least 1, as 0 would mean
  // "no end".
  return std::max<int64_t>(1, EndByte() - StartByte() + 1 - offset_);
}

void TFTPPartDownloader::ApplyLimit() {
  if (!writer_) return;
  writer_->SetLimit(WriteLimit());
  SetTransferCount(writer_->Size());
}

void TFTPPartDownloader::SetEndByte(int64_t endByte) {
  TPartDownloader::SetEndByte(endByte);
  try {
    ApplyLimit();
    if (ftpClient_) ftpClient_->EndDownloadAt = StopPosition();
  } catch (...) {
    LogError("TFTPPartDownloader.SetEndByte");
  }
}

void TFTPPartDownloader::Release() {
  FreeClient();
  if (writer_) SetTransferCount(writer_->Size());
  writer_.reset();
}

void TFTPPartDownloader::Stop() {
  try {
    Release();
    // Like the end of any request, a stopped start is reported from the
    // loop, also one stopped between two requests (from inside a reply's
    // handler, the client idle).
    if (!running_ || stopPending_) return;
    stopPending_ = true;
    PostLater([this] {
      if (stopPending_) StopDone();
    });
  } catch (...) {
    LogError("TFTPPartDownloader.Stop");
  }
}

void TFTPPartDownloader::StopDone() {
  EndStart();
  if (State() != psError) {
    const int64_t needed = BytesNeeded();
    if (needed >= 0 && TransferCount() >= needed) {
      SetState(psDone);
    } else if (State() == psDownloading || State() == psReachedEnd) {
      Fail(kPartErrTimeoutOrLost, TDownloadState::LostConnection);
    } else {
      Fail(kPartErrNoConnection, TDownloadState::CouldNotConnect);
    }
  }
  RaiseChange();
}

void TFTPPartDownloader::Abort() {
  try {
    TPartDownloader::Abort();
    Release();
    EndStart();
    unlink(FileName().c_str());
    SetTransferCount(0);
    SetState(psAborted);
    RaiseChange();
  } catch (...) {
    LogError("TFTPPartDownloader.Abort");
  }
}

void TFTPPartDownloader::Pause() {
  try {
    TPartDownloader::Pause();
    Release();
    EndStart();
    SetState(psPaused);
    RaiseChange();
  } catch (...) {
    LogError("TFTPPartDownloader.Pause");
  }
}

void TFTPPartDownloader::OnStall() {
  Release();
  EndStart();
  // Only the final reply is missing: the bytes are all there.
  const int64_t needed = BytesNeeded();
  if (needed >= 0 && TransferCount() >= needed) {
    SetState(psDone);
  } else {
    Fail(kPartErrTimeoutOrLost, TDownloadState::LostConnection);
  }
  RaiseChange();
}

void TFTPPartDownloader::OnTimeOut() {
  Fail(kPartErrTimeoutOrLost, TDownloadState::Timeout);
  Release();
  EndStart();
  RaiseChange();
}

}  // namespace brindle
