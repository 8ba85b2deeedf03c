#include "support/nginx_server.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "support/loopback_port.h"
#include "support/temp_dir.h"

namespace brindle::test {

bool NginxServer::Installed() { return access(kProgram, X_OK) == 0; }

NginxServer::NginxServer(std::string directory, std::string serverLines, std::string moreServers)
    : directory_(std::move(directory)), serverLines_(std::move(serverLines)), moreServers_(std::move(moreServers)) {}

NginxServer::~NginxServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool NginxServer::Start() {
  const std::string& d = directory_;
  chmod(d.c_str(), 0755);
  mkdir((d + "/www").c_str(), 0755);
  port_ = FreeLoopbackPort();
  const std::string conf =
      "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
      "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
      "  log_format brindle '$server_port \"$http_range\"';\n"
      "  access_log " + d + "/access.log brindle;\n  default_type application/octet-stream;\n"
      "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n"
      "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n"
      "  scgi_temp_path " + d + "/scgi;\n  server {\n    listen 127.0.0.1:" + std::to_string(port_) +
      ";\n    root " + d + "/www;\n" + serverLines_ + "  }\n" + moreServers_ + "}\n";
  WriteWholeFile(d + "/nginx.conf", conf);
  pid_ = fork();
  if (pid_ == 0) {
    execl(kProgram, kProgram, "-p", d.c_str(), "-c", (d + "/nginx.conf").c_str(), "-e", (d + "/error.log").c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid_ > 0 && WaitUntilLoopbackAccepts(port_);
}

void NginxServer::AddFile(const std::string& path, const std::string& content) {
  const std::string file = directory_ + "/www" + path;
  WriteWholeFile(file, content);
  chmod(file.c_str(), 0644);
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<NginxLogLine> NginxServer::AccessLog() const {
  std::vector<NginxLogLine> lines;
  std::istringstream log(ReadWholeFile(directory_ + "/access.log"));
  std::string text;
  while (std::getline(log, text)) {
    std::istringstream fields(text);
    NginxLogLine line;
    fields >> line.Port;
    const size_t open = text.find('"');
    const size_t close = text.rfind('"');
    if (open != std::string::npos && close > open) line.Range = text.substr(open + 1, close - open - 1);
    if (line.Range == "-") line.Range.clear();
    lines.push_back(line);
  }
  return lines;
}

std::string NginxServer::Error() const { return ReadWholeFile(directory_ + "/error.log"); }

}  // namespace brindle::test
