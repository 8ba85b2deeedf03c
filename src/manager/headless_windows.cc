#include "manager/headless_windows.h"

#include <memory>

#include "core/event_loop.h"
#include "manager/category.h"
#include "manager/download_file_name.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

// Answers are posted, so the caller never sees them inside its own call.
// The token drops an answer whose dialog is gone.
class HeadlessNewDownloadDialog final : public TNewDownloadDialog {
 public:
  HeadlessNewDownloadDialog(EventLoop& loop, TLocalDownloadinfo& record,
                            std::function<void(const TNewDownloadAnswer&)> answer,
                            std::function<bool(const std::string&)> inUse)
      : loop_(loop),
        record_(record),
        answer_(std::move(answer)),
        inUse_(std::move(inUse)) {}
  ~HeadlessNewDownloadDialog() override { loop_.CancelPosts(this); }
  void Show() override {
    loop_.Post(this, [this] {
      if (!answer_) return;
      TNewDownloadAnswer answer;
      answer.Kind = TNewDownloadAnswer::TKind::Start;
      TFileNameChoice choice;
      choice.InUse = inUse_;
      answer.LocalFileName = ChooseLocalFileName(record_, choice);
      if (record_.Category) answer.Category = record_.Category->Name();
      answer.Description = record_.Description;
      const auto callback = std::move(answer_);
      answer_ = nullptr;
      callback(answer);
    });
  }
  bool Visible() const override { return false; }
  void SetSizeText(const std::string&, TStatusColor) override {}
  void SetStartEnabled(bool) override {}

 private:
  EventLoop& loop_;
  TLocalDownloadinfo& record_;
  std::function<void(const TNewDownloadAnswer&)> answer_;
  std::function<bool(const std::string&)> inUse_;
};

class HeadlessDownloadWindow final : public TDownloadWindow {
 public:
  void Show() override {}
  void Hide() override {}
  bool Visible() const override { return false; }
  void Refresh() override {}
  void SetCaption(const std::string&) override {}
  void SetStatus(const std::string&, TStatusColor) override {}
  void RefreshSlot(int) override {}
  void RemoveSlot(int) override {}
};

class HeadlessCompleteDialog final : public TCompleteDialog {
 public:
  HeadlessCompleteDialog(EventLoop& loop, std::function<void()> closed)
      : loop_(loop), closed_(std::move(closed)) {}
  ~HeadlessCompleteDialog() override { loop_.CancelPosts(this); }
  void Show() override {
    loop_.Post(this, [this] {
      if (!closed_) return;
      const auto callback = std::move(closed_);
      closed_ = nullptr;
      callback();
    });
  }

 private:
  EventLoop& loop_;
  std::function<void()> closed_;
};

}  // namespace

THeadlessWindowFactory::THeadlessWindowFactory(EventLoop* loop) : loop_(loop ? loop : EventLoop::Current()) {}

std::unique_ptr<TNewDownloadDialog> THeadlessWindowFactory::CreateNewDownloadDialog(
    TDownloader&, TLocalDownloadinfo& record, std::function<void(const TNewDownloadAnswer&)> answer) {
  ++newDownloadDialogs_;
  return std::make_unique<HeadlessNewDownloadDialog>(*loop_, record, std::move(answer), NameInUse);
}

std::unique_ptr<TDownloadWindow> THeadlessWindowFactory::CreateDownloadWindow(TDownloader&) {
  return std::make_unique<HeadlessDownloadWindow>();
}

std::unique_ptr<TCompleteDialog> THeadlessWindowFactory::CreateCompleteDialog(TDownloader&, TLocalDownloadinfo&,
                                                                              std::function<void()> closed) {
  ++completeDialogs_;
  return std::make_unique<HeadlessCompleteDialog>(*loop_, std::move(closed));
}

std::unique_ptr<TCombineWindow> THeadlessWindowFactory::CreateCombineWindow(TDownloader&,
                                                                            TLocalDownloadinfo& record) {
  return CombineWindows ? CombineWindows(record) : nullptr;
}

}  // namespace brindle
