#pragma once

#include <string>

namespace brindle {

// Gives the file at source the name target, or when that is taken the first
// free NumberedFileName(target, n), never replacing what is there, not even
// a file that appears at that very moment (another program, another
// profile's download of the same name). Tried in this order: a rename that
// refuses to replace; where the file system cannot do that, a hard link and
// then removing source; where it has no hard links either (some FUSE and
// network file systems), an empty placeholder made exclusively and renamed
// over. Returns the name taken, or "" (errno tells why, the source left as
// it was) when none could be. Source and target must be on one file system.
std::string ClaimFileName(const std::string& source, const std::string& target);

}  // namespace brindle
