#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/date_time.h"
#include "core/url.h"

namespace brindle {

class TCategory;
class TCategoryList;
class TProfileFile;
class TTimer;

// The first validators a server gave for a download, kept so that a later
// answer from the same server can tell whether the file changed there.
struct TServerValidators {
  std::string ETag;
  std::string LastModified;
};

// One download, finished or not. It lives in memory in the download list
// and on disk as the record file TempFileName + ".dat" (an INI file with
// the section "Options") next to its part files TempFileName + "." + start
// byte.
class TLocalDownloadinfo {
 public:
  // url: the download's address, or nullptr for a record found on disk.
  // tempFileName: the base path of the record's files; empty makes a new,
  // unused one in the partial-downloads directory (created when missing).
  // The record file is then read; what it lacks keeps its default.
  // categories: where the record's category name is looked up (nullptr:
  // the record gets no category).
  TLocalDownloadinfo(std::unique_ptr<TUrl> url, const std::string& tempFileName,
                     const TCategoryList* categories);
  ~TLocalDownloadinfo();
  TLocalDownloadinfo(const TLocalDownloadinfo&) = delete;
  TLocalDownloadinfo& operator=(const TLocalDownloadinfo&) = delete;

  const std::string& Status() const { return status_; }
  // Leaving an active status ("Contacting host", "Getting file info",
  // "Downloading") for another one stamps LastActivity with now.
  void SetStatus(const std::string& value);

  // Writes the record file atomically in one piece. Active states are stored
  // as "Downloading", error states as "Paused"; keys the file holds besides
  // the record's own are kept. False when it could not be written (the
  // record in memory is unchanged).
  bool Save() const;
  // True when the record file is gone afterwards.
  bool DeleteDatFile() const;
  // Deletes every "<base>.<extension>" in the record's directory except the
  // record file itself: the part files.
  void DeletePartFiles() const;

  // Fills the fields from a record file's text, as the constructor does.
  void ReadRecord(std::string_view text, const TCategoryList* categories);
  // The text Save writes over a file that holds existingText.
  std::string RecordText(std::string_view existingText) const;

  // Validators per server, keyed by ServerKey. nullptr when none are known.
  const TServerValidators* Validators(const std::string& serverKey) const;
  void SetValidators(const std::string& serverKey, const TServerValidators& validators);
  void ClearValidators() { validators_.clear(); }
  const std::map<std::string, TServerValidators>& AllValidators() const { return validators_; }
  // "scheme://host:port", scheme and host in lower case.
  static std::string ServerKey(const TUrl& url);

  std::unique_ptr<TUrl> Url;  // never null
  std::string LocalFileName;  // empty until chosen
  std::unique_ptr<TTimer> RetryTimer;  // while waiting to retry after an error
  int RetryCountdown = 0;
  int64_t FileSize = 0;  // 0: not learned yet; -1: the server gave none
  int NumOfParts = -1;   // -1 until the parts are made
  std::string TempFileName;
  TCategory* Category = nullptr;  // not owned
  TDateTime LastActivity = 0;
  TDateTime Created = 0;
  std::string Description;

 private:
  void WriteKeys(TProfileFile& profile) const;

  std::string status_;
  std::map<std::string, TServerValidators> validators_;
};

}  // namespace brindle
