#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/checksum.h"
#include "core/settings_reader.h"

namespace brindle {

class EventLoop;

// Joins the part files of a finished download into the finished file on a
// worker thread. The parts are the chain TmpFileName + "." + decimal start
// byte, each starting where the one before ended. The chain is checked
// first: it must cover exactly RemoteFSize bytes (with -1, it runs until no
// further non-empty part file exists).
//
// Nothing is lost at any point: the parts are copied into a temporary file
// next to the finished file, which is synced and given its name; only then
// are the part files deleted. A single part is synced and moved into place.
// The name is claimed at that moment and never replaces anything: when
// LclFileName is taken by then (a file that appeared meanwhile, another
// profile's download), the next free "name(n).ext" is taken, and
// LclFileName says which once OnFilesCombined comes. Only with Replace
// does the finished file replace what is at LclFileName. A join that fails
// (or is cancelled) removes its temporary file and keeps every part file.
//
// With a Checksum or ServerDigest to check, the parts are hashed while they
// are copied (a single part is read once before it is moved), and a file
// without those digests is placed as LclFileName + ".bad", claimed the same
// way; Mismatch() says why.
//
// Events run on the loop's thread. The owner may destroy the object at any
// time, from inside its events too; a worker still running is then stopped
// and waited for, and nothing more is reported.
class TCombineParts {
 public:
  // Written and RemoteFSize (known once the chain is checked).
  using ProgressEvent = std::function<void(int64_t written, int64_t total)>;
  // success false: error says why; the part files are all still there.
  using FilesCombinedEvent = std::function<void(bool success, const std::string& error)>;

  // The loop (nullptr: EventLoop::Current()) must outlive the object, and
  // its clock must be safe to read from another thread.
  TCombineParts(const std::string& tmpFileName, int64_t remoteFSize, const std::string& lclFileName,
                EventLoop* loop = nullptr);
  ~TCombineParts();
  TCombineParts(const TCombineParts&) = delete;
  TCombineParts& operator=(const TCombineParts&) = delete;

  // Starts the worker; at most once.
  void Start();
  // Set before Start: the user asked for the file at LclFileName to be
  // replaced (a download fetched again).
  bool Replace = false;
  // Set before Start: the digests the finished file must have.
  std::optional<TChecksum> Checksum;
  std::optional<TChecksum> ServerDigest;
  // Where the virus scanner's settings are read once the join is done.
  TSettingsReader Settings;
  // Started, and OnFilesCombined still to come.
  bool Running() const { return started_ && !finished_; }

  // Raised at most every kProgressIntervalMs of the loop's clock, and never
  // again while the previous report waits on the loop.
  ProgressEvent OnProgress;
  // Raised once, after the virus scanner (if configured) was started on the
  // finished file.
  FilesCombinedEvent OnFilesCombined;

  // The name asked for; after a successful join, the one the file got.
  const std::string& LclFileName() const { return lclFileName_; }
  // After a successful join: "" when the file has the digests asked for,
  // else "expected <checksum>[ from the server], got <hex>".
  const std::string& Mismatch() const { return mismatch_; }
  const std::string& TmpFileName() const { return tmpFileName_; }
  // The size given, or once known the size of the chain.
  int64_t RemoteFSize() const { return remoteFSize_; }
  int64_t Written() const { return written_; }

  static constexpr int64_t kProgressIntervalMs = 100;

  // The temporary file the join of the download whose parts are
  // tmpFileName + ".N" writes for lclFileName: in the same directory,
  // ending in ".brindle-join.tmp", at most 255 bytes long.
  static std::string JoinTempFileName(const std::string& lclFileName, const std::string& tmpFileName);

 private:
  struct Shared;
  struct Outcome;
  class Worker;

  void ReportProgress();
  void Finish(const Outcome& outcome);
  void StartVirusScanner() const;

  std::string tmpFileName_;
  int64_t remoteFSize_;
  std::string lclFileName_;
  std::string mismatch_;
  EventLoop* loop_;
  int64_t written_ = 0;
  bool started_ = false;
  bool finished_ = false;
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

}  // namespace brindle
