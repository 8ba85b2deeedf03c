#include "support/web_server_process.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/loopback_port.h"
#include "support/temp_dir.h"

namespace brindle::test {

WebServerProcess::~WebServerProcess() { Stop(); }

void WebServerProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

bool WebServerProcess::Start() {
  mkdir(directory_.c_str(), 0755);
  chmod(directory_.c_str(), 0755);
  mkdir((directory_ + "/www").c_str(), 0755);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Stop();
    port_ = FreeLoopbackPort();
    const std::vector<std::string> args = Configure();
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (pid_ > 0 && Accepts(port_)) return true;
  }
  return false;
}

bool WebServerProcess::Accepts(uint16_t port) const { return pid_ > 0 && WaitUntilLoopbackAccepts(port, pid_); }

void WebServerProcess::AddFile(const std::string& path, const std::string& content) {
  const std::string file = directory_ + "/www" + path;
  WriteWholeFile(file, content);
  chmod(file.c_str(), 0644);
}

std::string WebServerProcess::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string WebServerProcess::Error() const { return ReadWholeFile(directory_ + "/error.log"); }

bool LighttpdServer::Installed() { return access(kProgram, X_OK) == 0; }

std::vector<std::string> LighttpdServer::Configure() {
  const std::string& d = Directory();
  WriteWholeFile(d + "/lighttpd.conf", "server.document-root = \"" + d + "/www\"\nserver.bind = \"127.0.0.1\"\n" +
                                           "server.port = " + std::to_string(Port()) + "\nserver.errorlog = \"" + d +
                                           "/error.log\"\nserver.pid-file = \"" + d + "/lighttpd.pid\"\n");
  return {kProgram, "-D", "-f", d + "/lighttpd.conf"};
}

}  // namespace brindle::test
