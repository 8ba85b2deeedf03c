#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace brindle::test {

// A real web server from Debian's packages in one foreground process on a
// free loopback port, with its configuration and logs in `directory` and its
// document root in directory + "/www". Under root a worker may serve as
// nobody, so everything it reads is made world-readable.
class WebServerProcess {
 public:
  explicit WebServerProcess(std::string directory) : directory_(std::move(directory)) {}
  virtual ~WebServerProcess();  // stops it
  WebServerProcess(const WebServerProcess&) = delete;
  WebServerProcess& operator=(const WebServerProcess&) = delete;

  // Starts it and waits until it accepts; false with the error log in Error().
  // A port lost between choosing and binding it ends the server: it is
  // started again on another, a few times.
  bool Start();
  // Waits until the server accepts on another port of its configuration;
  // false when it has ended (such a port was taken meanwhile).
  bool Accepts(uint16_t port) const;
  // Writes a world-readable file under the document root (path from "/").
  void AddFile(const std::string& path, const std::string& content);
  std::string Url(const std::string& path) const;
  uint16_t Port() const { return port_; }
  std::string Error() const;

 protected:
  // Writes the configuration for Port() and gives the command line.
  virtual std::vector<std::string> Configure() = 0;
  const std::string& Directory() const { return directory_; }

 private:
  void Stop();

  std::string directory_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Debian's lighttpd, which honours Range only in HTTP/1.1 requests.
class LighttpdServer final : public WebServerProcess {
 public:
  static constexpr const char* kProgram = "/usr/sbin/lighttpd";
  static bool Installed();
  using WebServerProcess::WebServerProcess;

 private:
  std::vector<std::string> Configure() override;
};

}  // namespace brindle::test
