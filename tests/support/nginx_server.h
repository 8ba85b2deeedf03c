#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace brindle::test {

// One request as nginx logged it when it ended.
struct NginxLogLine {
  int Port = 0;       // of the server that answered
  std::string Range;  // the Range header, "" when the request had none
};

// Debian's nginx in one foreground process on a free loopback port, with its
// configuration, logs and temporary files in `directory` and its document
// root in directory + "/www". Under root its worker may serve as nobody, so
// everything it reads is made world-readable.
class NginxServer {
 public:
  static constexpr const char* kProgram = "/usr/sbin/nginx";
  static bool Installed();

  // `serverLines`: more lines for the server block (locations);
  // `moreServers`: further server blocks.
  explicit NginxServer(std::string directory, std::string serverLines = "", std::string moreServers = "");
  ~NginxServer();  // stops it
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Starts it and waits until it accepts; false with the error log in Error().
  bool Start();
  // Writes a world-readable file under the document root (path from "/").
  void AddFile(const std::string& path, const std::string& content);
  std::string Url(const std::string& path) const;
  uint16_t Port() const { return port_; }
  std::vector<NginxLogLine> AccessLog() const;
  std::string Error() const;

 private:
  std::string directory_;
  std::string serverLines_;
  std::string moreServers_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace brindle::test
