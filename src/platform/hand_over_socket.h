#pragma once

#include <sys/types.h>

#include <string>

namespace brindle {

// Where the hand-over channel of a profile lives. The folder is the first of
// these whose path leaves room for a socket name in a Unix socket address:
// $XDG_RUNTIME_DIR when that is a directory of ours; $XDG_CACHE_HOME/brindle;
// the profile's "channel" folder. Only the environment and the profile's
// canonical path decide, so every start of the profile reaches the same
// socket, and no other user can take the place first. The socket is
// "brindle-<hash>.sock", the hash taken from the profile's canonical path,
// or the bare hash where that name would not fit.
struct THandOverPlace {
  std::string Folder;
  std::string SocketPath;   // empty when no safe place exists
  bool InRuntimeFolder = false;
};
// Creates the folder (mode 0700) outside the runtime folder when missing,
// and refuses one that is not private (EnsurePrivateDirectory).
THandOverPlace HandOverPlace(const std::string& configDirectory);
std::string HandOverSocketPath(const std::string& configDirectory);
// What a start tells on standard error about the place: where the channel
// is when that is not the runtime folder; "" when it is.
std::string HandOverPlaceNote(const THandOverPlace& place);

// Creates path with mode 0700 when missing; true only when it then is a
// real directory (not a symlink) owned by us with mode exactly 0700. A
// directory that another user could have prepared is refused, not repaired.
bool EnsurePrivateDirectory(const std::string& path);

// The user id of the process at the other end of a connected Unix socket.
bool SocketPeerUid(int fd, uid_t& uid);

}  // namespace brindle
