#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"

namespace brindle::test {

// An FTP server on 127.0.0.1 (a free port) that lives on the caller's event
// loop, on plain non-blocking sockets. It serves the files added to it
// (absolute paths) to any user, passive and active, from the REST position,
// and records every command line it receives. The public fields script its
// misbehaviour; they are read when they matter, so a test may change them
// between steps.
class FaultFtpServer {
 public:
  explicit FaultFtpServer(EventLoop& loop);
  ~FaultFtpServer();
  FaultFtpServer(const FaultFtpServer&) = delete;
  FaultFtpServer& operator=(const FaultFtpServer&) = delete;

  uint16_t Port() const { return port_; }
  // "ftp://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;
  void AddFile(const std::string& path, std::string content) { files_[path] = std::move(content); }

  // The reply to every later command with this verb ("USER", "SIZE", ...),
  // sent instead of the usual one and without its effect; lines separated
  // by "\n" (a multi-line reply). An empty reply removes the override.
  void SetReply(const std::string& verb, const std::string& reply);

  std::string Greeting = "220 FaultFtpServer ready";  // "": the server never greets
  std::string Home = "/";  // the login folder: where each session starts
  bool BareLf = false;                     // replies end their lines in LF alone
  std::string PasvAddress = "127,0,0,1";   // the address a 227 reply names
  int64_t DropAfter = -1;                  // a transfer's data connection ends after this many bytes
  int DropTransfers = -1;                  // how many transfers DropAfter cuts; -1: every one
  // The reply once the server has sent a transfer's data (or dropped it);
  // "": none, the control connection is closed instead.
  std::string TransferEnd = "226 Transfer complete";
  std::string DropEnd;  // the reply once DropAfter cut a transfer; "": TransferEnd
  bool ReplyBeforeClose = false;  // TransferEnd goes out before the data connection closes
  bool HoldEnd = false;           // the second of the two waits for Release()
  std::vector<int64_t> StallAt;   // transfer offsets at which sending waits for Release()
  std::vector<std::string> Silent;  // verbs never answered: the session falls silent there

  // Every command line received, on any connection, without its line end.
  const std::vector<std::string>& Commands() const { return commands_; }
  int Sessions() const { return sessions_; }
  int OpenSessions() const { return static_cast<int>(open_.size()); }
  int DataConnections() const { return dataConnections_; }
  // A transfer stands at a stall point or holds its end.
  bool Waiting() const;
  // Lets every waiting transfer go on to its next stall point or its end.
  void Release();

 private:
  struct Session;

  void OnListen();
  void OnControl(int id, unsigned events);
  void Handle(Session& s, const std::string& line);
  void Reply(Session& s, const std::string& text);
  void FlushControl(Session& s);
  void StartTransfer(Session& s, const std::string& path);
  void OnPasv(int id);
  void DataReady(Session& s);
  void OnData(int id, unsigned events);
  void SendData(Session& s);
  void EndTransfer(Session& s);
  void FinishEnd(Session& s);
  const std::string& EndReply(const Session& s) const;
  void CloseData(Session& s);
  void ClosePasv(Session& s);
  void Drop(int id);
  std::string Resolve(const Session& s, const std::string& path) const;

  EventLoop& loop_;
  int listenFd_ = -1;
  EventLoop::WatchId listenWatch_ = 0;
  uint16_t port_ = 0;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::string> replies_;
  std::vector<std::string> commands_;
  std::map<int, std::unique_ptr<Session>> open_;
  int sessions_ = 0;
  int dataConnections_ = 0;
};

}  // namespace brindle::test
