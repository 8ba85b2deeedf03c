#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "engine/part_download_slot.h"

namespace brindle {

class EventLoop;
class TFileMirror;
class TPartDownloader;

// The slots of one download: the active ones in range order (slot 0 holds
// the file's first part) and the retired ones, kept alive until the
// collection goes because events of their timers or part downloaders may
// still be on their way.
class TPartDownloadSlots {
 public:
  explicit TPartDownloadSlots(EventLoop* loop = nullptr);
  ~TPartDownloadSlots();
  TPartDownloadSlots(const TPartDownloadSlots&) = delete;
  TPartDownloadSlots& operator=(const TPartDownloadSlots&) = delete;

  TPartDownloadSlot* NewSlot();
  // Stops the slot's timer, detaches its OnUpdate and retires it.
  void DeleteSlot(int index);
  // Destroys the part downloader of the first active slot that holds it.
  void RemovePartDownloader(TPartDownloader* partDownloader);

  TPartDownloadSlot* GetSlot(int index) const;  // nullptr when out of range
  int NumberOfSlots() const { return static_cast<int>(active_.size()); }
  int NumberOfRetiredSlots() const { return static_cast<int>(retired_.size()); }

  void AbortAll();
  void PauseAll();
  // Every active slot with a part downloader has it in state (slots without
  // one do not count; true when there is none).
  bool AllInState(TPartDownloaderState state) const;
  bool AllIdle() const { return AllInState(psIdle); }
  bool AllAborted() const { return AllInState(psAborted); }
  bool AllPaused() const { return AllInState(psPaused); }
  int NumberOfSlotsUsingFileMirror(const TFileMirror* fileMirror) const;

 private:
  void ForEachActive(const std::function<void(TPartDownloadSlot&)>& fn);

  EventLoop* loop_;
  std::vector<std::unique_ptr<TPartDownloadSlot>> active_;
  std::vector<std::unique_ptr<TPartDownloadSlot>> retired_;
};

}  // namespace brindle
