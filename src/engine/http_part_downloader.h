#pragma once

#include <memory>
#include <string>

#include "engine/part_downloader.h"

namespace brindle {

class THttpCli;
class TPartFileWriter;

// A part downloader over HTTP: asks for "Range: bytes=<first missing byte>-"
// and takes an answer only when its bytes are the file's bytes at the part
// file's end: a 206 whose Content-Range starts there, or a 200 for a part
// starting at byte 0 (the part file is then refilled from the first byte).
// Redirections are followed; an answer that is not the file (a redirection,
// an error page) never reaches the part file.
//
// Completion: a part with an end is done when it holds its whole range; one
// without an end when it holds the whole file, or, when the server gave no
// size, when the server closed after at least one byte.
class THTTPPartDownloader final : public TPartDownloader {
 public:
  THTTPPartDownloader(const std::string& url, const std::string& fileName, int64_t startB, int64_t endB,
                      EventLoop* loop = nullptr);
  ~THTTPPartDownloader() override;

  void Get() override;
  void Stop() override;
  void Abort() override;
  void Pause() override;
  void SetEndByte(int64_t endByte) override;
  bool Pending() const override;

  // The current answer is being left for another location.
  bool Relocated() const { return relocated_; }

  // Referer and Cookie lines for requests to origin ("scheme://host:port",
  // as TDownloadRecord::ServerKey gives it) and to no other.
  void SetOriginHeaders(std::string origin, std::string referer, std::string cookie);

 private:
  void ApplyLane() override;
  const void* CurrentClient() const override;
  void StartRequest();
  void HandleSessionConnected();
  void HandleHeaderBegin();
  void HandleHeaderEnd();
  void HandleRangeNotSatisfiable();
  // Tells the owner what the answer says of the file: its validators and
  // resume support, then its whole size (fileSize, -1: none given). false:
  // the answer is not taken (the owner refused it, paused, aborted or
  // destroyed this part downloader).
  bool ReportAnswer(int64_t fileSize);
  // Fails for an answer that is not the file, by whether time can mend it.
  void Refuse(int status);
  // The status of an answer that is not the file.
  TDownloadStatus Refusal() const;
  void HandleLocationChange();
  void HandleDocData();
  void HandleRequestDone(int error);
  // The request's end (or an Abort without one) decides the final state.
  void Complete(int error);
  // A 206 that brought bytes and ended exactly at its Content-Range end,
  // short of the part's end.
  bool EndedWhereItsRangeSaid(int error, int64_t needed) const;
  void ApplyLimit();
  // The first byte of the remote file this request asked for.
  int64_t Position() const { return StartByte() + requestedFrom_; }

  std::unique_ptr<THttpCli> httpCli_;
  std::unique_ptr<TPartFileWriter> writer_;
  bool relocated_ = false;
  bool requestRunning_ = false;
  bool donePosted_ = false;     // a request that could not start ends from the loop
  bool rangeSent_ = false;      // the request on the wire carried a Range line
  bool answerTaken_ = false;    // the answer being received is the file's
  int relocations_ = 0;         // re-requests after redirections since Get
  int64_t requestedFrom_ = 0;   // part file size when the request was built
  std::string origin_;
  std::string referer_;
  std::string cookie_;
};

}  // namespace brindle
