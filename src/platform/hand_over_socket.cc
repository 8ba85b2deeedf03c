#include "platform/hand_over_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace brindle {
namespace {

std::string ProfileHash(const std::string& configDirectory) {
  // The canonical path, so that a profile reached through a symlink still
  // finds the channel of the instance that holds its lock.
  char resolved[PATH_MAX];
  const std::string path = realpath(configDirectory.c_str(), resolved) ? std::string(resolved) : configDirectory;
  uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : path) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

bool OurDirectory(const char* path) {
  struct stat info;
  return path[0] == '/' && stat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

}  // namespace

std::string HandOverSocketPath(const std::string& configDirectory) {
  const std::string name = "brindle-" + ProfileHash(configDirectory) + ".sock";
  constexpr size_t kMaxPath = sizeof(sockaddr_un::sun_path) - 1;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && OurDirectory(runtime)) {
    std::string path = std::string(runtime) + "/" + name;
    if (path.size() <= kMaxPath) return path;
  }
  const std::string fallback = "/tmp/brindle-" + std::to_string(geteuid());
  if (!EnsurePrivateDirectory(fallback)) return "";
  return fallback + "/" + name;
}

bool EnsurePrivateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 07777) == 0700;
}

bool SocketPeerUid(int fd, uid_t& uid) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) return false;
  uid = credentials.uid;
  return true;
}

}  // namespace brindle
