#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/web_server_process.h"

namespace brindle::test {

// One request as nginx logged it when it ended.
struct NginxLogLine {
  int Port = 0;       // of the server that answered
  std::string Range;  // the Range header, "" when the request had none
};

// Debian's nginx, logging each request's port and Range.
class NginxServer final : public WebServerProcess {
 public:
  static constexpr const char* kProgram = "/usr/sbin/nginx";
  static bool Installed();

  // `serverLines`: more lines for the server block (locations);
  // `moreServers`: further server blocks.
  explicit NginxServer(std::string directory, std::string serverLines = "", std::string moreServers = "")
      : WebServerProcess(std::move(directory)),
        serverLines_(std::move(serverLines)),
        moreServers_(std::move(moreServers)) {}
  std::vector<NginxLogLine> AccessLog() const;

 private:
  std::vector<std::string> Configure() override;

  std::string serverLines_;
  std::string moreServers_;
};

}  // namespace brindle::test
