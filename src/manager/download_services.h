#pragma once

#include <memory>

namespace brindle {

class EventLoop;
class TAfterDownloadsActions;
class TCategoryList;
class TDownloadListModel;
class TDownloadSystem;
class TDownloadWindowFactory;
class TModemConnection;
class TServerStats;

// The download system with what it works with: the categories, the server
// statistics, the dial-up connection and the actions after the downloads.
// Both programs build the system through it; each brings its list model,
// its windows and its loop, and tells the actions after the downloads how
// to announce themselves. The desktop program adds its scheduler,
// clipboard monitor and version check on top.
class TDownloadServices {
 public:
  struct TFrontEnd {
    TDownloadListModel* Model = nullptr;
    TDownloadWindowFactory* Windows = nullptr;
    EventLoop* Loop = nullptr;
    // The desktop program tidies the partial-downloads folder before the
    // records are loaded; brindle-cli takes it as it is.
    bool TidyPartialDownloads = false;
    // The desktop program retries a missing file or a refused login, where
    // the user sees it and can stop it; brindle-cli fails at once.
    bool RetryPermanentErrors = true;
    // brindle-cli shows no list of downloads: refilling one for every
    // change would cost each download a pass over all the others.
    bool ListShown = true;
  };

  // Installs the default mirror list when there is none, then builds the
  // parts in the order they need each other; the system loads the records.
  explicit TDownloadServices(const TFrontEnd& frontEnd);
  ~TDownloadServices();
  TDownloadServices(const TDownloadServices&) = delete;
  TDownloadServices& operator=(const TDownloadServices&) = delete;

  TCategoryList& Categories() const { return *categories_; }
  TModemConnection& Modem() const { return *modem_; }
  TServerStats& ServerStats() const { return *stats_; }
  TAfterDownloadsActions& AfterDownloads() const { return *afterDownloads_; }
  TDownloadSystem& System() const { return *system_; }

 private:
  std::unique_ptr<TCategoryList> categories_;
  std::unique_ptr<TServerStats> stats_;
  std::unique_ptr<TModemConnection> modem_;
  std::unique_ptr<TAfterDownloadsActions> afterDownloads_;
  // Refers to all of the above: declared last, so it goes first.
  std::unique_ptr<TDownloadSystem> system_;
};

}  // namespace brindle
