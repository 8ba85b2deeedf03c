#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/date_time.h"
#include "core/url.h"
#include "engine/download_record.h"

namespace brindle {

class TCategory;
class TCategoryList;
class TProfileFile;
class TTimer;

// One download, finished or not. It lives in memory in the download list
// and on disk as the record file TempFileName + ".dat" (an INI file with
// the section "Options") next to its part files TempFileName + "." + start
// byte.
class TLocalDownloadinfo : public TDownloadRecord {
 public:
  // url: the download's address, or nullptr for a record found on disk.
  // tempFileName: the base path of the record's files; empty makes a new,
  // unused one in the partial-downloads directory (created when missing).
  // The record file is then read; what it lacks keeps its default.
  // categories: where the record's category name is looked up (nullptr:
  // the record gets no category).
  TLocalDownloadinfo(std::unique_ptr<TUrl> url, const std::string& tempFileName,
                     const TCategoryList* categories);
  ~TLocalDownloadinfo() override;
  TLocalDownloadinfo(const TLocalDownloadinfo&) = delete;
  TLocalDownloadinfo& operator=(const TLocalDownloadinfo&) = delete;

  // Writes the record file atomically in one piece. Active states are stored
  // as "Downloading", error states as "Paused"; keys the file holds besides
  // the record's own are kept. False when it could not be written (the
  // record in memory is unchanged).
  bool Save(TDurability durability = TDurability::Synced) const override;
  // True when the record file is gone afterwards.
  bool DeleteDatFile() const;

  // Fills the fields from a record file's text, as the constructor does.
  void ReadRecord(std::string_view text, const TCategoryList* categories);
  // The text Save writes over a file that holds existingText.
  std::string RecordText(std::string_view existingText) const;

  std::unique_ptr<TTimer> RetryTimer;  // while waiting to retry after an error
  int RetryCountdown = 0;
  TCategory* Category = nullptr;  // not owned
  TDateTime Created = 0;
  std::string Description;

 private:
  void WriteKeys(TProfileFile& profile) const;
};

}  // namespace brindle
