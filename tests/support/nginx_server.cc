#include "support/nginx_server.h"

#include <unistd.h>

#include <sstream>

#include "support/temp_dir.h"

namespace brindle::test {

bool NginxServer::Installed() { return access(kProgram, X_OK) == 0; }

std::vector<std::string> NginxServer::Configure() {
  const std::string& d = Directory();
  const std::string conf =
      "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
      "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
      "  log_format brindle '$server_port \"$http_range\"';\n"
      "  access_log " + d + "/access.log brindle;\n  default_type application/octet-stream;\n"
      "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n"
      "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n"
      "  scgi_temp_path " + d + "/scgi;\n  server {\n    listen 127.0.0.1:" + std::to_string(Port()) +
      ";\n    root " + d + "/www;\n" + serverLines_ + "  }\n" + moreServers_ + "}\n";
  WriteWholeFile(d + "/nginx.conf", conf);
  return {kProgram, "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"};
}

std::vector<NginxLogLine> NginxServer::AccessLog() const {
  std::vector<NginxLogLine> lines;
  std::istringstream log(ReadWholeFile(Directory() + "/access.log"));
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


}  // namespace brindle::test
