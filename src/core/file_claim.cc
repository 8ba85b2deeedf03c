#include "core/file_claim.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "core/atomic_file.h"
#include "core/file_names.h"

namespace brindle {
namespace {

// How the names are claimed on this file system; a step found missing is
// not tried again for the next candidate.
enum class TClaimWay { NoReplaceRename, Link, Placeholder };

// The file system cannot do this way at all (as opposed to: the name is
// taken, or the directory refuses).
bool Unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM; }

constexpr int64_t kMaxNumber = 100000;

}  // namespace

std::string ClaimFileName(const std::string& source, const std::string& target) {
  TClaimWay way = TClaimWay::NoReplaceRename;
  for (int64_t n = 0; n <= kMaxNumber;) {
    const std::string candidate = NumberedFileName(target, n);
    switch (way) {
      case TClaimWay::NoReplaceRename:
        if (!FileFaultInjected("renameat2", candidate) &&
            renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0)
          return candidate;
        if (Unsupported(errno)) {
          way = TClaimWay::Link;
          continue;
        }
        break;
      case TClaimWay::Link:
        if (!FileFaultInjected("link", candidate) && link(source.c_str(), candidate.c_str()) == 0) {
          // Both names lead to the file now; the old one goes.
          unlink(source.c_str());
          return candidate;
        }
        if (Unsupported(errno)) {
          way = TClaimWay::Placeholder;
          continue;
        }
        break;
      case TClaimWay::Placeholder: {
        // The placeholder is this claim's own: renaming over it replaces
        // nothing anybody else made.
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
          close(fd);
          if (rename(source.c_str(), candidate.c_str()) == 0) return candidate;
          const int error = errno;
          unlink(candidate.c_str());
          errno = error;
          return "";
        }
        break;
      }
    }
    if (errno != EEXIST) return "";
    ++n;
  }
  errno = EEXIST;
  return "";
}

}  // namespace brindle
