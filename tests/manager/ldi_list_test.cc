#include "manager/ldi_list.h"

#include <gtest/gtest.h>

#include "core/download_status.h"
#include "core/timer.h"
#include "support/record_list_test.h"

namespace brindle {
namespace {

using test::Records;
using LDIListTest = test::RecordListTest;

TEST_F(LDIListTest, FiltersKeepListOrderAndDoNotOwn) {
  TCategory* zip = categories_.Add(std::make_unique<TCategory>());
  TLocalDownloadinfo* a = Make(TDownloadState::Done, zip, 10.0);
  TLocalDownloadinfo* b = Make(TDownloadState::Paused);
  TLocalDownloadinfo* c = Make(TDownloadState::Done, nullptr, 9.5);
  TLocalDownloadinfo* d = Make(TDownloadState::Paused, zip);
  EXPECT_EQ(Items(list_.FilterByCategory(zip)), (Records{a, d}));
  EXPECT_EQ(Items(list_.FilterWithCategory()), (Records{a, d}));
  EXPECT_EQ(Items(list_.FilterNotDone()), (Records{b, d}));
  EXPECT_EQ(Items(list_.FilterByStatus(TDownloadState::Paused)), (Records{b, d}));
  EXPECT_EQ(Items(list_.FilterDoneSince(9.5)), (Records{a, c}));
  EXPECT_EQ(Items(list_.FilterDoneSince(10.0)), (Records{a}));
  EXPECT_EQ(list_.Get(4), nullptr);
  list_.Remove(c);
  EXPECT_EQ(Items(list_), (Records{a, b, d}));
  EXPECT_EQ(c->Status(), TDownloadState::Done);  // still alive

  d->RetryTimer = std::make_unique<TTimer>(&loop_);
  TTimer other(&loop_);
  EXPECT_EQ(list_.FindByRetryTimer(d->RetryTimer.get()), d);
  EXPECT_EQ(list_.FindByRetryTimer(&other), nullptr);
  EXPECT_EQ(list_.FindByRetryTimer(nullptr), nullptr);
}

TEST_F(LDIListTest, DeleteAndChangeCategorySaveTheAffectedRecords) {
  TCategory* zip = categories_.Add(std::make_unique<TCategory>());
  TCategory* music = categories_.Add(std::make_unique<TCategory>());
  music->SetName("Music");
  TLocalDownloadinfo* a = Make(TDownloadState::Paused, zip);
  TLocalDownloadinfo* b = Make(TDownloadState::Paused, music);
  zip->SetName("Archives");
  list_.ChangeCategory(zip);
  EXPECT_EQ(TLocalDownloadinfo(nullptr, a->TempFileName, &categories_).Category, zip);
  EXPECT_FALSE(test::FileExists(b->TempFileName + ".dat"));

  list_.DeleteCategory("ARCHIVES", categories_);
  EXPECT_EQ(a->Category, nullptr);
  EXPECT_EQ(b->Category, music);
  EXPECT_EQ(TLocalDownloadinfo(nullptr, a->TempFileName, &categories_).Category, nullptr);
}

TEST_F(LDIListTest, FileInUseIgnoresAsciiCase) {
  Make(TDownloadState::Paused)->LocalFileName = "/home/u/Downloads/Setup.EXE";
  EXPECT_TRUE(list_.FileInUse("/home/u/downloads/setup.exe"));
  EXPECT_FALSE(list_.FileInUse("/home/u/Downloads/Setup.EXE.part"));
}

}  // namespace
}  // namespace brindle
