#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "core/event_depth.h"
#include "engine/mirror_list.h"
#include "engine/mirror_ping.h"

namespace brindle {

class EventLoop;
class TFileMirror;

// Pings the mirrors of one download, at most MaxSimPings at a time, in the
// order they were added, and reports each mirror once its ping time is set.
// The first RunningPings() entries of the queue are the mirrors being
// pinged. Mirrors are not owned; the workers never touch them (they only get
// the host name), so mirrors may be freed together with the ping system in
// any order; one freed earlier must be removed first (RemoveMirror).
class TPingSystem {
 public:
  // ping: empty for SystemPingFunction(); loop: nullptr for the thread's.
  explicit TPingSystem(int maxSimPings, EventLoop* loop = nullptr, TPingFunction ping = {});
  ~TPingSystem();
  TPingSystem(const TPingSystem&) = delete;
  TPingSystem& operator=(const TPingSystem&) = delete;

  void AddMirror(TFileMirror* fileMirror);
  void AddMirrors(const TMirrorList& newMirrors);
  // Forgets a mirror before it is freed while the ping system lives on: it
  // leaves the queue, and a ping running for it is cut off, its place going
  // to the next queued mirror.
  void RemoveMirror(TFileMirror* fileMirror);
  void StartNewPings();

  int MaxSimPings() const { return maxSimPings_; }
  int RunningPings() const { return static_cast<int>(running_.size()); }
  const TMirrorList& Queue() const { return queue_; }

  // A mirror's ping time was set (9999: no usable answer). The handler may
  // destroy the ping system. The host and the time are what the server
  // statistics record.
  std::function<void(TFileMirror& mirror)> OnPingedMirror;

 private:
  void OnPingReply(TMirrorPing& mirrorPing);

  EventLoop* loop_;
  int maxSimPings_;
  TPingFunction ping_;
  TMirrorList queue_;
  std::vector<std::unique_ptr<TMirrorPing>> running_;
  TEventDepth events_{"TPingSystem"};
};

}  // namespace brindle
