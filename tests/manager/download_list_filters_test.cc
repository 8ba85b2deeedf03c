#include "manager/download_list_filters.h"

#include <gtest/gtest.h>

#include "core/download_status.h"
#include "support/record_list_test.h"

namespace brindle {
namespace {

using test::Records;
using DownloadListFiltersTest = test::RecordListTest;

TEST_F(DownloadListFiltersTest, EachTreeChoiceGivesItsRecordsInListOrder) {
  TCategory* musicCategory = categories_.Add(std::make_unique<TCategory>());
  musicCategory->SetName("Music");
  const TDateTime now = 1000.0;
  TLocalDownloadinfo* a = Make(TDownloadState::Done, musicCategory, now - 0.5);
  TLocalDownloadinfo* b = Make(TDownloadState::ContactingHost);
  TLocalDownloadinfo* c = Make(TDownloadState::Done, nullptr, now - 6);
  TLocalDownloadinfo* d = Make(TDownloadState::Downloading, musicCategory);
  TLocalDownloadinfo* e = Make(TDownloadState::Done, nullptr, now - 29);
  TLDIList active;
  active.Add(b);
  active.Add(d);

  EXPECT_EQ(Items(ShowAllRecords(list_)), (Records{a, b, c, d, e}));
  // A running download counts as downloading while it still contacts its server.
  EXPECT_EQ(Items(ShowStatusRecords(list_, active, TDownloadState::Downloading)), (Records{b, d}));
  EXPECT_EQ(Items(ShowStatusRecords(list_, active, TDownloadState::Done)), (Records{a, c, e}));
  EXPECT_EQ(Items(ShowAllStatusRecords(list_)), (Records{b, d}));
  EXPECT_EQ(Items(ShowCategoryRecords(list_, categories_, "mUSIC")), (Records{a, d}));
  EXPECT_EQ(Items(ShowCategoryRecords(list_, categories_, "Video")), (Records{b, c, e}));
  EXPECT_EQ(Items(ShowAllCategoryRecords(list_)), (Records{a, d}));
  EXPECT_EQ(Items(ShowHistoryRecords(list_, "24 Hours", now)), (Records{a}));
  EXPECT_EQ(Items(ShowHistoryRecords(list_, "7 Days", now)), (Records{a, c}));
  EXPECT_EQ(Items(ShowHistoryRecords(list_, "30 Days", now)), (Records{a, c, e}));
  EXPECT_EQ(Items(ShowHistoryRecords(list_, "Yesterday", now - 0.5)), (Records{a}));
}

}  // namespace
}  // namespace brindle
