#include "platform/network_manager_dial_up.h"

#include <utility>

#include "core/log_error.h"
#include "platform/process_start.h"

namespace brindle {

std::vector<std::string> SplitNmcliTerseLine(std::string_view line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size() && (line[i + 1] == ':' || line[i + 1] == '\\')) {
      fields.back() += line[++i];
    } else if (c == ':') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string EscapeNmcliTerseField(std::string_view field) {
  std::string escaped;
  for (const char c : field) {
    if (c == ':' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::vector<TNmcliConnection> ParseNmcliConnections(std::string_view output) {
  std::vector<TNmcliConnection> connections;
  while (!output.empty()) {
    const size_t end = output.find('\n');
    std::string_view line = output.substr(0, end);
    output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
    std::vector<std::string> fields = SplitNmcliTerseLine(line);
    if (fields.size() != 2 || fields[0].empty()) continue;
    connections.push_back({std::move(fields[0]), std::move(fields[1])});
  }
  return connections;
}

bool IsDialUpLikeType(const std::string& type) {
  return type == "gsm" || type == "cdma" || type == "bluetooth" || type == "pppoe";
}

NetworkManagerDialUp::NetworkManagerDialUp(std::string program, int timeoutMs)
    : program_(std::move(program)), timeoutMs_(timeoutMs) {}

bool NetworkManagerDialUp::IsBluetoothDialUp(const std::string& name) {
  std::string output;
  if (RunProcessCapture({program_, "-t", "-f", "bluetooth.type", "connection", "show", "id", name}, output,
                        timeoutMs_) != 0) {
    return false;
  }
  // The answer is one "bluetooth.type:<kind>" line.
  const std::string_view line = std::string_view(output).substr(0, output.find('\n'));
  const std::vector<std::string> fields = SplitNmcliTerseLine(line);
  return fields.size() == 2 && fields[0] == "bluetooth.type" && fields[1] == "dun";
}

std::vector<std::string> NetworkManagerDialUp::DialUpConnections(bool activeOnly) {
  std::vector<std::string> argv = {program_, "-t", "-f", "NAME,TYPE", "connection", "show"};
  if (activeOnly) argv.push_back("--active");
  std::string output;
  std::vector<std::string> names;
  if (RunProcessCapture(argv, output, timeoutMs_) != 0) return names;
  for (const TNmcliConnection& connection : ParseNmcliConnections(output)) {
    if (!IsDialUpLikeType(connection.Type)) continue;
    if (connection.Type == "bluetooth" && !IsBluetoothDialUp(connection.Name)) continue;
    names.push_back(connection.Name);
  }
  return names;
}

std::vector<std::string> NetworkManagerDialUp::Entries() {
  try {
    return DialUpConnections(false);
  } catch (...) {
    LogError("NetworkManagerDialUp.Entries");
  }
  return {};
}

bool NetworkManagerDialUp::IsConnected() {
  try {
    return !DialUpConnections(true).empty();
  } catch (...) {
    LogError("NetworkManagerDialUp.IsConnected");
  }
  return false;
}

bool NetworkManagerDialUp::Dial(const std::string&) { return false; }

bool NetworkManagerDialUp::HangUp() {
  try {
    const std::vector<std::string> active = DialUpConnections(true);
    bool allDown = !active.empty();
    for (const std::string& name : active) {
      std::string ignored;
      if (RunProcessCapture({program_, "connection", "down", "id", name}, ignored, timeoutMs_) != 0) allDown = false;
    }
    return allDown;
  } catch (...) {
    LogError("NetworkManagerDialUp.HangUp");
  }
  return false;
}

}  // namespace brindle
