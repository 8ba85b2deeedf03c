#include "engine/combine_parts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "core/crash_point.h"
#include "core/event_loop.h"
#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/prompt_port.h"
#include "core/settings.h"
#include "platform/shell.h"

namespace brindle {
namespace {

// One copy step, also the finest unit of progress and of cancelling. An
// in-kernel copy takes big steps: each call has a fixed cost, and on file
// systems that share blocks (XFS, btrfs) a step is one cheap transaction.
constexpr int64_t kKernelCopyBlock = 16 * 1024 * 1024;
constexpr int64_t kBlockSize = 1024 * 1024;
constexpr const char* kJoinSuffix = ".brindle-join.tmp";
constexpr size_t kMaxNameBytes = 255;
constexpr const char* kMessageCaption = "Brindle";

std::string ErrorText(const std::string& what, const std::string& path, int error) {
  char buffer[128];
  return what + " " + path + ": " + strerror_r(error, buffer, sizeof buffer);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Durability of a rename; it has happened already, so a failure here is
// not the join's failure.
void SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

struct Part {
  std::string Path;
  int Fd;
  int64_t Size;
};

struct PartList {
  std::vector<Part> Items;
  PartList() = default;
  PartList(const PartList&) = delete;
  PartList& operator=(const PartList&) = delete;
  ~PartList() { CloseAll(); }
  void CloseAll() {
    for (Part& part : Items) {
      if (part.Fd >= 0) close(part.Fd);
      part.Fd = -1;
    }
  }
};

// Removes the temporary file unless the join got as far as renaming it.
class TempFile {
 public:
  TempFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~TempFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }
  void Commit() { committed_ = true; }

 private:
  std::string path_;
  int fd_;
  bool committed_ = false;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

struct TCombineParts::Shared {
  std::atomic<bool> Cancelled{false};
  std::atomic<int64_t> Written{0};
  std::atomic<int64_t> Total{-1};
  std::atomic<bool> ProgressPending{false};
};

struct TCombineParts::Outcome {
  bool Success = false;
  std::string Error;
  std::string Message;  // for the user, through the prompt port
};

// Everything the worker thread touches: copies of the owner's inputs and the
// shared state. The owner itself is only named in tasks posted to the loop,
// which check the cancel flag before they use it.
class TCombineParts::Worker {
 public:
  explicit Worker(TCombineParts& owner)
      : tmpFileName_(owner.tmpFileName_),
        remoteFSize_(owner.remoteFSize_),
        lclFileName_(owner.lclFileName_),
        owner_(&owner),
        loop_(owner.loop_),
        shared_(owner.shared_),
        lastReportMs_(owner.loop_->GetClock().MonotonicMs()) {}

  void operator()() {
    Outcome outcome;
    try {
      outcome = Run();
    } catch (...) {
      LogError("TCombineParts.Execute");
      outcome = Outcome{};
      outcome.Error = "Combining the parts failed";
    }
    try {
      if (shared_->Cancelled) return;
      loop_->Post([shared = shared_, owner = owner_, outcome = std::move(outcome)] {
        if (!shared->Cancelled) owner->Finish(outcome);
      });
    } catch (...) {
      LogError("TCombineParts.Execute");
    }
  }

 private:
  Outcome Failed(std::string error, bool tellUser = false) const {
    Outcome outcome;
    outcome.Error = std::move(error);
    if (tellUser) outcome.Message = outcome.Error;
    return outcome;
  }
  Outcome CouldntOpen(const std::string& path) const { return Failed("Couldn't open" + path, true); }

  Outcome Run() {
    if (lclFileName_.empty()) return Failed("No file name to combine the parts into");
    PartList parts;
    Outcome outcome;
    if (!CollectChain(parts, outcome)) return outcome;

    if (parts.Items.size() == 1 && RenameSinglePart(parts.Items.front())) {
      parts.Items.front().Fd = -1;  // closed by RenameSinglePart
      Progress(parts.Items.front().Size);
      outcome.Success = true;
      return outcome;
    }

    const std::string tempPath = JoinTempFileName(lclFileName_);
    unlink(tempPath.c_str());  // left by a crashed join
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return CouldntOpen(lclFileName_);
    TempFile temp(tempPath, fd);
    for (const Part& part : parts.Items) {
      std::string error;
      // A full disk or a file-size limit: told like a file that cannot be
      // opened, as the download is only paused and would fail again.
      if (!CopyPart(part, temp, error)) return Failed(error, true);
      CrashPoint("combine-part-copied");
    }
    if (shared_->Cancelled) return outcome;
    if (fsync(temp.Fd()) != 0) return Failed(ErrorText("Couldn't write", tempPath, errno), true);
    if (!temp.Close()) return Failed(ErrorText("Couldn't write", tempPath, errno), true);
    CrashPoint("combine-before-rename");
    if (rename(tempPath.c_str(), lclFileName_.c_str()) != 0) return CouldntOpen(lclFileName_);
    temp.Commit();
    SyncDirectory(DirectoryOf(lclFileName_));
    CrashPoint("combine-after-rename");

    // The finished file is complete on disk: only now may the parts go.
    parts.CloseAll();
    for (const Part& part : parts.Items) unlink(part.Path.c_str());
    outcome.Success = true;
    return outcome;
  }

  // Opens the chain and checks that it covers exactly RemoteFSize bytes;
  // with -1 the chain ends before the first missing or empty part file
  // (".0" itself may be empty: an empty file).
  bool CollectChain(PartList& parts, Outcome& failure) {
    const bool sizeKnown = remoteFSize_ >= 0;
    int64_t offset = 0;
    while (!(sizeKnown && offset >= remoteFSize_ && !parts.Items.empty())) {
      const std::string path = tmpFileName_ + "." + std::to_string(offset);
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        if (!sizeKnown && !parts.Items.empty() && errno == ENOENT) break;
        failure = CouldntOpen(path);
        return false;
      }
      struct stat info {};
      if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        failure = CouldntOpen(path);
        return false;
      }
      const int64_t size = info.st_size;
      if (size == 0 && !parts.Items.empty()) {
        close(fd);
        if (!sizeKnown) break;
        failure = Failed("Part file does not fit its range: " + path);
        return false;
      }
      parts.Items.push_back({path, fd, size});
      offset += size;
      if (size == 0) break;
    }
    if (sizeKnown && offset != remoteFSize_) {
      failure = Failed("Part file does not fit its range: " + parts.Items.back().Path);
      return false;
    }
    shared_->Total = offset;
    return true;
  }

  // The one part becomes the finished file. False (the part untouched)
  // when the rename cannot be done, e.g. across file systems; the copy then
  // tells what is wrong.
  bool RenameSinglePart(Part& part) const {
    if (fsync(part.Fd) != 0) return false;
    CrashPoint("combine-before-rename");
    if (rename(part.Path.c_str(), lclFileName_.c_str()) != 0) return false;
    close(part.Fd);
    SyncDirectory(DirectoryOf(lclFileName_));
    return true;
  }

  // Copies exactly part.Size bytes; in-kernel where the file systems allow.
  bool CopyPart(const Part& part, TempFile& temp, std::string& error) {
    off_t inOffset = 0;
    while (inOffset < part.Size) {
      if (shared_->Cancelled) {
        error = "Cancelled";
        return false;
      }
      const size_t want =
          static_cast<size_t>(std::min<int64_t>(part.Size - inOffset, kernelCopy_ ? kKernelCopyBlock : kBlockSize));
      ssize_t copied;
      if (kernelCopy_) {
        copied = copy_file_range(part.Fd, &inOffset, temp.Fd(), nullptr, want, 0);
        if (copied < 0) {
          if (errno == EINTR) continue;
          if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            kernelCopy_ = false;
            continue;
          }
          error = ErrorText("Couldn't write", temp.Path(), errno);
          return false;
        }
      } else {
        if (buffer_.empty()) buffer_.resize(kBlockSize);
        copied = pread(part.Fd, buffer_.data(), want, inOffset);
        if (copied < 0) {
          if (errno == EINTR) continue;
          error = ErrorText("Couldn't read", part.Path, errno);
          return false;
        }
        if (!WriteAll(temp.Fd(), buffer_.data(), static_cast<size_t>(copied))) {
          error = ErrorText("Couldn't write", temp.Path(), errno);
          return false;
        }
        inOffset += copied;
      }
      if (copied == 0) {
        error = "Part file is shorter than its range: " + part.Path;
        return false;
      }
      Progress(copied);
      CrashPoint("combine-block-copied");
    }
    return true;
  }

  // Counts copied bytes and posts them, throttled by the clock and never
  // while an earlier report still waits on the loop.
  void Progress(int64_t bytes) {
    written_ += bytes;
    shared_->Written = written_;
    const int64_t now = loop_->GetClock().MonotonicMs();
    if (now - lastReportMs_ < kProgressIntervalMs) return;
    if (shared_->ProgressPending.exchange(true)) return;
    lastReportMs_ = now;
    loop_->Post([shared = shared_, owner = owner_] {
      shared->ProgressPending = false;
      if (!shared->Cancelled) owner->ReportProgress();
    });
  }

  const std::string tmpFileName_;
  const int64_t remoteFSize_;
  const std::string lclFileName_;
  TCombineParts* const owner_;
  EventLoop* const loop_;
  const std::shared_ptr<Shared> shared_;
  int64_t lastReportMs_;
  int64_t written_ = 0;
  bool kernelCopy_ = true;
  std::vector<char> buffer_;
};

// The temporary file lies next to the finished file, so that the final
// rename stays on one file system. Its name ends in letters, so nothing takes
// it for a part file, and depends only on the finished file's name, so a
// join after a crash replaces what the crashed one left. A name too long for
// the suffix is cut and told apart from other cut names by a hash.
std::string TCombineParts::JoinTempFileName(const std::string& finalPath) {
  const size_t slash = finalPath.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = finalPath.substr(nameStart);
  const size_t suffixBytes = std::strlen(kJoinSuffix);
  if (name.size() + suffixBytes > kMaxNameBytes) {
    char hash[16];
    std::snprintf(hash, sizeof hash, "~%08x", static_cast<unsigned>(std::hash<std::string>{}(name)));
    size_t cut = kMaxNameBytes - suffixBytes - std::strlen(hash);
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
    name += hash;
  }
  return finalPath.substr(0, nameStart) + name + kJoinSuffix;
}

TCombineParts::TCombineParts(const std::string& tmpFileName, int64_t remoteFSize, const std::string& lclFileName,
                             EventLoop* loop)
    : tmpFileName_(tmpFileName),
      remoteFSize_(remoteFSize),
      lclFileName_(lclFileName),
      loop_(loop ? loop : EventLoop::Current()),
      shared_(std::make_shared<Shared>()) {
  if (!loop_) throw std::logic_error("TCombineParts needs an event loop");
}

TCombineParts::~TCombineParts() {
  shared_->Cancelled = true;
  // The worker checks the flag between blocks, so this waits for one block
  // (or a sync in progress) at most.
  if (worker_.joinable()) worker_.join();
}

void TCombineParts::Start() {
  if (started_) return;
  started_ = true;
  try {
    worker_ = std::thread(Worker(*this));
  } catch (...) {
    LogError("TCombineParts.Create");
    Outcome outcome;
    outcome.Error = "Couldn't start combining the parts";
    loop_->Post([shared = shared_, this, outcome] {
      if (!shared->Cancelled) Finish(outcome);
    });
  }
}

void TCombineParts::ReportProgress() {
  try {
    written_ = shared_->Written;
    if (shared_->Total >= 0) remoteFSize_ = shared_->Total;
    if (OnProgress) OnProgress(written_, remoteFSize_);
  } catch (...) {
    LogError("TCombineParts.UpdateInfo");
  }
}

void TCombineParts::Finish(const Outcome& outcome) {
  finished_ = true;
  try {
    if (worker_.joinable()) worker_.join();
    written_ = shared_->Written;
    if (shared_->Total >= 0) remoteFSize_ = shared_->Total;
    if (!outcome.Message.empty()) Prompt().Message(kMessageCaption, outcome.Message, [] {});
    if (outcome.Success) StartVirusScanner();
  } catch (...) {
    LogError("TCombineParts.OnTerminateProc");
  }
  // Last: the handler may destroy this object.
  try {
    if (OnFilesCombined) OnFilesCombined(outcome.Success, outcome.Error);
  } catch (...) {
    LogError("TCombineParts.OnTerminateProc");
  }
}

void TCombineParts::StartVirusScanner() const {
  if (!ReadBool(kOptionsSection, "VirusChecking", false)) return;
  const std::string program = ReadString(kOptionsSection, "AntivirusExecutablePath", "");
  if (program.empty()) return;
  const std::string parameters = ReadString(kOptionsSection, "AntivirusExecutableParameters", "");
  std::vector<std::string> argv{program};
  const std::vector<std::string> words = SplitCommandLine(parameters);
  // Parameters that do not split (an unclosed quote) would scan with
  // arguments the user did not mean.
  if (words.empty() && parameters.find_first_not_of(" \t\n") != std::string::npos) {
    LogError("TCombineParts.OnTerminateProc");
    return;
  }
  argv.insert(argv.end(), words.begin(), words.end());
  argv.push_back(lclFileName_);
  Launcher().StartProgram(argv);
}

}  // namespace brindle
