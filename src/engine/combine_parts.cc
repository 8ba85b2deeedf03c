#include "engine/combine_parts.h"

#include <fcntl.h>
#include <openssl/evp.h>
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

#include "core/paths.h"
#include "core/crash_point.h"
#include "core/event_loop.h"
#include "core/file_claim.h"
#include "core/file_names.h"
#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/owned_file.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "platform/shell.h"

namespace brindle {
namespace {

// One copy step, also the finest unit of progress and of cancelling. An
// in-kernel copy takes big steps: each call has a fixed cost, and on file
// systems that share blocks (XFS, btrfs) a step is one cheap transaction.
constexpr int64_t kKernelCopyBlock = 16 * 1024 * 1024;
constexpr int64_t kBlockSize = 1024 * 1024;
constexpr const char* kJoinSuffix = ".brindle-join.tmp";
constexpr const char* kMessageCaption = "Brindle";

std::string ErrorText(const std::string& what, const std::string& path, int error) {
  char buffer[128];
  return what + " " + path + ": " + strerror_r(error, buffer, sizeof buffer);
}

// Durability of a rename; it has happened already, so a failure here is
// not the join's failure.
void SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Whether the file open at fd lies on the file system of directory.
bool SameFileSystem(int fd, const std::string& directory) {
  struct stat file {}, folder {};
  return fstat(fd, &file) == 0 && stat(directory.c_str(), &folder) == 0 && file.st_dev == folder.st_dev;
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

const EVP_MD* MessageDigest(TDigestAlgorithm algorithm) {
  switch (algorithm) {
    case TDigestAlgorithm::Md5:
      return EVP_md5();
    case TDigestAlgorithm::Sha1:
      return EVP_sha1();
    case TDigestAlgorithm::Sha256:
      return EVP_sha256();
    case TDigestAlgorithm::Sha512:
      return EVP_sha512();
  }
  return EVP_sha256();
}

// The digests of one stream of bytes, one per algorithm added.
class FileDigests {
 public:
  void Add(TDigestAlgorithm algorithm) {
    for (const Digest& digest : digests_)
      if (digest.Algorithm == algorithm) return;
    digests_.push_back({algorithm, {EVP_MD_CTX_new(), &EVP_MD_CTX_free}, {}});
    if (!digests_.back().Context) throw std::bad_alloc();
    Start(digests_.back());
  }
  bool Any() const { return !digests_.empty(); }
  void Reset() {
    for (Digest& digest : digests_) Start(digest);
  }
  void Update(const char* data, size_t size) {
    for (Digest& digest : digests_)
      if (EVP_DigestUpdate(digest.Context.get(), data, size) != 1) throw std::runtime_error("EVP_DigestUpdate failed");
  }
  // The digest of everything since the last Reset; "" for an algorithm not added.
  std::string Hex(TDigestAlgorithm algorithm) {
    for (Digest& digest : digests_) {
      if (digest.Algorithm != algorithm) continue;
      if (digest.Hex.empty()) {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(digest.Context.get(), value, &size) != 1)
          throw std::runtime_error("EVP_DigestFinal_ex failed");
        digest.Hex = HexOf(std::string_view(reinterpret_cast<const char*>(value), size));
      }
      return digest.Hex;
    }
    return "";
  }

 private:
  struct Digest {
    TDigestAlgorithm Algorithm;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Context;
    std::string Hex;  // once finished
  };
  static void Start(Digest& digest) {
    digest.Hex.clear();
    if (EVP_DigestInit_ex(digest.Context.get(), MessageDigest(digest.Algorithm), nullptr) != 1)
      throw std::runtime_error("EVP_DigestInit_ex failed");
  }
  std::vector<Digest> digests_;
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
  std::string Message;    // for the user, through the prompt port
  std::string FinalPath;  // where the finished file is, on success
  std::string Mismatch;   // the file lacks a digest asked for
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
        replace_(owner.Replace),
        checksum_(owner.Checksum),
        serverDigest_(owner.ServerDigest),
        owner_(&owner),
        loop_(owner.loop_),
        shared_(owner.shared_),
        lastReportMs_(owner.loop_->GetClock().MonotonicMs()) {}

  void operator()() {
    Outcome outcome;
    try {
      outcome = Run();
    } catch (...) {
      PostErrorReport(*loop_, "TCombineParts.Execute");
      outcome = Outcome{};
      outcome.Error = "Combining the parts failed";
    }
    try {
      if (shared_->Cancelled) return;
      loop_->Post([shared = shared_, owner = owner_, outcome = std::move(outcome)] {
        if (!shared->Cancelled) owner->Finish(outcome);
      });
    } catch (...) {
      PostErrorReport(*loop_, "TCombineParts.Execute");
    }
  }

 private:
  Outcome Failed(std::string error, bool tellUser = false) const {
    Outcome outcome;
    outcome.Error = std::move(error);
    if (tellUser) outcome.Message = outcome.Error;
    return outcome;
  }
  Outcome CouldntOpen(const std::string& path, int error) const {
    return Failed(ErrorText("Couldn't open", path, error), true);
  }
  Outcome Succeeded(std::string finalPath, std::string mismatch) const {
    Outcome outcome;
    outcome.Success = true;
    outcome.FinalPath = std::move(finalPath);
    outcome.Mismatch = std::move(mismatch);
    return outcome;
  }

  Outcome Run() {
    if (lclFileName_.empty()) return Failed("No file name to combine the parts into");
    for (const std::optional<TChecksum>& expected : {checksum_, serverDigest_})
      if (expected) digests_.Add(expected->Algorithm);
    PartList parts;
    Outcome outcome;
    if (!CollectChain(parts, outcome)) return outcome;
    if (std::string joined = AlreadyJoined(parts); !joined.empty()) {
      // A checksum given after that join placed the file still decides.
      const std::string mismatch = Mismatch();
      if (!mismatch.empty() && (joined = Place(joined, true)).empty()) return CouldntOpen(lclFileName_, errno);
      parts.CloseAll();
      for (const Part& part : parts.Items) unlink(part.Path.c_str());
      return Succeeded(joined, mismatch);
    }

    // A single part moves into place. Across file systems it is copied, and
    // hashed on the way, like several.
    if (parts.Items.size() == 1 &&
        (!digests_.Any() || SameFileSystem(parts.Items.front().Fd, DirectoryOf(lclFileName_)))) {
      Part& part = parts.Items.front();
      std::string error;
      if (digests_.Any() && !ReadPart(part, error)) return Failed(error, true);
      const std::string mismatch = Mismatch();
      if (std::string placed = PlaceSinglePart(part, !mismatch.empty()); !placed.empty()) {
        part.Fd = -1;  // closed once placed
        if (!digests_.Any()) Progress(part.Size);
        return Succeeded(placed, mismatch);
      }
      // Copied after all: its digests are known, its progress starts again.
      hashed_ = true;
      written_ = 0;
    }

    const std::string tempPath = JoinTempFileName(lclFileName_, tmpFileName_);
    unlink(tempPath.c_str());  // left by a crashed join of this download
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return CouldntOpen(lclFileName_, errno);
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
    const std::string mismatch = Mismatch();
    const std::string placed = Place(tempPath, !mismatch.empty());
    if (placed.empty()) return CouldntOpen(lclFileName_, errno);
    temp.Commit();
    SyncDirectory(DirectoryOf(placed));
    CrashPoint("combine-after-rename");

    // The finished file is complete on disk: only now may the parts go.
    parts.CloseAll();
    for (const Part& part : parts.Items) unlink(part.Path.c_str());
    return Succeeded(placed, mismatch);
  }

  // Gives the finished file at source its name: the one asked for, or when
  // that is taken by then the next free "(n)" one, never replacing anything,
  // unless the user asked for this download to replace its finished file.
  // A bad file is claimed as the name with ".bad" added, never replacing.
  // "" (errno set) when it cannot.
  std::string Place(const std::string& source, bool bad) const {
    if (bad) {
      const size_t nameStart = lclFileName_.rfind('/') + 1;  // npos + 1: no directory
      return ClaimFileName(source, lclFileName_.substr(0, nameStart) +
                                       LimitFileNameLength(lclFileName_.substr(nameStart) + ".bad"));
    }
    if (!replace_) return ClaimFileName(source, lclFileName_);
    return rename(source.c_str(), lclFileName_.c_str()) == 0 ? lclFileName_ : std::string();
  }

  // "" when the bytes hashed have the digests asked for (or none was), else
  // what differs.
  std::string Mismatch() {
    for (const auto& [expected, fromServer] : {std::pair(checksum_, false), std::pair(serverDigest_, true)}) {
      if (!expected) continue;
      const std::string got = digests_.Hex(expected->Algorithm);
      if (got != expected->Hex)
        return "expected " + expected->Text() + (fromServer ? " from the server" : "") + ", got " + got;
    }
    return "";
  }

  // Hashes the whole part: the one read a part that is moved into place gets.
  bool ReadPart(const Part& part, std::string& error) {
    if (buffer_.empty()) buffer_.resize(kBlockSize);
    for (int64_t at = 0; at < part.Size;) {
      if (shared_->Cancelled) {
        error = "Cancelled";
        return false;
      }
      const size_t want = static_cast<size_t>(std::min<int64_t>(part.Size - at, kBlockSize));
      const ssize_t n = pread(part.Fd, buffer_.data(), want, at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? ErrorText("Couldn't read", part.Path, errno)
                      : "Part file is shorter than its range: " + part.Path;
        return false;
      }
      digests_.Update(buffer_.data(), static_cast<size_t>(n));
      at += n;
      Progress(n);
    }
    return true;
  }

  // A join that crashed after placing the finished file left its parts
  // behind: the file at the name asked for (or one of its "(n)" names) is
  // already exactly the parts' bytes. Its name, or "".
  std::string AlreadyJoined(const PartList& parts) {
    const int64_t total = shared_->Total;
    // Replacing, only the name asked for is the download's own.
    for (int64_t n = 0; n == 0 || !replace_; ++n) {
      const std::string candidate = NumberedFileName(lclFileName_, n);
      struct stat info {};
      if (lstat(candidate.c_str(), &info) != 0) return "";
      if (!S_ISREG(info.st_mode) || info.st_size != total) continue;
      if (SameBytes(candidate, parts)) return candidate;
    }
    return "";
  }

  bool SameBytes(const std::string& path, const PartList& parts) {
    const int fd = OpenOwnedFile(path, O_RDONLY);
    if (fd < 0) return false;
    if (buffer_.empty()) buffer_.resize(kBlockSize);
    std::vector<char> theirs(kBlockSize);
    digests_.Reset();
    bool same = true;
    int64_t offset = 0;
    for (const Part& part : parts.Items) {
      for (int64_t at = 0; same && at < part.Size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(part.Size - at, kBlockSize));
        same = pread(part.Fd, buffer_.data(), want, at) == static_cast<ssize_t>(want) &&
               pread(fd, theirs.data(), want, offset) == static_cast<ssize_t>(want) &&
               std::memcmp(buffer_.data(), theirs.data(), want) == 0 && !shared_->Cancelled;
        if (same) digests_.Update(buffer_.data(), want);
        at += static_cast<int64_t>(want);
        offset += static_cast<int64_t>(want);
      }
    }
    close(fd);
    return same;
  }

  // Opens the chain and checks that it covers exactly RemoteFSize bytes;
  // with -1 the chain ends before the first missing or empty part file
  // (".0" itself may be empty: an empty file).
  bool CollectChain(PartList& parts, Outcome& failure) {
    const bool sizeKnown = remoteFSize_ >= 0;
    int64_t offset = 0;
    while (!(sizeKnown && offset >= remoteFSize_ && !parts.Items.empty())) {
      const std::string path = tmpFileName_ + "." + std::to_string(offset);
      // Only a part file of Brindle's own is read: never through a link.
      const int fd = OpenOwnedFile(path, O_RDONLY);
      if (fd < 0) {
        if (!sizeKnown && !parts.Items.empty() && errno == ENOENT) break;
        failure = CouldntOpen(path, errno);
        return false;
      }
      struct stat info {};
      if (fstat(fd, &info) != 0) {
        failure = CouldntOpen(path, errno);
        close(fd);
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

  // The one part becomes the finished file. "" (the part untouched) when
  // it cannot be moved there, e.g. across file systems; the copy then tells
  // what is wrong.
  std::string PlaceSinglePart(Part& part, bool bad) const {
    if (fsync(part.Fd) != 0) return "";
    CrashPoint("combine-before-rename");
    const std::string placed = Place(part.Path, bad);
    if (placed.empty()) return "";
    close(part.Fd);
    SyncDirectory(DirectoryOf(placed));
    return placed;
  }

  // Copies exactly part.Size bytes; in-kernel where the file systems allow
  // and nothing is to be hashed on the way.
  bool CopyPart(const Part& part, TempFile& temp, std::string& error) {
    const bool hashing = digests_.Any() && !hashed_;
    if (hashing) kernelCopy_ = false;
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
        if (hashing) digests_.Update(buffer_.data(), static_cast<size_t>(copied));
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
  const bool replace_;
  const std::optional<TChecksum> checksum_;
  const std::optional<TChecksum> serverDigest_;
  TCombineParts* const owner_;
  EventLoop* const loop_;
  const std::shared_ptr<Shared> shared_;
  int64_t lastReportMs_;
  int64_t written_ = 0;
  bool kernelCopy_ = true;
  std::vector<char> buffer_;
  FileDigests digests_;
  bool hashed_ = false;  // the digests are complete before the copy
};

// The temporary file lies next to the finished file, so that the final
// rename stays on one file system. Its name ends in letters, so nothing takes
// it for a part file, and holds the download's own record name, so that a
// join after a crash replaces what the crashed one left while two downloads
// of one name (two profiles) never share it. A name too long for the
// suffix is cut and told apart from other cut names by a hash.
std::string TCombineParts::JoinTempFileName(const std::string& finalPath, const std::string& tmpFileName) {
  const size_t slash = finalPath.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = finalPath.substr(nameStart);
  const size_t recordSlash = tmpFileName.rfind('/');
  const std::string suffix =
      "." + tmpFileName.substr(recordSlash == std::string::npos ? 0 : recordSlash + 1) + kJoinSuffix;
  if (name.size() + suffix.size() > kMaxFileNameBytes) {
    char hash[16];
    std::snprintf(hash, sizeof hash, "~%08x", static_cast<unsigned>(std::hash<std::string>{}(name)));
    size_t cut = kMaxFileNameBytes - std::min(kMaxFileNameBytes, suffix.size() + std::strlen(hash));
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
    name += hash;
  }
  return finalPath.substr(0, nameStart) + name + suffix;
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
  if (outcome.Success) lclFileName_ = outcome.FinalPath;
  mismatch_ = outcome.Mismatch;
  try {
    if (worker_.joinable()) worker_.join();
    written_ = shared_->Written;
    if (shared_->Total >= 0) remoteFSize_ = shared_->Total;
    if (!outcome.Message.empty()) Prompt().Message(kMessageCaption, outcome.Message, [] {});
    if (outcome.Success && mismatch_.empty()) StartVirusScanner();
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
  if (!Settings.Read(setting::VirusChecking)) return;
  const std::string program = Settings.Read(setting::AntivirusExecutablePath);
  if (program.empty()) return;
  const std::string parameters = Settings.Read(setting::AntivirusExecutableParameters);
  std::vector<std::string> argv{program};
  const std::vector<std::string> words = SplitCommandLine(parameters);
  // Parameters that do not split (an unclosed quote) would scan with
  // arguments the user did not mean.
  if (words.empty() && parameters.find_first_not_of(" \t\n") != std::string::npos) {
    LogError("TCombineParts.OnTerminateProc", "the virus scanner's parameters do not split: " + parameters);
    return;
  }
  argv.insert(argv.end(), words.begin(), words.end());
  argv.push_back(lclFileName_);
  Launcher().StartProgram(argv);
}

}  // namespace brindle
