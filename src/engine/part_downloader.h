#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/checksum.h"
#include "core/download_status.h"
#include "core/event_depth.h"
#include "core/log_error.h"
#include "core/settings_schema.h"
#include "core/url.h"

namespace brindle {

class EventLoop;
class TSpeedLimitGroup;
class TSpeedLimitLane;
class TTimer;

enum TPartDownloaderState : uint8_t {
  psConnecting,     // a connection is being opened
  psConnected,      // connected (or logged in)
  psGotFileSize,    // TransferSize has just been learned
  psGotResumeInfo,  // ResumeSupported / ResumeText have just been learned
  psDownloading,    // data is arriving
  psDone,           // the whole range is in the part file
  psReachedEnd,     // the range is full while data still arrives; the owner may raise EndByte
  psError,          // failed: ErrorCode and ErrorStatus say why
  psAborted,        // cancelled; the part file was deleted
  psPaused,         // stopped; the part file stays
  psIdle,           // parked by the downloader, never set by a part downloader
};

// Error codes of a failed part (ErrorCode); ErrorStatus says what failed.
inline constexpr int kPartErrTimeoutOrLost = 1;   // "Timeout", "Lost connection to server"
inline constexpr int kPartErrNoConnection = 2;    // "Couldn't connect to host"
inline constexpr int kPartErrLogin = 3;           // "Couldn't login"
inline constexpr int kPartErrRefused = 4;         // "File not found" or the server's reason
inline constexpr int kPartErrNoResume = 5;        // "Resume is not supported"
inline constexpr int kPartErrSizeMismatch = 6;    // "Filesize mismatch"
// "Certificate not trusted": final for the mirror, since waiting cannot fix
// a certificate.
inline constexpr int kPartErrCertificate = 7;
// The server says the file is not there (HTTP 404, 410).
inline constexpr int kPartErrGone = 8;
// The server is busy for now (HTTP 503, 429); RetryAfter may say how long.
inline constexpr int kPartErrBusy = 9;

// Fetches one byte range (StartByte..EndByte, inclusive; EndByte 0: to the
// end of the file) of a remote file into one part file over one connection,
// resuming after the bytes the part file already holds, and reports every
// state change through OnChange. It decides no policy: failures become
// psError with a code and a text for the owner to act on.
//
// The owner may, inside OnChange, change EndByte and State, call Get, Abort
// or Pause, and let the part downloader go through EventLoop::DeleteLater,
// never by destroying it there.
class TPartDownloader {
 public:
  // A fileName whose last component has no "." becomes fileName + "." +
  // startB. The loop (nullptr: EventLoop::Current()) must outlive the object.
  TPartDownloader(const std::string& url, const std::string& fileName, int64_t startB, int64_t endB,
                  EventLoop* loop = nullptr);
  virtual ~TPartDownloader();
  TPartDownloader(const TPartDownloader&) = delete;
  TPartDownloader& operator=(const TPartDownloader&) = delete;

  // Starts (or restarts, with the current range and file) the transfer;
  // the outcome arrives as state changes.
  virtual void Get() = 0;
  // Ends the transfer without deciding a state; its completion decides.
  virtual void Stop() = 0;
  // Cancels for good and deletes the part file: ends in psAborted.
  virtual void Abort();
  // Ends the transfer keeping the part file: ends in psPaused.
  virtual void Pause();

  int64_t StartByte() const { return startByte_; }
  void SetStartByte(int64_t startByte) { startByte_ = startByte; }
  int64_t EndByte() const { return endByte_; }
  // May be raised while the transfer runs (psReachedEnd): the part goes on.
  virtual void SetEndByte(int64_t endByte) { endByte_ = endByte; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& fileName) { fileName_ = fileName; }
  const TUrl& Url() const { return *url_; }
  int64_t TimeOut() const { return timeOut_; }  // connect time-out, ms
  void SetTimeOut(int64_t ms) { timeOut_ = ms; }
  // Where the proxies and the stall time-out are read, at each start.
  const TSettingsReader& Settings() const { return settings_; }
  void SetSettings(const TSettingsReader& settings) { settings_ = settings; }
  // What a start without an end or a known size asks for before the rest, so that the owner can split on what it learns without
  // the server sending the file past the split in vain; 0: everything.
  int64_t FirstPiece() const { return firstPiece_; }
  void SetFirstPiece(int64_t bytes) { firstPiece_ = bytes; }

  TPartDownloaderState State() const { return state_; }
  // The one place the state changes (the owner uses it too, e.g. to go back
  // to psDownloading after psReachedEnd).
  void SetState(TPartDownloaderState state) { state_ = state; }

  // The owner refuses the answer being received (another file, another
  // version): psError with code and text, then Stop; nothing more of it
  // reaches the part file, and the stop's completion reports the error.
  void Reject(int code, const TDownloadStatus& status) {
    Fail(code, status);
    Stop();
  }

  // Something will still report a state change: a time-out or stall timer,
  // or the posted end of a stopped transfer.
  virtual bool Pending() const;

  // The whole remote file's size as the current start's answer told it: 0
  // until then, -1 when the server gave none. SizeLearned tells a learned 0
  // (an empty file) from "not learned yet". Every start forgets the size and
  // validators of earlier answers, so that each answer is checked afresh.
  int64_t TransferSize() const { return transferSize_; }
  bool SizeLearned() const { return sizeLearned_; }
  // Bytes of this part in the part file, those there before the start included.
  int64_t TransferCount() const { return transferCount_; }
  bool Aborted() const { return aborted_; }
  bool Paused() const { return paused_; }
  int ErrorCode() const { return errorCode_; }
  const TDownloadStatus& ErrorStatus() const { return errorStatus_; }
  // What the status text cannot say (OpenSSL's reason for refusing a
  // certificate); usually empty.
  const std::string& ErrorDetail() const { return errorDetail_; }
  // Seconds a busy server asked to wait before the next try; -1: it did not say.
  int64_t RetryAfter() const { return retryAfter_; }
  int ResumeSupported() const { return resumeSupported_; }  // 0 yes, 1 no, 2 unknown
  const std::string& ResumeText() const { return resumeText_; }
  // The validators of the last answer that was the file ("" when absent),
  // for the downloader to compare answers of one server, and the address
  // that gave it (after redirections; "" before an answer).
  const std::string& ETag() const { return eTag_; }
  const std::string& LastModified() const { return lastModified_; }
  const std::string& AnswerUrl() const { return answerUrl_; }
  // The whole file's digest the last answer that was the file gave.
  const std::optional<TChecksum>& ServerDigest() const { return serverDigest_; }

  // Reads from now on under the group's limits (nullptr: unlimited). The
  // group must outlive the part downloader or leave it before it goes.
  void SetSpeedLimitGroup(TSpeedLimitGroup* group);
  // The lane the connection reads through; nullptr without a group.
  const std::shared_ptr<TSpeedLimitLane>& Lane() const { return lane_; }

  std::function<void(TPartDownloader& part, TPartDownloaderState state)> OnChange;

 protected:
  // Hands Lane() (possibly nullptr) to the client that reads the data.
  virtual void ApplyLane() {}

  // Raises OnChange with the current state.
  void RaiseChange();
  void Fail(int code, const TDownloadStatus& status, const std::string& detail = {});
  // What every start does first: no flags, no error, nothing of an
  // earlier answer.
  void BeginStart();
  void SetResume(bool supported);
  void SetUrl(const std::string& url);
  void SetTransferSize(int64_t size) {
    transferSize_ = size;
    sizeLearned_ = true;
  }
  void SetTransferCount(int64_t count) { transferCount_ = count; }
  void SetRetryAfter(int64_t seconds) { retryAfter_ = seconds; }
  // Bytes the part file must hold for the part to be done: the range, or
  // without an end the rest of the file when its size is known; -1: not
  // known.
  int64_t BytesNeeded() const;
  // How many bytes of this part may be stored: the range, cut to the end of
  // the file when its size is known; -1 when neither bounds it.
  int64_t WriteLimit() const;
  void SetValidators(std::string eTag, std::string lastModified, std::string answerUrl);
  void SetServerDigest(std::optional<TChecksum> digest) { serverDigest_ = std::move(digest); }

  void StartTimeOutTimer(int64_t ms);
  void StopTimeOutTimer();
  // The connect time-out expired: psError, code 1, "Timeout", then Stop; the
  // completion of the stopped transfer raises OnChange.
  virtual void OnTimeOut();

  // The stall watch: armed once connected, it ends a transfer that receives
  // nothing (no reply line, header or data byte) for StallTimeOut seconds.
  // NoteReceived is cheap, so it may be called for every chunk. Time held
  // back by the speed limit does not count.
  void StartStallWatch();
  void NoteReceived() { lastReceivedMs_ = NowMs(); }
  void StopStallWatch();
  // Nothing arrived for too long: psError, code 1, "Lost connection to
  // server", then Stop; the completion of the stopped transfer raises
  // OnChange.
  virtual void OnStall();

  EventLoop& Loop() const { return *loop_; }

  // The client whose events this part downloader handles now (nullptr:
  // none); a client given up, its deletion deferred, is no longer heard.
  virtual const void* CurrentClient() const { return nullptr; }
  // A handler for one of client's events: it lets no exception out and
  // does nothing once client is not the current one.
  template <class Fn>
  auto ClientEvent(const void* client, const char* name, Fn fn) {
    return [this, client, name, fn](auto&&... args) {
      if (client != CurrentClient()) return;
      try {
        fn(args...);
      } catch (...) {
        LogError(name);
      }
    };
  }
  // Runs fn on the loop after the current handler, unless this part
  // downloader goes first.
  void PostLater(std::function<void()> fn);

 private:
  EventLoop* loop_;
  int64_t startByte_;
  int64_t endByte_;
  std::string fileName_;
  std::unique_ptr<TUrl> url_;
  int64_t transferSize_ = 0;
  bool sizeLearned_ = false;
  TPartDownloaderState state_ = psConnecting;
  int64_t transferCount_ = 0;
  bool aborted_ = false;
  bool paused_ = false;
  int errorCode_ = 0;
  TDownloadStatus errorStatus_;
  std::string errorDetail_;
  int64_t retryAfter_ = -1;
  int resumeSupported_ = 2;
  std::string resumeText_ = "Unknown";
  std::string eTag_;
  std::string lastModified_;
  std::optional<TChecksum> serverDigest_;
  std::string answerUrl_;
  int64_t NowMs() const;
  void CheckStall();
  void HoldStallWatch(bool held);

  std::unique_ptr<TTimer> timeOutTimer_;
  int64_t timeOut_ = 10000;
  TSettingsReader settings_;
  int64_t firstPiece_ = 0;
  std::unique_ptr<TTimer> stallTimer_;
  int64_t stallMs_ = 0;
  int64_t lastReceivedMs_ = 0;
  bool stallHeld_ = false;
  int64_t heldSinceMs_ = 0;
  std::shared_ptr<TSpeedLimitLane> lane_;
  TSpeedLimitGroup* laneGroup_ = nullptr;
  TEventDepth events_{"TPartDownloader"};
};

}  // namespace brindle
