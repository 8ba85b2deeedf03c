#include "manager/download_list_filters.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/status_texts.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/local_download_info.h"
#include "manager_test_support.h"

namespace brindle {
namespace {

using Records = std::vector<TLocalDownloadinfo*>;

class DownloadListFiltersTest : public test::ManagerTest {
 protected:
  TLocalDownloadinfo* Make(const char* status, TCategory* category = nullptr, TDateTime lastActivity = 0) {
    const std::string base = temp_.File("R" + std::to_string(records_.size()));
    TLocalDownloadinfo* record = records_.emplace_back(new TLocalDownloadinfo(nullptr, base, nullptr)).get();
    record->SetStatus(status);
    record->Category = category;
    record->LastActivity = lastActivity;
    list_.Add(record);
    return record;
  }
  static Records Items(const TLDIList& list) {
    Records items;
    for (int i = 0; list.Get(i); ++i) items.push_back(list.Get(i));
    return items;
  }

  TCategoryList categories_{temp_.File("cat.dat")};
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  TLDIList list_;
};

TEST_F(DownloadListFiltersTest, EachTreeChoiceGivesItsRecordsInListOrder) {
  auto music = std::make_unique<TCategory>();
  music->SetName("Music");
  TCategory* musicCategory = categories_.Add(std::move(music));
  const TDateTime now = 1000.0;
  TLocalDownloadinfo* a = Make(kStatusDone, musicCategory, now - 0.5);
  TLocalDownloadinfo* b = Make(kStatusContactingHost);
  TLocalDownloadinfo* c = Make(kStatusDone, nullptr, now - 6);
  TLocalDownloadinfo* d = Make(kStatusDownloading, musicCategory);
  TLocalDownloadinfo* e = Make(kStatusDone, nullptr, now - 29);
  TLDIList active;
  active.Add(b);
  active.Add(d);

  EXPECT_EQ(Items(ShowAllRecords(list_)), (Records{a, b, c, d, e}));
  // A running download counts as downloading while it still contacts its server.
  EXPECT_EQ(Items(ShowStatusRecords(list_, active, kStatusDownloading)), (Records{b, d}));
  EXPECT_EQ(Items(ShowStatusRecords(list_, active, kStatusDone)), (Records{a, c, e}));
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
