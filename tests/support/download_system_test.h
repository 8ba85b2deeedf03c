#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/event_loop.h"
#include "core/settings.h"
#include "manager/download_list_model.h"
#include "manager/download_system.h"
#include "manager/headless_windows.h"
#include "manager/local_download_info.h"
#include "support/fault_http_server.h"
#include "support/manager_test.h"

namespace brindle::test {

// A download system on the test's loop (started by MakeSystem), with an
// in-process HTTP server for its downloads and the headless windows.
class DownloadSystemTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    clock_.Attach(loop_);
    WriteBool(kOptionsSection, "UseHTTPProxy", false);
    WriteBool(kOptionsSection, "TryLocalMirrorlist", false);
    WriteBool(kOptionsSection, "ShowCompletedDialog", false);
    WriteString(kOptionsSection, "DefaultDownloadDirectory", temp_.File("dl"));
  }
  void TearDown() override {
    system_.reset();
    clock_.Detach();
    ManagerTest::TearDown();
  }
  // services gets the test's model, loop, windows (unless it brings its own)
  // and a ping that answers at once.
  void MakeSystem(TDownloadSystemServices services = {}) {
    model_ = std::make_unique<TDownloadListModel>();
    services.Model = model_.get();
    if (!services.Windows) services.Windows = &windows_;
    services.Loop = &loop_;
    services.Ping = [](const std::string&, int, int) { return TPingOutcome{1, 10}; };
    system_ = std::make_unique<TDownloadSystem>(services);
    windows_.NameInUse = [this](const std::string& name) { return system_->FileNameInUse(name); };
  }
  // Nothing is sent until the test ends: a download stays "Contacting host".
  static HttpReply Held(HttpReply reply) {
    return HttpReply{.Head = "", .Body = reply.Head + reply.Body, .StallAt = {0}};
  }
  void HoldEveryAnswer() {
    http_.SetHandler([this](const HttpRequest& r) { return Held(http_.Serve(r)); });
  }
  // The download of path, saved as name in the test's directory.
  TLocalDownloadinfo* Add(const std::string& path, const std::string& name) {
    auto record = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(http_.Url(path)), "", nullptr);
    record->LocalFileName = temp_.File(name);
    return system_->AddDownload(std::move(record), false);
  }
  // How the record file has it.
  static TDownloadStatus StoredStatus(const TLocalDownloadinfo& record) {
    return TLocalDownloadinfo(nullptr, record.TempFileName, nullptr).Status();
  }
  int RequestsFor(const std::string& path) const {
    int count = 0;
    for (const HttpRequest& r : http_.Requests()) count += r.Target == path;
    return count;
  }
  bool Run(const std::function<bool()>& until) { return RunUntil(loop_, until); }

  EventLoop loop_{clock_};
  FaultHttpServer http_{loop_};
  THeadlessWindowFactory windows_{&loop_};
  std::unique_ptr<TDownloadListModel> model_;
  std::unique_ptr<TDownloadSystem> system_;
};

}  // namespace brindle::test
