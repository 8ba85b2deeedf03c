#pragma once

namespace brindle {

class TDownloadSystem;

// What the download list does when the schedule window opens and closes:
// the main window gives these to the scheduler as its two events.
class TScheduledDownloads {
 public:
  explicit TScheduledDownloads(TDownloadSystem& system) : system_(system) {}

  // Every "Scheduled" record is started (or queued) again.
  void DoOnSchedulerTime();
  // Every running download is paused and waits, "Scheduled", for the next
  // window. The places they leave are not handed to the queue: what waits
  // there waits on, instead of running outside the window.
  void DoOnSchedulerTimeOut();

 private:
  TDownloadSystem& system_;
};

}  // namespace brindle
