#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace brindle {

// Synced: on the disk when the call returns. Unsynced: in the page cache
// only, which survives the program's death but not a power cut; for states
// that a later synced write makes durable, where a sync per change would
// cost more than the state is worth.
enum class TDurability : uint8_t { Synced, Unsynced };

// Replaces the file at path with content so that a crash or a failure at any
// moment leaves either the old file or the new one, never a mixture: the
// content goes to path + ".tmp" (the whole name plus ".tmp", so it never
// looks like a part file), is synced, and is renamed over path; then the
// directory is synced (neither sync when Unsynced). mode (less the umask) is
// the new file's permission. On failure the temporary file is removed, the
// old file is left as it was, errno tells why and the result is false.
bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t mode = 0644,
                         TDurability durability = TDurability::Synced);

// Fault injection for tests: the hook is called with the destination path
// before each step of WriteFileAtomically ("open", "write", "fsync",
// "rename"), and with the directory before DirectoryWriteError ("probe",
// paths.h); a non-zero result fails that step with that errno. An empty hook
// removes it.
using FileFaultHook = std::function<int(std::string_view step, const std::string& path)>;
void SetFileFaultHook(FileFaultHook hook);
// True when the hook fails this step of another file operation (the steps
// of ClaimFileName, say); errno is then set to its code.
bool FileFaultInjected(std::string_view step, const std::string& path);

}  // namespace brindle
