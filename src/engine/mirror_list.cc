#include "engine/mirror_list.h"

#include <algorithm>

#include "core/url.h"
#include "engine/file_mirror.h"

namespace brindle {

TFileMirror* TMirrorList::Get(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : nullptr;
}

void TMirrorList::Remove(TFileMirror* mirror) {
  const auto found = std::find(items_.begin(), items_.end(), mirror);
  if (found != items_.end()) items_.erase(found);
}

TFileMirror* TMirrorList::GetMirror(const std::string& url) const {
  for (TFileMirror* mirror : items_)
    if (mirror->Url->Url == url) return mirror;
  return nullptr;
}

void TMirrorList::InsertSorted(TFileMirror* mirror) {
  const auto position = std::find_if(items_.begin(), items_.end(),
                                      [mirror](const TFileMirror* entry) { return entry->PingTime >= mirror->PingTime; });
  items_.insert(position, mirror);
}

void TMirrorList::Sort(const std::function<bool(const TFileMirror&, const TFileMirror&)>& less) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&less](const TFileMirror* a, const TFileMirror* b) { return less(*a, *b); });
}

void TMirrorList::DeleteAndFreeAllMirrors() {
  for (TFileMirror* mirror : items_) delete mirror;
  items_.clear();
}

}  // namespace brindle
