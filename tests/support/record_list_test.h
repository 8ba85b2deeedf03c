#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/ldi_list.h"
#include "manager/local_download_info.h"
#include "support/manager_test.h"

namespace brindle::test {

using Records = std::vector<TLocalDownloadinfo*>;

// A list of records made in the test, each with its own base file.
class RecordListTest : public ManagerTest {
 protected:
  TLocalDownloadinfo* Make(TDownloadState status, TCategory* category = nullptr, TDateTime lastActivity = 0) {
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
  EventLoop loop_{clock_};  // outlives the records' retry timers
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  TLDIList list_;
};

}  // namespace brindle::test
