#pragma once

#include <string>

#include "core/date_time.h"
#include "manager/ldi_list.h"

namespace brindle {

class TCategoryList;

// The record sets the download list can be filled with, as chosen in the
// category tree. Each keeps the order of the list it is given.

TLDIList ShowAllRecords(const TLDIList& records);
// For "Downloading" the records of the active downloads (activeRecords, in
// their order), since a running download may show another state while it
// contacts its server; for any other text the records whose status it is.
TLDIList ShowStatusRecords(const TLDIList& records, const TLDIList& activeRecords, const TDownloadStatus& status);
// Everything not "Done".
TLDIList ShowAllStatusRecords(const TLDIList& records);
// The records of the category of that name (ignoring case), or the records
// without a category when no category has that name.
TLDIList ShowCategoryRecords(const TLDIList& records, const TCategoryList& categories, const std::string& name);
TLDIList ShowAllCategoryRecords(const TLDIList& records);
// "Done" records that finished since now minus 1 day ("24 Hours"), 7 days
// ("7 Days") or 30 days ("30 Days"); any other period means since now.
TLDIList ShowHistoryRecords(const TLDIList& records, const std::string& period, TDateTime now);

}  // namespace brindle
