#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/checksum.h"
#include "core/download_status.h"

namespace brindle {

class TDownloader;
class TLocalDownloadinfo;

// The windows that belong to one download. The download system drives them
// through these interfaces; the desktop program implements them with real
// windows, brindle-cli and the tests without a display. Answers of the user
// always arrive later, through callbacks, never inside the call that showed
// the window.

// What the user chose in the new-download dialog.
struct TNewDownloadAnswer {
  enum class TKind { Start, Schedule, Cancel };
  TKind Kind = TKind::Cancel;
  std::string LocalFileName;  // for Start and Schedule
  std::string Category;       // the chosen category's name; empty: none
  std::string Description;
  std::optional<TChecksum> Checksum{};  // the "Checksum" field; none when empty
};

class TNewDownloadDialog {
 public:
  virtual ~TNewDownloadDialog() = default;
  virtual void Show() = 0;
  virtual bool Visible() const = 0;
  virtual void SetSizeText(const std::string& text, TStatusColor color) = 0;
  virtual void SetStartEnabled(bool enabled) = 0;
};

class TDownloadWindow {
 public:
  virtual ~TDownloadWindow() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  // Reads everything it shows from the downloader again.
  virtual void Refresh() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetStatus(const std::string& status, TStatusColor color) = 0;
  virtual void RefreshSlot(int index) = 0;
  virtual void RemoveSlot(int index) = 0;
};

class TCompleteDialog {
 public:
  virtual ~TCompleteDialog() = default;
  virtual void Show() = 0;
};

// Shows the joining of a download's parts while the worker copies them.
class TCombineWindow {
 public:
  virtual ~TCombineWindow() = default;
  virtual void Show() = 0;
  // written of total bytes are in lclFileName; total is -1 until the part
  // chain has been measured.
  virtual void SetProgress(const std::string& lclFileName, int64_t written, int64_t total) = 0;
};

class TDownloadWindowFactory {
 public:
  virtual ~TDownloadWindowFactory() = default;
  // answer is called at most once, on the loop's thread, after this returns.
  virtual std::unique_ptr<TNewDownloadDialog> CreateNewDownloadDialog(
      TDownloader& downloader, TLocalDownloadinfo& record, std::function<void(const TNewDownloadAnswer&)> answer) = 0;
  virtual std::unique_ptr<TDownloadWindow> CreateDownloadWindow(TDownloader& downloader) = 0;
  // closed is called once when the user closes the shown dialog.
  virtual std::unique_ptr<TCompleteDialog> CreateCompleteDialog(TDownloader& downloader, TLocalDownloadinfo& record,
                                                                std::function<void()> closed) = 0;
  // The joining window, created when the parts start to be joined and
  // destroyed when they are. nullptr: this front end shows none.
  virtual std::unique_ptr<TCombineWindow> CreateCombineWindow(TDownloader& downloader, TLocalDownloadinfo& record);
};

}  // namespace brindle
