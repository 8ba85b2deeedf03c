#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/event_depth.h"
#include "net/ftp_reply.h"

namespace brindle {

class EventLoop;
class TNameResolver;
class TReceiveBudget;
class TReceiveStream;
class TWSocket;

// Refusal of a request method, raised at once to its caller.
class FtpException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The request types OnRequestDone reports.
enum class TFtpRequest : int {
  ftpNone = 0,
  ftpCwdAsync = 4,
  ftpConnectAsync = 5,
  ftpGetAsync = 10,
  ftpSizeAsync = 16,
  ftpTypeSetAsync = 36,
  ftpRestAsync = 37,
  ftpRestartGetAsync = 38,
};

enum class TFtpState {
  ftpNotConnected,
  ftpConnecting,  // opening the control connection
  ftpReady,       // connected, no request running
  ftpWaitingResponse,
  ftpTransfer,    // RETR sent; data and the final reply are awaited
};

// Bits of TFtpClient::Options.
enum : unsigned {
  ftpAcceptLF = 1,               // kept for compatibility: lines ending in LF alone are always accepted
  ftpNoAutoStartDownloadAt = 2,  // RestartGetAsync takes StartDownloadAt as given
};

enum class TFtpConnectionType { ftpDirect, ftpProxy, ftpSocks4, ftpSocks4A, ftpSocks5 };
enum class TFtpShareMode { ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead, ftpShareDenyNone };

// OnRequestDone codes besides 0, reply codes (100..599) and socket error
// codes (errno values, kSocketErr...).
inline constexpr int kFtpErrConnectionClosed = 2001;  // the control connection ended mid-request
inline constexpr int kFtpErrBadReply = 2002;          // a reply beyond every sane length
inline constexpr int kFtpErrWriteFailed = 2003;       // the local file refused bytes
// The reply code a request ends with when its data connection cannot be set up.
inline constexpr int kFtpDataConnectionFailed = 550;

// An FTP client over two TWSockets: the control connection and one data
// connection per transfer. Every request returns at once and ends with
// exactly one OnRequestDone, posted (never raised from inside the call that
// started it). Refusals (a request while one runs, a missing or unsafe
// property) throw FtpException before anything is sent.
//
// A request of several commands ends at the first reply outside its
// accepted list, with that code as its error, and sends nothing more. A
// transfer ends when both the data connection has closed and the final
// reply has arrived, in either order.
//
// Events may start the next request, call Close or hand the client to
// EventLoop::DeleteLater. Destroying the client closes both connections at
// once (no QUIT, no ABOR) and raises nothing.
class TFtpClient {
 public:
  // nullptr: EventLoop::Current(), which must exist (std::logic_error).
  explicit TFtpClient(EventLoop* loop = nullptr);
  ~TFtpClient();
  TFtpClient(const TFtpClient&) = delete;
  TFtpClient& operator=(const TFtpClient&) = delete;

  // ---- Properties (read when a request starts) ----
  std::string HostName;
  std::string Port = "ftp";  // decimal or a service name
  std::string UserName;
  std::string PassWord;
  std::string HostDirName;
  std::string HostFileName;
  // The file receiving a transfer when RcvdStream is not set: opened at
  // LocalFileOffset when that is above 0, else created empty.
  std::string LocalFileName;
  bool Binary = true;  // "TYPE I", else "TYPE A"
  unsigned Options = ftpAcceptLF;
  TFtpConnectionType ConnectionType = TFtpConnectionType::ftpDirect;  // only ftpDirect is built
  std::string ProxyServer;                                            // not used
  TFtpShareMode ShareMode = TFtpShareMode::ftpShareExclusive;         // not used on Linux
  int Timeout = 15;                                                   // not used by these requests
  bool Passive = false;  // "PASV" instead of "PORT"

  // REST position; reset to 0 when a transfer ends or RETR goes out without
  // an accepted REST right before it.
  int64_t StartDownloadAt = 0;
  // Non-zero: the running transfer is stopped once its byte count reaches
  // it. Read after every OnProgress, so it may be changed during a transfer.
  int64_t EndDownloadAt = 0;
  int64_t LocalFileOffset = 0;
  // Where a transfer's data goes instead of LocalFileName (not owned; may be
  // changed or cleared at any time, e.g. when the owner gives the client up).
  TReceiveStream* RcvdStream = nullptr;

  void SetResolver(std::shared_ptr<TNameResolver> resolver);
  // Limits what the data connections read (nullptr: no limit); the control
  // connection is never limited.
  void SetReceiveBudget(std::shared_ptr<TReceiveBudget> budget);

  // ---- Requests ----
  // Opens the control connection, waits for the greeting (below 500), sends
  // "USER" and, when asked for with 331, "PASS"; success is 230.
  void ConnectAsync();
  void TypeSetAsync();     // "TYPE I" / "TYPE A": 200
  void CwdAsync();         // "CWD " + HostDirName: 200, 250, 257
  void SizeAsync();        // "SIZE " + HostFileName: 213; SizeResult()
  void RestAsync();        // "REST " + StartDownloadAt: any reply below 500
  void GetAsync();         // "PASV"/"PORT", "RETR": 125/150, then 226/250
  void RestartGetAsync();  // "PASV"/"PORT", "REST" (350 only), "RETR"
  // Closes both connections at once: a running request ends without
  // OnRequestDone and no event follows. The client can connect again.
  void Close();

  // ---- State ----
  TFtpState State() const { return state_; }
  bool Connected() const;
  // A request runs (or its OnRequestDone is still to come).
  bool Busy() const { return state_ != TFtpState::ftpReady && state_ != TFtpState::ftpNotConnected; }
  int StatusCode() const { return statusCode_; }                 // code of the last reply
  const std::string& LastResponse() const { return lastResponse_; }  // its text
  const std::string& LastCommand() const { return lastCommand_; }    // the last command sent
  const std::string& ErrorMessage() const { return errorMessage_; }
  int64_t SizeResult() const { return sizeResult_; }  // -1 when SIZE told none
  int64_t ByteCount() const { return byteCount_; }    // bytes received by this transfer

  // ---- Events ----
  std::function<void(int error)> OnSessionConnected;
  std::function<void(int error)> OnSessionClosed;
  std::function<void(TFtpRequest request, int error)> OnRequestDone;
  // After each data chunk was written; count: bytes of this transfer.
  std::function<void(int64_t count, bool& abort)> OnProgress;
  std::function<void()> OnStateChange;
  std::function<void(const std::string& line)> OnCommand;   // each command sent
  std::function<void(const std::string& text)> OnResponse;  // each reply received
  std::function<void(const std::string& text)> OnDisplay;   // the client's own messages, "! ..."

 private:
  struct LocalFile;
  // Where the running request stands: what the next reply answers.
  enum class Step { Idle, Connecting, Greeting, User, Pass, Simple, Pasv, DataConnecting, Port, Rest, Retr };

  void StartRequest(TFtpRequest request);
  void CheckConnected() const;
  void SetState(TFtpState state);
  // The request that raised an event is still the one running.
  bool Current(uint64_t serial) const;
  // false: the request ended or the client went under an event.
  bool SendCommand(Step step, const std::string& command);
  bool Display(const std::string& text);
  std::unique_ptr<TWSocket> MakeDataSocket();

  void ConnectFailed(int error);
  void ControlConnected(int error);
  void ControlData();
  void ControlClosed(int error);
  void HandleReply(const TFtpReply& reply);
  void NextTransferStep();
  void OpenPassiveData();
  void OpenActiveData();
  void AcceptData();
  void DataConnected(int error);
  void DataAvailable();
  // Reads and delivers one chunk. false: nothing more now (or the transfer
  // or the client ended under an event).
  bool ReadData();
  void DataClosed(int error);
  void SendRetr();
  void TransferMaybeDone();
  void CloseData();
  void DataFailed(int error);
  void Finish(int error);

  EventLoop* loop_;
  std::unique_ptr<TWSocket> control_;
  std::unique_ptr<TWSocket> data_;
  std::unique_ptr<TWSocket> listener_;
  std::shared_ptr<TReceiveBudget> budget_;
  std::unique_ptr<LocalFile> localFile_;
  TEventDepth events_{"TFtpClient"};
  TFtpReplyReader reader_;
  std::vector<TFtpReply> replies_;

  TFtpState state_ = TFtpState::ftpNotConnected;
  TFtpRequest request_ = TFtpRequest::ftpNone;
  Step step_ = Step::Idle;
  std::vector<int> accepted_;  // codes a Simple step accepts; empty: below 500
  uint64_t serial_ = 0;      // changes when a request starts or ends, and on Close
  bool finishing_ = false;   // OnRequestDone of this request is posted
  bool restartCommand_ = false;  // the request sends REST before RETR
  bool restAccepted_ = false;    // REST was answered 350 right before RETR
  bool quiet_ = false;           // Close runs: the sockets' closes are no news

  int statusCode_ = 0;
  std::string lastResponse_;
  std::string lastCommand_;
  std::string errorMessage_;
  int64_t sizeResult_ = -1;
  int64_t byteCount_ = 0;

  // The running transfer.
  bool transferStarted_ = false;  // RETR sent
  bool dataClosed_ = false;       // the data connection was up and has ended
  int dataError_ = 0;
  bool finalReply_ = false;       // 226 or 250 arrived

  std::unique_ptr<char[]> buffer_;
};

}  // namespace brindle
