#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/atomic_file.h"
#include "core/checksum.h"
#include "core/date_time.h"
#include "core/download_status.h"
#include "core/url.h"

namespace brindle {

// The first validators a server gave for a download, kept so that a later
// answer from the same server can tell whether the file changed there.
struct TServerValidators {
  std::string ETag;
  std::string LastModified;
};

// What the transfer engine reads and writes of a download's record: its
// address, file names, size, split and status, and the validators per
// server. The manager's record derives from it and says how it is saved.
// The largest speed limit taken, in kilobytes per second (about 4 TiB/s):
// limits are kept as bytes per second in 64 bits with room to spare.
inline constexpr int64_t kMaxSpeedLimitKiB = int64_t{1} << 32;

class TDownloadRecord {
 public:
  TDownloadRecord(std::unique_ptr<TUrl> url, std::string tempFileName);
  virtual ~TDownloadRecord();
  TDownloadRecord(const TDownloadRecord&) = delete;
  TDownloadRecord& operator=(const TDownloadRecord&) = delete;

  const TDownloadStatus& Status() const { return status_; }
  // Leaving a running status for another one stamps LastActivity with now;
  // Done forgets the browser's secrets.
  void SetStatus(const TDownloadStatus& value);
  // Cookies and the referrer are needed only while bytes are fetched: a
  // download that is done or deleted forgets them, and its next save drops
  // them from the record file.
  void ForgetBrowserSecrets() {
    Referer.clear();
    Cookie.clear();
  }

  // Stores the record; false when it could not be written. Unsynced for a
  // state that a later synced save makes durable (the first answer's size
  // and validators, Paused and Done are synced).
  virtual bool Save(TDurability durability = TDurability::Synced) const = 0;

  // Validators per server, keyed by ServerKey. nullptr when none are known.
  const TServerValidators* Validators(const std::string& serverKey) const;
  void SetValidators(const std::string& serverKey, const TServerValidators& validators);
  void ClearValidators() { validators_.clear(); }
  const std::map<std::string, TServerValidators>& AllValidators() const { return validators_; }
  // "scheme://host:port", scheme and host in lower case.
  static std::string ServerKey(const TUrl& url);

  std::unique_ptr<TUrl> Url;  // never null
  std::string LocalFileName;  // empty until chosen
  // The name a browser proposed, already a safe base name; used instead of
  // the address's name when the file name is chosen. In memory only.
  std::string ProposedFileName;
  // What the browser would send with the request: sent only to the
  // download's own origin (ServerKey of Url), never to mirrors or after a
  // redirection elsewhere. Empty: none.
  std::string Referer;
  std::string Cookie;
  int64_t FileSize = 0;       // 0: not learned yet; -1: the server gave none
  int NumOfParts = -1;        // -1 until the parts are made
  std::string TempFileName;   // base path of the record's files
  TDateTime LastActivity = 0;
  int64_t SpeedLimit = 0;     // kilobytes (of 1024 bytes) per second; 0: none
  // The user asked for this download to replace its finished file (fetched
  // again): the join alone replaces what is at LocalFileName, and only once
  // the new file is whole.
  bool ReplaceFile = false;
  // What the status text cannot say of the last failure (OpenSSL's reason
  // for refusing a certificate, where a bad file's bytes were kept); in
  // memory only.
  std::string ErrorDetail;
  // The join checks the finished file against both: the digest the user
  // gave, and the first whole-file digest a server sent for this download.
  std::optional<TChecksum> Checksum;
  std::optional<TChecksum> ServerDigest;

 private:
  TDownloadStatus status_;
  std::map<std::string, TServerValidators> validators_;
};

}  // namespace brindle
