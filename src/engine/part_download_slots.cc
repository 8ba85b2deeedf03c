#include "engine/part_download_slots.h"

#include <algorithm>

#include "core/log_error.h"
#include "core/timer.h"

namespace brindle {

TPartDownloadSlots::TPartDownloadSlots(EventLoop* loop) : loop_(loop) {}

TPartDownloadSlots::~TPartDownloadSlots() {
  active_.clear();
  retired_.clear();
}

TPartDownloadSlot* TPartDownloadSlots::NewSlot() {
  active_.push_back(std::make_unique<TPartDownloadSlot>(loop_));
  return active_.back().get();
}

void TPartDownloadSlots::DeleteSlot(int index) {
  try {
    if (index < 0 || index >= NumberOfSlots()) return;
    auto slot = std::move(active_[static_cast<size_t>(index)]);
    active_.erase(active_.begin() + index);
    slot->UpdateTimer().SetEnabled(false);
    slot->OnUpdate = nullptr;
    retired_.push_back(std::move(slot));
  } catch (...) {
    LogError("TPartDownloadSlots.DeleteSlot");
  }
}

void TPartDownloadSlots::RemovePartDownloader(TPartDownloader* partDownloader) {
  try {
    if (!partDownloader) return;
    for (const auto& slot : active_) {
      if (slot->PartDownloader() == partDownloader) {
        slot->SetPartDownloader(nullptr);
        return;
      }
    }
  } catch (...) {
    LogError("TPartDownloadSlots.RemovePartDownloader");
  }
}

TPartDownloadSlot* TPartDownloadSlots::GetSlot(int index) const {
  return index >= 0 && index < NumberOfSlots() ? active_[static_cast<size_t>(index)].get() : nullptr;
}

// Abort and Pause may report synchronously, and the handlers may retire
// slots: walk a copy (retired slots stay alive) and skip the slots retired
// on the way.
void TPartDownloadSlots::ForEachActive(const std::function<void(TPartDownloadSlot&)>& fn) {
  std::vector<TPartDownloadSlot*> slots;
  for (const auto& slot : active_) slots.push_back(slot.get());
  for (TPartDownloadSlot* slot : slots) {
    const bool active = std::any_of(active_.begin(), active_.end(),
                                    [slot](const std::unique_ptr<TPartDownloadSlot>& s) { return s.get() == slot; });
    if (active) fn(*slot);
  }
}

void TPartDownloadSlots::AbortAll() {
  ForEachActive([](TPartDownloadSlot& slot) { slot.Abort(); });
}

void TPartDownloadSlots::PauseAll() {
  ForEachActive([](TPartDownloadSlot& slot) { slot.Pause(); });
}

bool TPartDownloadSlots::AllInState(TPartDownloaderState state) const {
  for (const auto& slot : active_)
    if (slot->PartDownloader() && slot->PartDownloader()->State() != state) return false;
  return true;
}

int TPartDownloadSlots::NumberOfSlotsUsingFileMirror(const TFileMirror* fileMirror) const {
  int count = 0;
  for (const auto& slot : active_)
    if (slot->Mirror() == fileMirror) ++count;
  return count;
}

}  // namespace brindle
