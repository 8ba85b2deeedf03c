#pragma once

#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/download_status.h"

namespace brindle {

class TCategory;
class TCategoryList;
class TLocalDownloadinfo;
class TTimer;

// An ordered list of download records that does not own them: removing an
// entry or destroying the list leaves the records alive.
class TLDIList {
 public:
  void Add(TLocalDownloadinfo* record) { items_.push_back(record); }
  // Removes the first entry that is record.
  void Remove(TLocalDownloadinfo* record);
  // nullptr when index is out of range.
  TLocalDownloadinfo* Get(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }

  // New lists in list order.
  TLDIList FilterByCategory(const TCategory* category) const;
  TLDIList FilterWithCategory() const;
  TLDIList FilterNotDone() const;
  TLDIList FilterByStatus(const TDownloadStatus& status) const;
  // "Done" with LastActivity at or after since.
  TLDIList FilterDoneSince(TDateTime since) const;

  // The last record in list order whose RetryTimer is timer.
  TLocalDownloadinfo* FindByRetryTimer(const TTimer* timer) const;

  // The records of the category named name (found ignoring case) lose it
  // and are saved.
  void DeleteCategory(const std::string& name, const TCategoryList& categories);
  // The records of category are saved again, so that their files carry its
  // current name.
  void ChangeCategory(const TCategory* category);

  // True when a record's local file is fileName, ignoring ASCII case.
  bool FileInUse(const std::string& fileName) const;

 private:
  std::vector<TLocalDownloadinfo*> items_;
};

}  // namespace brindle
