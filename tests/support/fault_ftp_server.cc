#include "support/fault_ftp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "support/loopback_port.h"

namespace brindle::test {

struct FaultFtpServer::Session {
  int Id = 0;
  int Fd = -1;
  EventLoop::WatchId Watch = 0;
  std::string In, Out;
  bool CloseWhenFlushed = false;
  std::string Cwd = "/";
  int64_t Rest = 0;
  int PasvFd = -1;
  EventLoop::WatchId PasvWatch = 0;
  bool HaveActive = false;
  sockaddr_in Active{};
  // The running transfer.
  bool Transferring = false;
  bool WantData = false;  // RETR waits for the passive connection
  int DataFd = -1;
  EventLoop::WatchId DataWatch = 0;
  std::string Payload;
  size_t Sent = 0;
  std::vector<int64_t> Stalls;
  bool Stalled = false;
  bool EndHeld = false;
  bool Cut = false;  // DropAfter ends the running transfer
};

FaultFtpServer::FaultFtpServer(EventLoop& loop) : loop_(loop) {
  listenFd_ = ListenOnLoopback(port_, "FaultFtpServer");
  listenWatch_ = loop_.AddWatch(listenFd_, EventLoop::kReadable, [this](unsigned) { OnListen(); },
                                "FaultFtpServer.Listen");
}

FaultFtpServer::~FaultFtpServer() {
  while (!open_.empty()) Drop(open_.begin()->first);
  loop_.RemoveWatch(listenWatch_);
  close(listenFd_);
}

std::string FaultFtpServer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

void FaultFtpServer::SetReply(const std::string& verb, const std::string& reply) {
  if (reply.empty()) {
    replies_.erase(verb);
  } else {
    replies_[verb] = reply;
  }
}

bool FaultFtpServer::Waiting() const {
  return std::any_of(open_.begin(), open_.end(), [](const auto& e) { return e.second->Stalled || e.second->EndHeld; });
}

void FaultFtpServer::Release() {
  std::vector<int> ids;
  for (auto& [id, s] : open_) ids.push_back(id);
  for (int id : ids) {
    auto it = open_.find(id);
    if (it == open_.end()) continue;
    Session& s = *it->second;
    if (s.Stalled) {
      s.Stalled = false;
      s.Stalls.erase(s.Stalls.begin());
      SendData(s);
    } else if (s.EndHeld) {
      s.EndHeld = false;
      FinishEnd(s);
    }
  }
}

void FaultFtpServer::OnListen() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // replies go out at once
    const int id = ++sessions_;
    auto s = std::make_unique<Session>();
    s->Id = id;
    s->Fd = fd;
    s->Cwd = Home;
    s->Watch = loop_.AddWatch(fd, EventLoop::kReadable, [this, id](unsigned events) { OnControl(id, events); },
                              "FaultFtpServer.Control");
    Session& session = *s;
    open_[id] = std::move(s);
    if (!Greeting.empty()) Reply(session, Greeting);
  }
}

void FaultFtpServer::OnControl(int id, unsigned events) {
  auto it = open_.find(id);
  if (it == open_.end()) return;
  Session& s = *it->second;
  if (events & EventLoop::kWritable) FlushControl(s);
  if (!(events & EventLoop::kReadable) || !open_.count(id)) return;
  char buffer[4096];
  ssize_t n = recv(s.Fd, buffer, sizeof buffer, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return Drop(id);
  if (n < 0) return;
  s.In.append(buffer, static_cast<size_t>(n));
  size_t newline;
  while (open_.count(id) && (newline = s.In.find('\n')) != std::string::npos) {
    std::string line = s.In.substr(0, newline);
    s.In.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    commands_.push_back(line);
    Handle(s, line);
  }
}

std::string FaultFtpServer::Resolve(const Session& s, const std::string& path) const {
  std::string full = path.starts_with("/") ? path : (s.Cwd == "/" ? "/" : s.Cwd + "/") + path;
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  return full;
}

void FaultFtpServer::Handle(Session& s, const std::string& line) {
  const size_t space = line.find(' ');
  std::string verb = line.substr(0, space);
  for (char& c : verb) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
  if (std::find(Silent.begin(), Silent.end(), verb) != Silent.end()) return;
  if (auto over = replies_.find(verb); over != replies_.end()) return Reply(s, over->second);

  if (verb == "USER") return Reply(s, "331 Password required");
  if (verb == "PASS") return Reply(s, "230 Logged in");
  if (verb == "TYPE") return Reply(s, "200 Type set");
  if (verb == "NOOP") return Reply(s, "200 OK");
  if (verb == "CWD") {
    const std::string dir = Resolve(s, arg);
    const bool exists = dir == "/" || std::any_of(files_.begin(), files_.end(), [&](const auto& f) {
                          return f.first.starts_with(dir + "/");
                        });
    if (!exists) return Reply(s, "550 No such directory");
    s.Cwd = dir;
    return Reply(s, "250 Directory changed");
  }
  if (verb == "SIZE") {
    auto file = files_.find(Resolve(s, arg));
    if (file == files_.end()) return Reply(s, "550 No such file");
    return Reply(s, "213 " + std::to_string(file->second.size()));
  }
  if (verb == "REST") {
    s.Rest = std::stoll(arg);
    return Reply(s, "350 Restarting at " + arg);
  }
  if (verb == "PASV") {
    ClosePasv(s);
    uint16_t port = 0;
    s.PasvFd = ListenOnLoopback(port, "FaultFtpServer");
    s.HaveActive = false;
    s.PasvWatch = loop_.AddWatch(s.PasvFd, EventLoop::kReadable, [this, id = s.Id](unsigned) { OnPasv(id); },
                                 "FaultFtpServer.Pasv");
    return Reply(s, "227 Entering Passive Mode (" + PasvAddress + "," + std::to_string(port >> 8) + "," +
                        std::to_string(port & 255) + ")");
  }
  if (verb == "PORT") {
    unsigned h[4], p[2];
    if (sscanf(arg.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) != 6)
      return Reply(s, "501 Bad PORT");
    ClosePasv(s);
    s.HaveActive = true;
    s.Active.sin_family = AF_INET;
    s.Active.sin_addr.s_addr = htonl((h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3]);
    s.Active.sin_port = htons(static_cast<uint16_t>(p[0] * 256 + p[1]));
    return Reply(s, "200 PORT command successful");
  }
  if (verb == "RETR") return StartTransfer(s, Resolve(s, arg));
  if (verb == "QUIT") {
    s.CloseWhenFlushed = true;
    return Reply(s, "221 Goodbye");
  }
  Reply(s, "502 Command not implemented");
}

void FaultFtpServer::Reply(Session& s, const std::string& text) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    s.Out += text.substr(pos, end - pos) + (BareLf ? "\n" : "\r\n");
    pos = end + 1;
  }
  FlushControl(s);
}

void FaultFtpServer::FlushControl(Session& s) {
  while (!s.Out.empty()) {
    ssize_t n = send(s.Fd, s.Out.data(), s.Out.size(), MSG_NOSIGNAL);
    if (n < 0) break;
    s.Out.erase(0, static_cast<size_t>(n));
  }
  loop_.SetWatchEvents(s.Watch, EventLoop::kReadable | (s.Out.empty() ? 0u : EventLoop::kWritable));
  if (s.Out.empty() && s.CloseWhenFlushed) Drop(s.Id);
}

void FaultFtpServer::StartTransfer(Session& s, const std::string& path) {
  auto file = files_.find(path);
  if (file == files_.end()) return Reply(s, "550 No such file");
  if (s.PasvFd < 0 && s.DataFd < 0 && !s.HaveActive) return Reply(s, "425 Use PORT or PASV first");
  const int64_t from = std::min<int64_t>(s.Rest, static_cast<int64_t>(file->second.size()));
  s.Rest = 0;
  s.Payload = file->second.substr(static_cast<size_t>(from));
  s.Sent = 0;
  s.Stalls = StallAt;
  std::sort(s.Stalls.begin(), s.Stalls.end());
  s.Stalled = s.EndHeld = s.Cut = false;
  s.Transferring = true;
  if (s.HaveActive) {
    s.HaveActive = false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&s.Active), sizeof s.Active) != 0) {
      close(fd);
      s.Transferring = false;
      return Reply(s, "425 Can't open data connection");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    s.DataFd = fd;
    return DataReady(s);
  }
  if (s.DataFd >= 0) return DataReady(s);  // the client connected before RETR
  s.WantData = true;
}

void FaultFtpServer::OnPasv(int id) {
  auto it = open_.find(id);
  if (it == open_.end()) return;
  Session& s = *it->second;
  if (s.PasvFd < 0 || s.DataFd >= 0) return;
  int fd = accept4(s.PasvFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  ClosePasv(s);
  s.DataFd = fd;
  if (!s.WantData) return;  // RETR is still to come
  s.WantData = false;
  DataReady(s);
}

void FaultFtpServer::DataReady(Session& s) {
  ++dataConnections_;
  s.DataWatch = loop_.AddWatch(s.DataFd, EventLoop::kReadable, [this, id = s.Id](unsigned events) { OnData(id, events); },
                               "FaultFtpServer.Data");
  Reply(s, "150 Opening BINARY mode data connection");
  SendData(s);
}

void FaultFtpServer::OnData(int id, unsigned events) {
  auto it = open_.find(id);
  if (it == open_.end() || it->second->DataFd < 0) return;
  Session& s = *it->second;
  if (events & EventLoop::kReadable) {
    char buffer[512];
    ssize_t n = recv(s.DataFd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      // The client closed its end before the transfer was over.
      CloseData(s);
      if (s.Transferring) {
        s.Transferring = s.Stalled = s.EndHeld = false;
        Reply(s, "426 Connection closed; transfer aborted");
      }
      return;
    }
  }
  if (events & EventLoop::kWritable) SendData(s);
}

void FaultFtpServer::SendData(Session& s) {
  if (s.DataFd < 0 || !s.Transferring || s.Stalled || s.EndHeld) return;
  size_t end = s.Payload.size();
  if (DropAfter >= 0 && DropTransfers != 0) end = std::min(end, static_cast<size_t>(DropAfter));
  size_t limit = end;
  if (!s.Stalls.empty()) limit = std::min(limit, static_cast<size_t>(std::max<int64_t>(0, s.Stalls.front())));
  while (s.Sent < limit) {
    ssize_t n = send(s.DataFd, s.Payload.data() + s.Sent, limit - s.Sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) break;
      CloseData(s);
      s.Transferring = false;
      return Reply(s, "426 Connection closed; transfer aborted");
    }
    s.Sent += static_cast<size_t>(n);
  }
  if (s.Sent < limit) {
    loop_.SetWatchEvents(s.DataWatch, EventLoop::kReadable | EventLoop::kWritable);
    return;
  }
  loop_.SetWatchEvents(s.DataWatch, EventLoop::kReadable);
  if (limit < end) {
    s.Stalled = true;
    return;
  }
  s.Cut = end < s.Payload.size();
  if (s.Cut && DropTransfers > 0) --DropTransfers;
  EndTransfer(s);
}

const std::string& FaultFtpServer::EndReply(const Session& s) const {
  return s.Cut && !DropEnd.empty() ? DropEnd : TransferEnd;
}

void FaultFtpServer::EndTransfer(Session& s) {
  // First the one of the two that comes first, then (held or not) the other.
  if (ReplyBeforeClose) {
    if (EndReply(s).empty()) return FinishEnd(s);
    Reply(s, EndReply(s));
  } else {
    CloseData(s);
  }
  if (HoldEnd) {
    s.EndHeld = true;
    return;
  }
  FinishEnd(s);
}

void FaultFtpServer::FinishEnd(Session& s) {
  s.Transferring = false;
  if (ReplyBeforeClose) {
    CloseData(s);
  } else if (!EndReply(s).empty()) {
    return Reply(s, EndReply(s));
  }
  if (EndReply(s).empty()) Drop(s.Id);  // no final reply: the session just ends
}

void FaultFtpServer::CloseData(Session& s) {
  if (s.DataFd < 0) return;
  loop_.RemoveWatch(s.DataWatch);
  // Half-close first so that the client reads everything sent before the end.
  shutdown(s.DataFd, SHUT_WR);
  close(s.DataFd);
  s.DataFd = -1;
  s.DataWatch = 0;
}

void FaultFtpServer::ClosePasv(Session& s) {
  if (s.PasvFd < 0) return;
  loop_.RemoveWatch(s.PasvWatch);
  close(s.PasvFd);
  s.PasvFd = -1;
  s.PasvWatch = 0;
}

void FaultFtpServer::Drop(int id) {
  auto it = open_.find(id);
  if (it == open_.end()) return;
  Session& s = *it->second;
  CloseData(s);
  ClosePasv(s);
  loop_.RemoveWatch(s.Watch);
  shutdown(s.Fd, SHUT_WR);
  close(s.Fd);
  open_.erase(it);
}

}  // namespace brindle::test
