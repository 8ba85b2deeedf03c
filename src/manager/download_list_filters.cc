#include "manager/download_list_filters.h"

#include "core/download_status.h"
#include "manager/category_list.h"

namespace brindle {

TLDIList ShowAllRecords(const TLDIList& records) { return records; }

TLDIList ShowStatusRecords(const TLDIList& records, const TLDIList& activeRecords, const TDownloadStatus& status) {
  return status == TDownloadState::Downloading ? activeRecords : records.FilterByStatus(status);
}

TLDIList ShowAllStatusRecords(const TLDIList& records) { return records.FilterNotDone(); }

TLDIList ShowCategoryRecords(const TLDIList& records, const TCategoryList& categories, const std::string& name) {
  return records.FilterByCategory(categories.GetByName(name));
}

TLDIList ShowAllCategoryRecords(const TLDIList& records) { return records.FilterWithCategory(); }

TLDIList ShowHistoryRecords(const TLDIList& records, const std::string& period, TDateTime now) {
  double days = 0;
  if (period == "24 Hours") days = 1;
  else if (period == "7 Days") days = 7;
  else if (period == "30 Days") days = 30;
  return records.FilterDoneSince(now - days);
}

}  // namespace brindle
