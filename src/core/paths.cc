#include "core/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/atomic_file.h"
#include "core/crash_point.h"

namespace brindle {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeDirectory() {
  std::string home = Environment("HOME");
  if (!home.empty()) return WithoutTrailingSlashes(home);
  // Services and some sandboxes run without $HOME; the password database still knows.
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return WithoutTrailingSlashes(found->pw_dir);
  return "/";
}

// An XDG base directory; relative values are invalid by the XDG rules and ignored.
std::string XdgDirectory(const char* variable, const char* fallbackUnderHome) {
  const std::string value = Environment(variable);
  if (!value.empty() && value.front() == '/') return WithoutTrailingSlashes(value);
  return HomeDirectory() + "/" + fallbackUnderHome;
}

std::string XdgConfigHome() { return XdgDirectory("XDG_CONFIG_HOME", ".config"); }

std::string BrindleHome() { return WithoutTrailingSlashes(Environment("BRINDLE_HOME")); }

std::string ExpandHome(const std::string& value, const std::string& home) {
  if (value == "$HOME") return home;
  if (value.rfind("$HOME/", 0) == 0) return home + value.substr(5);
  return value;
}

}  // namespace

std::string ConfigDirectory() {
  const std::string home = BrindleHome();
  return home.empty() ? XdgConfigHome() + "/brindle" : home;
}

std::string DataDirectory() {
  const std::string home = BrindleHome();
  return home.empty() ? XdgDirectory("XDG_DATA_HOME", ".local/share") + "/brindle" : home;
}

bool ProfileInBrindleHome() { return !BrindleHome().empty(); }

std::string ApplicationDirectory() {
  std::string directory = DataDirectory();
  if (directory.back() != '/') directory += '/';
  return directory;
}

std::string CategoriesFile() { return ApplicationDirectory() + "cat.dat"; }
std::string DefaultPartialDownloadsDirectory() { return ApplicationDirectory() + "Partial Downloads"; }
std::string MirrorListFile() { return ApplicationDirectory() + "mirrors.lst"; }

std::string RegistryFile() {
  std::string directory = ConfigDirectory();
  if (directory.back() != '/') directory += '/';
  return directory + "registry.reg";
}

std::string UserDirectoryFromUserDirs(std::string_view text, std::string_view key, const std::string& home) {
  // Lines look like: XDG_DOWNLOAD_DIR="$HOME/Downloads", shell-quoted.
  const std::string prefix = std::string(key) + "=";
  std::string result;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.substr(0, prefix.size()) != prefix) continue;
    line.remove_prefix(prefix.size());
    if (line.empty() || line.front() != '"') continue;
    std::string value;
    bool closed = false;
    for (size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value += line[i];
      }
    }
    // The last valid entry wins, as when the shell sources the file; only
    // absolute paths and ones under $HOME are valid there.
    if (!closed) continue;
    value = ExpandHome(value, home);
    if (!value.empty() && value.front() == '/') result = value;
  }
  return result.empty() ? result : WithoutTrailingSlashes(result);
}

std::string UserDirectory(std::string_view key) {
  const std::string home = HomeDirectory();
  const std::string fromEnvironment = Environment(std::string(key).c_str());
  if (!fromEnvironment.empty()) return WithoutTrailingSlashes(ExpandHome(fromEnvironment, home));
  std::ifstream file(XdgConfigHome() + "/user-dirs.dirs", std::ios::binary);
  if (!file) return "";
  std::ostringstream text;
  text << file.rdbuf();
  return UserDirectoryFromUserDirs(text.str(), key, home);
}

std::string DefaultDownloadDirectory() {
  const std::string configured = UserDirectory("XDG_DOWNLOAD_DIR");
  return configured.empty() ? HomeDirectory() + "/Downloads" : configured;
}

bool EnsureDirectory(const std::string& path, mode_t mode) {
  if (path.empty()) return false;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  size_t position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int DirectoryWriteError(const std::string& dir) {
  // Tests run as root, where permissions stop nothing: they ask for what a
  // read-only mount answers.
  if (FailPoint("write-check", dir)) return EROFS;
  if (FileFaultInjected("probe", dir)) return errno;
  std::string path = dir + "/.brindle-write-check-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) return errno;
  unlink(path.c_str());
  close(fd);
  return 0;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t FreeDiskSpace(const std::string& path) {
#ifdef BRINDLE_TEST_HOOKS
  if (const std::string injected = Environment("BRINDLE_FREE_SPACE"); !injected.empty()) {
    int64_t bytes = -1;
    std::from_chars(injected.data(), injected.data() + injected.size(), bytes);
    return bytes;
  }
#endif
  std::string existing = WithoutTrailingSlashes(path);
  struct statvfs info {};
  while (statvfs(existing.c_str(), &info) != 0) {
    if (errno != ENOENT || existing == ".") return -1;
    existing = DirectoryOf(existing);
  }
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

}  // namespace brindle
