#pragma once

#include <string>

namespace brindle {

// The lock that makes one program instance per profile: flock on
// "<config dir>/brindle.lock". The first instance holds it for its whole
// life; the kernel drops it when the process ends, however it ends, so a
// crashed instance never leaves the profile locked.
//
// flock locks belong to an open file description: two lock objects in one
// process exclude each other just as two processes do.
class TInstanceLock {
 public:
  enum class TResult {
    Acquired,  // ours now (or already)
    Busy,      // another instance holds it
    Failed,    // the lock file cannot be opened or locked
  };

  explicit TInstanceLock(std::string configDirectory);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // Never blocks. Creates the config directory and the lock file (0600)
  // when missing. The descriptor closes on exec, so programs we start do
  // not keep the profile locked after we end.
  TResult Acquire();
  void Release();
  bool Held() const { return fd_ >= 0; }

  const std::string& Directory() const { return directory_; }
  std::string LockFilePath() const { return directory_ + "/brindle.lock"; }

 private:
  std::string directory_;
  int fd_ = -1;
};

}  // namespace brindle
