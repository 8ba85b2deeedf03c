#include "net/ftp_client.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/event_loop.h"
#include "core/owned_file.h"
#include "net/http_cli.h"
#include "net/socket_errors.h"
#include "net/wsocket.h"

namespace brindle {

namespace {

// Large reads: the data path is one recv and one write per chunk.
constexpr size_t kBufferSize = 65536;

// A value going into a command line must not be able to end that line and
// add commands of its own.
void CheckLineSafe(const std::string& value, const char* name) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw FtpException(std::string(name) + " holds a line break or NUL");
}

}  // namespace

// The local file of a transfer when no RcvdStream is given.
struct TFtpClient::LocalFile final : TReceiveStream {
  int Fd = -1;
  int64_t Position = 0;
  ~LocalFile() override {
    if (Fd >= 0) ::close(Fd);
  }
  bool Write(const char* data, size_t size) override {
    while (size > 0) {
      ssize_t n = ::pwrite(Fd, data, size, Position);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      Position += n;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
};

TFtpClient::TFtpClient(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()), buffer_(new char[kBufferSize]) {
  if (!loop_) throw std::logic_error("TFtpClient: no event loop on this thread");
  control_ = std::make_unique<TWSocket>(loop_);
  control_->ComponentOptions = wsoTcpNoDelay;
  // PORT and PASV speak IPv4: a host's IPv6 addresses only when no IPv4 one
  // connects.
  control_->IPv4First = true;
  control_->OnSessionConnected = [this](int error) { ControlConnected(error); };
  control_->OnDataAvailable = [this](int) { ControlData(); };
  control_->OnSessionClosed = [this](int error) { ControlClosed(error); };
  listener_ = std::make_unique<TWSocket>(loop_);
  listener_->OnSessionAvailable = [this](int) { AcceptData(); };
  data_ = MakeDataSocket();
}

// The sockets' destructors close without raising anything.
TFtpClient::~TFtpClient() { loop_->CancelPosts(this); }

std::unique_ptr<TWSocket> TFtpClient::MakeDataSocket() {
  auto socket = std::make_unique<TWSocket>(loop_);
  socket->OnSessionConnected = [this](int error) { DataConnected(error); };
  socket->OnDataAvailable = [this](int) { DataAvailable(); };
  socket->OnSessionClosed = [this](int error) { DataClosed(error); };
  socket->SetReceiveBudget(budget_);
  return socket;
}

void TFtpClient::SetResolver(std::shared_ptr<TNameResolver> resolver) { control_->SetResolver(std::move(resolver)); }

void TFtpClient::SetReceiveBudget(std::shared_ptr<TReceiveBudget> budget) {
  budget_ = std::move(budget);
  data_->SetReceiveBudget(budget_);
}

bool TFtpClient::Connected() const { return control_->State() == TSocketState::wsConnected; }

void TFtpClient::SetState(TFtpState state) {
  if (state == state_) return;
  state_ = state;
  RaiseEvent(events_, OnStateChange);
}

// Whether the request that raised an event is still the one running once
// the event's handler has returned.
bool TFtpClient::Current(uint64_t serial) const {
  return serial == serial_ && !finishing_;
}

bool TFtpClient::Display(const std::string& text) {
  if (!OnDisplay) return true;
  uint64_t serial = serial_;
  RaiseEvent(events_, OnDisplay, text);
  return Current(serial);
}

// ---- Starting requests ----

void TFtpClient::CheckConnected() const {
  if (Busy() || finishing_) throw FtpException("FTP component not ready");
  if (!Connected()) throw FtpException("FTP component not connected");
}

void TFtpClient::StartRequest(TFtpRequest request) {
  ++serial_;
  request_ = request;
  statusCode_ = 0;
  errorMessage_.clear();
  restartCommand_ = false;
  restAccepted_ = false;
  transferStarted_ = false;
  dataClosed_ = false;
  dataError_ = 0;
  finalReply_ = false;
  byteCount_ = 0;
  accepted_.clear();
  SetState(request == TFtpRequest::ftpConnectAsync ? TFtpState::ftpConnecting : TFtpState::ftpWaitingResponse);
}

void TFtpClient::ConnectAsync() {
  if (Busy() || finishing_) throw FtpException("FTP component not ready");
  if (Connected()) throw FtpException("FTP component already connected");
  if (UserName.empty()) throw FtpException("UserName emtpy");
  if (PassWord.empty()) throw FtpException("Password emtpy");
  CheckLineSafe(UserName, "UserName");
  CheckLineSafe(PassWord, "PassWord");
  StartRequest(TFtpRequest::ftpConnectAsync);
  reader_.Reset();
  step_ = Step::Connecting;
  control_->Addr = HostName;
  control_->Port = Port;
  try {
    control_->Connect();
  } catch (const ESocketException& e) {
    ConnectFailed(e.ErrorCode != 0 ? e.ErrorCode : EINVAL);
  }
}

void TFtpClient::TypeSetAsync() {
  CheckConnected();
  StartRequest(TFtpRequest::ftpTypeSetAsync);
  accepted_ = {200};
  SendCommand(Step::Simple, Binary ? "TYPE I" : "TYPE A");
}

void TFtpClient::CwdAsync() {
  CheckConnected();
  if (HostDirName.empty()) throw FtpException("HostDirName emtpy");
  CheckLineSafe(HostDirName, "HostDirName");
  StartRequest(TFtpRequest::ftpCwdAsync);
  accepted_ = {200, 250, 257};
  SendCommand(Step::Simple, "CWD " + HostDirName);
}

void TFtpClient::SizeAsync() {
  CheckConnected();
  CheckLineSafe(HostFileName, "HostFileName");
  StartRequest(TFtpRequest::ftpSizeAsync);
  sizeResult_ = -1;
  accepted_ = {213};
  SendCommand(Step::Simple, "SIZE " + HostFileName);
}

void TFtpClient::RestAsync() {
  CheckConnected();
  StartRequest(TFtpRequest::ftpRestAsync);
  if (StartDownloadAt < 0) {
    // Nothing to send: the request still ends the usual way.
    Finish(0);
    return;
  }
  SendCommand(Step::Simple, "REST " + std::to_string(StartDownloadAt));
}

void TFtpClient::GetAsync() {
  CheckConnected();
  if (!RcvdStream && LocalFileName.empty()) throw FtpException("LocalFileName empty");
  CheckLineSafe(HostFileName, "HostFileName");
  StartRequest(TFtpRequest::ftpGetAsync);
  if (Passive) {
    SendCommand(Step::Pasv, "PASV");
  } else {
    OpenActiveData();
  }
}

void TFtpClient::RestartGetAsync() {
  CheckConnected();
  if (!RcvdStream && LocalFileName.empty()) throw FtpException("LocalFileName empty");
  CheckLineSafe(HostFileName, "HostFileName");
  if (!RcvdStream && !(Options & ftpNoAutoStartDownloadAt)) {
    struct stat st {};
    StartDownloadAt = LocalFileOffset = ::stat(LocalFileName.c_str(), &st) == 0 ? st.st_size : 0;
  }
  StartRequest(TFtpRequest::ftpRestartGetAsync);
  restartCommand_ = true;
  if (Passive) {
    SendCommand(Step::Pasv, "PASV");
  } else {
    OpenActiveData();
  }
}

bool TFtpClient::SendCommand(Step step, const std::string& command) {
  uint64_t serial = serial_;
  step_ = step;
  lastCommand_ = command;
  if (OnCommand) {
    RaiseEvent(events_, OnCommand, command);
    if (!Current(serial)) return false;
  }
  if (control_->SendStr(command + "\r\n") < 0) {
    Finish(control_->LastError() != 0 ? control_->LastError() : kFtpErrConnectionClosed);
    return false;
  }
  return true;
}

void TFtpClient::Close() {
  ++serial_;
  finishing_ = false;
  request_ = TFtpRequest::ftpNone;
  step_ = Step::Idle;
  quiet_ = true;
  control_->Close();
  data_->Close();
  listener_->Close();
  quiet_ = false;
  localFile_.reset();
  reader_.Reset();
  state_ = TFtpState::ftpNotConnected;
}

// ---- Control connection ----

void TFtpClient::ConnectFailed(int error) {
  statusCode_ = 500;
  lastResponse_ = "500 " + SocketErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
  errorMessage_ = lastResponse_;
  Finish(error);
}

void TFtpClient::ControlConnected(int error) {
  if (step_ != Step::Connecting || finishing_) return;
  uint64_t serial = serial_;
  if (error == 0) step_ = Step::Greeting;
  if (OnSessionConnected) {
    RaiseEvent(events_, OnSessionConnected, error);
    if (!Current(serial)) return;
  }
  if (error != 0) ConnectFailed(error);
}

void TFtpClient::ControlData() {
  int64_t n = control_->Receive(buffer_.get(), kBufferSize);
  if (n <= 0) return;  // the end of the stream comes as OnSessionClosed
  std::vector<TFtpReply> replies;
  if (!reader_.Feed(buffer_.get(), static_cast<size_t>(n), replies)) {
    errorMessage_ = "! Reply too long";
    if (request_ != TFtpRequest::ftpNone && !finishing_) Finish(kFtpErrBadReply);
    control_->Close();
    return;
  }
  for (const TFtpReply& reply : replies) {
    if (!Connected()) return;
    statusCode_ = reply.Code;
    lastResponse_ = reply.Text;
    if (OnResponse) {
      RaiseEvent(events_, OnResponse, reply.Text);
    }
    HandleReply(reply);
  }
}

void TFtpClient::ControlClosed(int error) {
  if (quiet_) return;
  reader_.Reset();
  if (request_ != TFtpRequest::ftpNone && !finishing_) {
    errorMessage_ = "! Control connection closed";
    Finish(error != 0 ? error : kFtpErrConnectionClosed);
  } else if (!finishing_) {
    SetState(TFtpState::ftpNotConnected);
  }
  RaiseEvent(events_, OnSessionClosed, error);
}

void TFtpClient::HandleReply(const TFtpReply& reply) {
  if (request_ == TFtpRequest::ftpNone || finishing_) return;  // nobody asked: a late or stray reply
  const int code = reply.Code;
  // Preliminary replies only matter to a transfer.
  if (code < 200 && step_ != Step::Retr) return;
  switch (step_) {
    case Step::Greeting:
      if (code >= 500) {
        errorMessage_ = reply.Text;
        Finish(code);
        control_->Close();
        return;
      }
      SendCommand(Step::User, "USER " + UserName);
      return;
    case Step::User:
      if (code == 331) {
        SendCommand(Step::Pass, "PASS " + PassWord);
      } else {
        Finish(code == 230 ? 0 : code);
      }
      return;
    case Step::Pass:
      Finish(code == 230 ? 0 : code);
      return;
    case Step::Simple: {
      if (request_ == TFtpRequest::ftpSizeAsync && code == 213) sizeResult_ = ParseSizeReply(reply.Text);
      const bool ok = accepted_.empty() ? code < 500 : std::find(accepted_.begin(), accepted_.end(), code) != accepted_.end();
      Finish(ok ? 0 : code);
      return;
    }
    case Step::Pasv: {
      if (code != 227) {
        Finish(code == 200 ? kFtpDataConnectionFailed : code);
        return;
      }
      uint16_t port = 0;
      if (!ParsePasvPort(reply.Text, port)) {
        DataFailed(EPROTO);
        return;
      }
      // Whatever address the reply names, the data connection goes to the
      // server the control connection is talking to.
      data_ = MakeDataSocket();
      data_->Addr = control_->GetPeerAddr();
      data_->Port = std::to_string(port);
      step_ = Step::DataConnecting;
      try {
        data_->Connect();
      } catch (const ESocketException& e) {
        DataFailed(e.ErrorCode != 0 ? e.ErrorCode : EINVAL);
      }
      return;
    }
    case Step::Port:
      if (code == 200 || code == 227) {
        NextTransferStep();
      } else {
        Finish(code);
      }
      return;
    case Step::Rest:
      // Only 350 moves the server's start: RETR after any other answer
      // would send the file from its first byte.
      if (code == 350) {
        restAccepted_ = true;
        SendRetr();
      } else {
        Finish(code);
      }
      return;
    case Step::Retr:
      if (code < 200) return;  // 125/150: the data comes
      if (code == 226 || code == 250) {
        finalReply_ = true;
        TransferMaybeDone();
        return;
      }
      {
        // What the server sent before saying so is the file's all the same.
        const uint64_t serial = serial_;
        while (!dataClosed_ && data_->State() == TSocketState::wsConnected && ReadData()) {
        }
        if (!Current(serial)) return;
      }
      CloseData();
      if (!Display("! RETR/LIST/NLST Failed")) return;
      Finish(code);
      return;
    default:
      return;
  }
}

// ---- Data connection ----

void TFtpClient::OpenActiveData() {
  std::string addr;
  int port = 0;
  int error = control_->GetSockName(addr, port);
  if (error == 0 && addr.find(':') != std::string::npos) error = EAFNOSUPPORT;  // PORT carries IPv4 only
  if (error != 0) {
    DataFailed(error);
    return;
  }
  listener_->Close();
  listener_->LocalAddr = addr;
  listener_->Port = "0";
  listener_->LingerOnOff = TSocketLinger::wsLingerOn;
  listener_->LingerTimeout = 10;
  try {
    listener_->Listen();
  } catch (const ESocketException& e) {
    DataFailed(e.ErrorCode != 0 ? e.ErrorCode : EINVAL);
    return;
  }
  std::string listenAddr;
  int listenPort = 0;
  error = listener_->GetSockName(listenAddr, listenPort);
  if (error != 0) {
    DataFailed(error);
    return;
  }
  std::replace(addr.begin(), addr.end(), '.', ',');
  SendCommand(Step::Port, "PORT " + addr + "," + std::to_string(listenPort >> 8) + "," +
                              std::to_string(listenPort & 255));
}

void TFtpClient::AcceptData() {
  int fd = listener_->Accept();
  if (fd < 0) return;
  auto candidate = MakeDataSocket();
  try {
    candidate->Dup(fd);
  } catch (const ESocketException&) {
    ::close(fd);
    return;
  }
  // Only the server may deliver the file; anybody else who finds the port
  // is turned away and the listener waits on.
  if (candidate->GetPeerAddr() != control_->GetPeerAddr() || step_ == Step::Idle || finishing_) return;
  listener_->Close();
  data_ = std::move(candidate);
}

void TFtpClient::DataConnected(int error) {
  if (step_ != Step::DataConnecting || finishing_) return;
  if (error != 0) {
    DataFailed(error);
    return;
  }
  NextTransferStep();
}

void TFtpClient::NextTransferStep() {
  if (restartCommand_) {
    SendCommand(Step::Rest, "REST " + std::to_string(StartDownloadAt));
  } else {
    SendRetr();
  }
}

void TFtpClient::DataFailed(int error) {
  errorMessage_ = "Unable to establish data connection, error #" + std::to_string(error);
  statusCode_ = kFtpDataConnectionFailed;
  lastResponse_ = std::to_string(kFtpDataConnectionFailed) + " " + errorMessage_;
  if (!Display("! " + errorMessage_)) return;
  Finish(kFtpDataConnectionFailed);
}

void TFtpClient::SendRetr() {
  if (!restAccepted_) StartDownloadAt = 0;
  localFile_.reset();
  if (!RcvdStream) {
    auto file = std::make_unique<LocalFile>();
    const bool append = LocalFileOffset > 0;
    // Written only as a file of its own: never through a link, never
    // waiting on a FIFO.
    file->Fd = OpenOwnedFile(LocalFileName, O_WRONLY | (append ? 0 : O_CREAT | O_TRUNC));
    if (file->Fd < 0) {
      const int error = errno;
      errorMessage_ = "Unable to open local file " + LocalFileName;
      if (!Display("! " + errorMessage_)) return;
      Finish(error);
      return;
    }
    file->Position = append ? LocalFileOffset : 0;
    localFile_ = std::move(file);
  }
  byteCount_ = 0;
  transferStarted_ = true;
  SetState(TFtpState::ftpTransfer);
  SendCommand(Step::Retr, "RETR " + HostFileName);
}

void TFtpClient::DataAvailable() { ReadData(); }

bool TFtpClient::ReadData() {
  int64_t n = data_->Receive(buffer_.get(), kBufferSize);
  if (n < 0) {
    const int error = data_->LastError();
    if (error == EAGAIN) return false;
    // The socket closes itself once its handler returns.
    if (dataError_ == 0) dataError_ = error;
    Display("! Data: Receive error " + std::to_string(error));
    return false;
  }
  if (n == 0 || !transferStarted_ || finishing_) return false;  // the end comes as OnSessionClosed
  TReceiveStream* sink = RcvdStream ? RcvdStream : localFile_.get();
  if (sink && !sink->Write(buffer_.get(), static_cast<size_t>(n))) {
    dataError_ = kFtpErrWriteFailed;
    if (!Display("! Error writing local file")) return false;
    CloseData();
    return false;
  }
  byteCount_ += n;
  uint64_t serial = serial_;
  bool abort = false;
  if (OnProgress) {
    RaiseEvent(events_, OnProgress, byteCount_, abort);
    if (!Current(serial)) return false;
  }
  if (abort || (EndDownloadAt > 0 && byteCount_ >= EndDownloadAt)) {
    if (!Display("! Abort requested")) return false;
    CloseData();
    return false;
  }
  return true;
}

void TFtpClient::DataClosed(int error) {
  if (quiet_ || finishing_ || step_ == Step::Idle) return;
  if (error != 0 && dataError_ == 0) dataError_ = error;
  dataClosed_ = true;
  TransferMaybeDone();
}

void TFtpClient::TransferMaybeDone() {
  if (step_ != Step::Retr || !finalReply_ || !dataClosed_ || finishing_) return;
  Finish(dataError_);
}

void TFtpClient::CloseData() {
  listener_->Close();
  data_->Close();  // raises OnSessionClosed when it was connected
}

// ---- Ending ----

void TFtpClient::Finish(int error) {
  if (finishing_) return;
  finishing_ = true;
  quiet_ = true;
  data_->Close();
  listener_->Close();
  quiet_ = false;
  localFile_.reset();
  if (request_ == TFtpRequest::ftpGetAsync || request_ == TFtpRequest::ftpRestartGetAsync) StartDownloadAt = 0;
  uint64_t serial = serial_;
  loop_->Post(this, [this, serial, error] {
    if (serial != serial_) return;
    const TFtpRequest request = request_;
    finishing_ = false;
    ++serial_;
    request_ = TFtpRequest::ftpNone;
    step_ = Step::Idle;
    SetState(Connected() ? TFtpState::ftpReady : TFtpState::ftpNotConnected);
    // Raised even when OnStateChange started the next request: every
    // started request gets its one OnRequestDone.
    RaiseEvent(events_, OnRequestDone, request, error);
  });
}

}  // namespace brindle
