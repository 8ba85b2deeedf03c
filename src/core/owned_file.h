#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace brindle {

// Files Brindle makes for itself (part files) are only ever used as regular
// files with one name. A symbolic link, a FIFO, a device, a directory or a
// file with other names sitting at such a name is a stranger: never written
// through, read or waited on.

// Opens path (flags: O_RDONLY or O_WRONLY, with O_CREAT, O_TRUNC as wanted)
// without following a symbolic link and without blocking on a FIFO, and
// keeps the descriptor only when it is a regular file with one link; its
// O_NONBLOCK is cleared. With O_CREAT a stranger is removed (the name, not
// what it points to) and a new file made; without, the result is -1 with
// errno ELOOP for a symbolic link, EMLINK for a file with other names and
// ENXIO (or EISDIR) for anything else that is not a regular file.
int OpenOwnedFile(const std::string& path, int flags, mode_t mode = 0644);

// The size of the owned file at path; -1 when there is none. A stranger
// there is removed: it is not Brindle's file, and one made anew replaces it.
int64_t OwnedFileSize(const std::string& path);

// Cuts the owned file at path to length bytes when it is longer; false
// (errno set) when that fails or no owned file is there.
bool TruncateOwnedFile(const std::string& path, int64_t length);

}  // namespace brindle
