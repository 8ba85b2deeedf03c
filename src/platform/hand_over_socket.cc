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
#include <vector>

#include "core/paths.h"
#include "core/text_file.h"

namespace brindle {
namespace {

// The canonical path, so that a profile reached through a symlink still
// finds the channel of the instance that holds its lock.
std::string CanonicalProfile(const std::string& configDirectory) {
  char resolved[PATH_MAX];
  return realpath(configDirectory.c_str(), resolved) ? std::string(resolved) : configDirectory;
}

std::string Hash(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

bool OurDirectory(const char* path) {
  struct stat info;
  return path[0] == '/' && stat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

}  // namespace

THandOverPlace HandOverPlace(const std::string& configDirectory) {
  constexpr size_t kMaxPath = sizeof(sockaddr_un::sun_path) - 1;
  const std::string profile = CanonicalProfile(configDirectory);
  const std::string hash = Hash(profile);
  const std::string name = "brindle-" + hash + ".sock";
  std::vector<std::string> folders;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool runtimeUsable = runtime != nullptr && OurDirectory(runtime);
  if (runtimeUsable) folders.push_back(runtime);
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') folders.push_back(std::string(cache) + "/brindle");
  folders.push_back(profile + "/channel");
  THandOverPlace place;
  for (const std::string& folder : folders) {
    if (folder.size() + 1 + hash.size() > kMaxPath) continue;
    place.Folder = folder;
    place.InRuntimeFolder = runtimeUsable && folder == runtime;
    if (!place.InRuntimeFolder && !(EnsureDirectory(DirectoryOf(folder), 0700) && EnsurePrivateDirectory(folder)))
      return place;
    place.SocketPath = folder + "/" + (folder.size() + 1 + name.size() <= kMaxPath ? name : hash);
    return place;
  }
  return place;
}

std::string HandOverSocketPath(const std::string& configDirectory) { return HandOverPlace(configDirectory).SocketPath; }

std::string HandOverPlaceNote(const THandOverPlace& place) {
  if (place.InRuntimeFolder) return "";
  if (place.SocketPath.empty())
    return "no private folder for the hand-over channel" + (place.Folder.empty() ? "" : " (" + place.Folder + ")") +
           ": a second start cannot reach this one";
  return "XDG_RUNTIME_DIR is not usable, so the hand-over channel is in " + place.Folder;
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
