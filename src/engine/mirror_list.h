#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brindle {

class TFileMirror;

// An ordered list of mirror entries. It frees them only when told to
// (DeleteAndFreeAllMirrors); whoever fills it decides who frees them.
class TMirrorList {
 public:
  // nullptr when index is out of range.
  TFileMirror* Get(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  void Add(TFileMirror* mirror) { items_.push_back(mirror); }
  // Takes the entry out of the list without freeing it.
  void Remove(TFileMirror* mirror);

  // The first entry whose URL text is exactly url.
  TFileMirror* GetMirror(const std::string& url) const;
  // Keeps the list ascending by PingTime: before the first entry with an
  // equal or greater time, so among equal times the newest comes first.
  void InsertSorted(TFileMirror* mirror);
  // Stable sort by less.
  void Sort(const std::function<bool(const TFileMirror&, const TFileMirror&)>& less);

  void DeleteAndFreeAllMirrors();

 private:
  std::vector<TFileMirror*> items_;
};

}  // namespace brindle
