#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/part_downloader.h"

namespace brindle {

class TFtpClient;
class TPartFileWriter;
enum class TFtpRequest : int;

// A part downloader over FTP: logs in, sets binary type, changes to the
// address's directory one segment at a time from the login folder (a first
// segment "%2F..." starts at the root), asks the file's SIZE and whether
// the server can resume (REST), then fetches from the first byte the part
// file lacks with REST + RETR. A server that cannot resume still serves a
// part starting at byte 0, whose part file is then refilled from the start;
// one that gives no SIZE serves the file as one of unknown size.
//
// The logged-in client is kept after a part is done, so a later Get (a new
// range handed over) goes on with SIZE, REST and RETR on the same
// connection. A failure, Stop, Pause or Abort gives the client up; the next
// Get logs in again. Stop of a running Get is reported like a request's end
// (from the loop); Pause and Abort report at once.
//
// Completion: a part with an end is done when it holds its whole range; one
// without an end when it holds the whole file, or, when the server gave no
// size, when the server confirmed the transfer with a 2xx reply.
class TFTPPartDownloader final : public TPartDownloader {
 public:
  TFTPPartDownloader(const std::string& url, const std::string& fileName, int64_t startB, int64_t endB,
                     EventLoop* loop = nullptr);
  ~TFTPPartDownloader() override;

  void Get() override;
  void Stop() override;
  void Abort() override;
  void Pause() override;
  void SetEndByte(int64_t endByte) override;
  bool Pending() const override;

  // Bytes of the range the part file held when the running Get began.
  int64_t Offset() const { return offset_; }
  // The client while one is kept (tests look at it), else nullptr.
  const TFtpClient* FtpClient() const { return ftpClient_.get(); }

 protected:
  void OnTimeOut() override;
  void OnStall() override;

 private:
  void ApplyLane() override;
  const void* CurrentClient() const override;

  void CreateClient();
  void FreeClient();
  // Gives the client and the part file up, deciding nothing.
  void Release();
  // The completion of a transfer ended by Stop.
  void StopDone();
  // The running Get is over: no timer, nothing posted.
  void EndStart();
  // Ends a Get that cannot start, from the loop rather than from inside Get.
  void FailLater(int code, const TDownloadStatus& status);
  void HandleSessionConnected(int error);
  void HandleProgress(int64_t count, bool& abort);
  void HandleRequestDone(TFtpRequest request, int error);
  // Starts a request of the chain; a refusal (the connection went) fails
  // the part. false: it failed.
  template <class Fn>
  bool StartNext(Fn start);
  void StartTransfer(bool restart);
  void TransferDone(bool restart, int error);
  void FailAndRaise(int code, const TDownloadStatus& status);
  // The next CWD of the address's path, or SIZE once there.
  void ChangeDirectoryOrAskSize();
  void ApplyLimit();
  // What the client's stop position must be for the current range.
  int64_t StopPosition() const;

  // The directories to change to after login, in order, decoded.
  std::vector<std::string> directories_;
  size_t nextDirectory_ = 0;
  std::unique_ptr<TFtpClient> ftpClient_;
  std::unique_ptr<TPartFileWriter> writer_;
  int64_t offset_ = 0;
  bool running_ = false;      // a Get has not reported its end yet
  bool stopPending_ = false;  // StopDone is posted
};

}  // namespace brindle
