#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/memory_registry.h"
#include "core/settings.h"
#include "engine/part_downloader.h"
#include "support/fault_http_server.h"
#include "support/manual_clock.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle::test {

// A part downloader in this state has stopped and reports nothing more.
inline bool Final(TPartDownloaderState s) { return s == psDone || s == psError || s == psAborted || s == psPaused; }

// A part downloader's world: a stopped clock on the test's loop, an
// in-memory registry, a directory for part files and the file it fetches
// (bytes that differ from their neighbours, so a byte at a wrong offset shows).
class PartDownloaderTest : public ::testing::Test {
 protected:
  PartDownloaderTest() {
    clock_.Attach(loop_);
    SetRegistry(&registry_);
  }
  ~PartDownloaderTest() override {
    SetRegistry(nullptr);
    clock_.Detach();
  }
  // Every state part reports goes to states_.
  void Watch(TPartDownloader& part) {
    part.OnChange = [this](TPartDownloader&, TPartDownloaderState s) { states_.push_back(s); };
  }
  // Starts the part and runs until it reaches a final state.
  TPartDownloaderState Run(TPartDownloader& part) {
    states_.clear();
    part.Get();
    EXPECT_TRUE(RunUntil(loop_, [&] { return !states_.empty() && Final(states_.back()); }));
    return part.State();
  }
  std::string PartFile(const TPartDownloader& part) const { return ReadWholeFile(part.FileName()); }
  std::string Slice(int64_t first, int64_t last) const { return content_.substr(first, last - first + 1); }

  ManualClock clock_;
  EventLoop loop_{clock_};
  MemoryRegistry registry_;
  TempDir dir_;
  std::string content_ = MakeContent(200000);
  std::vector<TPartDownloaderState> states_;
};

}  // namespace brindle::test
