#include "manager/ldi_list.h"

#include <algorithm>

#include "core/download_status.h"
#include "core/ascii_case.h"
#include "manager/category_list.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

template <typename Keep>
TLDIList Filter(const TLDIList& list, Keep keep) {
  TLDIList result;
  for (int i = 0; i < list.Count(); ++i)
    if (keep(*list.Get(i))) result.Add(list.Get(i));
  return result;
}

}  // namespace

void TLDIList::Remove(TLocalDownloadinfo* record) {
  const auto found = std::find(items_.begin(), items_.end(), record);
  if (found != items_.end()) items_.erase(found);
}

TLocalDownloadinfo* TLDIList::Get(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : nullptr;
}

TLDIList TLDIList::FilterByCategory(const TCategory* category) const {
  return Filter(*this, [category](const TLocalDownloadinfo& record) { return record.Category == category; });
}

TLDIList TLDIList::FilterWithCategory() const {
  return Filter(*this, [](const TLocalDownloadinfo& record) { return record.Category != nullptr; });
}

TLDIList TLDIList::FilterNotDone() const {
  return Filter(*this, [](const TLocalDownloadinfo& record) { return record.Status() != TDownloadState::Done; });
}

TLDIList TLDIList::FilterByStatus(const TDownloadStatus& status) const {
  return Filter(*this, [&status](const TLocalDownloadinfo& record) { return record.Status() == status; });
}

TLDIList TLDIList::FilterDoneSince(TDateTime since) const {
  return Filter(*this, [since](const TLocalDownloadinfo& record) {
    return record.Status() == TDownloadState::Done && record.LastActivity >= since;
  });
}

TLocalDownloadinfo* TLDIList::FindByRetryTimer(const TTimer* timer) const {
  if (!timer) return nullptr;
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if ((*it)->RetryTimer.get() == timer) return *it;
  return nullptr;
}

void TLDIList::DeleteCategory(const std::string& name, const TCategoryList& categories) {
  const TCategory* category = categories.GetByName(name);
  if (!category) return;
  for (TLocalDownloadinfo* record : items_) {
    if (record->Category != category) continue;
    record->Category = nullptr;
    record->Save();
  }
}

void TLDIList::ChangeCategory(const TCategory* category) {
  if (!category) return;
  for (TLocalDownloadinfo* record : items_)
    if (record->Category == category) record->Save();
}

bool TLDIList::FileInUse(const std::string& fileName) const {
  return std::any_of(items_.begin(), items_.end(), [&fileName](const TLocalDownloadinfo* record) {
    return SameTextIgnoringCase(record->LocalFileName, fileName);
  });
}

}  // namespace brindle
