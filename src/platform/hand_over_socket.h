#pragma once

#include <sys/types.h>

#include <string>

namespace brindle {

// Where the hand-over channel of a profile lives: "brindle-<hash>.sock",
// the hash taken from the profile's canonical path, in $XDG_RUNTIME_DIR
// when that is a directory of ours and the path fits a Unix socket address;
// otherwise in the private directory /tmp/brindle-<uid>. Empty when no
// safe place exists.
std::string HandOverSocketPath(const std::string& configDirectory);

// Creates path with mode 0700 when missing; true only when it then is a
// real directory (not a symlink) owned by us with mode exactly 0700. A
// directory that another user could have prepared is refused, not repaired.
bool EnsurePrivateDirectory(const std::string& path);

// The user id of the process at the other end of a connected Unix socket.
bool SocketPeerUid(int fd, uid_t& uid);

}  // namespace brindle
