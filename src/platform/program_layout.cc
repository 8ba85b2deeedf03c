#include "platform/program_layout.h"

#include <sys/stat.h>
#include <unistd.h>

namespace brindle {
namespace {

bool IsFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The prefix that holds `directory` as its `relative` folder, or empty.
std::string PrefixAbove(const std::string& directory, const std::string& relative) {
  const std::string tail = "/" + relative;
  if (directory.size() <= tail.size() || directory.compare(directory.size() - tail.size(), tail.size(), tail) != 0)
    return "";
  return directory.substr(0, directory.size() - tail.size());
}

}  // namespace

TProgramLayout::TProgramLayout(std::string programDirectory, std::string prefix)
    : programDirectory_(std::move(programDirectory)), prefix_(std::move(prefix)) {}

TProgramLayout TProgramLayout::ForThisProgram() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return ForProgram(length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string());
}

TProgramLayout TProgramLayout::ForProgram(std::string programPath) {
  static const std::string kDeleted = " (deleted)";
  if (programPath.size() > kDeleted.size() &&
      programPath.compare(programPath.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    programPath.resize(programPath.size() - kDeleted.size());
  const size_t slash = programPath.rfind('/');
  if (programPath.empty() || programPath[0] != '/' || slash == std::string::npos) return TProgramLayout("", "");
  const std::string directory = programPath.substr(0, slash);
  // A bin folder alone proves nothing (the build tree may sit in one, and
  // ~/.local/share/brindle is the user's data): the installed extension does.
  for (const char* relative : {BRINDLE_INSTALL_BINDIR, BRINDLE_INSTALL_HOSTDIR}) {
    const std::string prefix = PrefixAbove(directory, relative);
    if (!prefix.empty() && IsFile(prefix + "/" + BRINDLE_INSTALL_DATADIR + "/extension/manifest.json"))
      return TProgramLayout(directory, prefix);
  }
  return TProgramLayout(directory, "");
}

std::string TProgramLayout::ProgramPath(const char* name) const {
  if (programDirectory_.empty()) return name;
  if (Installed()) return prefix_ + "/" + BRINDLE_INSTALL_BINDIR + "/" + name;
  return programDirectory_ + "/" + name;
}

std::string TProgramLayout::HostProgram() const {
  if (Installed()) return prefix_ + "/" + BRINDLE_INSTALL_HOSTDIR + "/brindle-host";
  return ProgramPath("brindle-host");
}

std::string TProgramLayout::ExtensionDirectory() const {
  return Installed() ? prefix_ + "/" + BRINDLE_INSTALL_DATADIR + "/extension" : "";
}

std::string TProgramLayout::ManualFile() const {
  return Installed() ? prefix_ + "/" + BRINDLE_INSTALL_DOCDIR + "/README.html" : BRINDLE_BUILD_MANUAL;
}

}  // namespace brindle
