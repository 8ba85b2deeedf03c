#include "app/cli_app.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "app/cli_progress.h"
#include "app/cli_registry_overlay.h"
#include "archive/unzip.h"
#include "core/event_loop.h"
#include "core/file_names.h"
#include "core/paths.h"
#include "core/power_port.h"
#include "core/dial_up_port.h"
#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/presentation.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "core/url.h"
#include "engine/downloader.h"
#include "engine/part_download_slots.h"
#include "engine/speed_limiter.h"
#include "manager/accepted_url.h"
#include "manager/after_downloads.h"
#include "manager/download_file_name.h"
#include "manager/download_list_model.h"
#include "manager/download_services.h"
#include "manager/download_system.h"
#include "manager/headless_windows.h"
#include "manager/local_download_info.h"
#include "platform/hand_over_client.h"
#include "platform/hand_over_request.h"
#include "platform/hand_over_server.h"
#include "platform/hand_over_socket.h"
#include "platform/instance_lock.h"
#include "platform/network_manager_dial_up.h"
#include "platform/registry_hive_file.h"
#include "platform/systemd_power.h"
#include "platform/xdg_launcher.h"

namespace brindle {
namespace {

constexpr int kAnnounceSeconds = 30;
constexpr int64_t kTickMs = 100;

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// Whether the record's file is there at the record's size. A finished file
// the user deleted or changed is fetched again.
bool FileInPlace(const TLocalDownloadinfo& record) {
  struct stat info {};
  return stat(record.LocalFileName.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == record.FileSize;
}

// Messages go to the terminal; questions, which nobody can answer here, get
// "no".
class TCliPrompt final : public PromptPort {
 public:
  explicit TCliPrompt(TCliProgress& progress) : progress_(progress) {}
  void Ask(const std::string&, const std::string& question, std::function<void(bool)> answer) override {
    progress_.PrintLine(question + " (no)");
    if (answer) answer(false);
  }
  void Message(const std::string&, const std::string& text, std::function<void()> done) override {
    progress_.PrintLine(text);
    if (done) done();
  }

 private:
  TCliProgress& progress_;
};

// One run of brindle-cli with its services, in the order they are built.
class TCliRun {
 public:
  TCliRun(const TCliOptions& options, int signalFd)
      : options_(options),
        signalFd_(signalFd),
        progress_(stderr, isatty(STDERR_FILENO) == 1),
        prompt_(progress_) {}

  int Run();

 private:
  void ReportError(std::string_view routine, std::string_view text);
  struct TTracked {
    std::string Name;
    std::string LastStatus;
    bool Final = false;
    bool Failed = false;
  };

  void InstallSettings();
  bool CheckTarget(const std::string& dir, int& exitStatus);
  bool ServeInstance(TInstanceLock& lock, int& exitStatus);
  // The record the same command made before: unfinished, or finished with
  // its file in place (and checked against the checksum when one is given).
  TLocalDownloadinfo* FindEarlier(const std::string& url, const std::string& dir, const std::string& name,
                                  const std::optional<TChecksum>& checksum) const;
  // referer and cookie: what a browser would send with the request (from
  // the browser host through the hand-over channel).
  void StartUrl(const std::string& url, const std::string& dir, const std::string& name, int parts,
                const std::optional<TChecksum>& checksum, const std::string& referer = "",
                const std::string& cookie = "");
  int CheckInstances(const THandOverRequest& request);
  void Track(TLocalDownloadinfo* record);
  void Tick();
  void QuitWhenFinished();
  void ReportDone(TLocalDownloadinfo& record);
  bool Finished() const;
  std::string LiveLine(TLocalDownloadinfo& record) const;
  void OnSignal();
  void Announce(TAfterDownloadsActions::TAction action, std::function<void()> proceed);
  void CountdownTick();
  void Say(const std::string& line) {
    if (!options_.Quiet) progress_.PrintLine(line);
  }
  TDownloadSystem& System() const { return services_->System(); }

  const TCliOptions& options_;
  int signalFd_;
  TCliProgress progress_;
  TCliPrompt prompt_;
  RegistryHiveFile hive_;
  std::unique_ptr<TCliRegistryOverlay> overlay_;
  XdgLauncher launcher_;
  SystemdPower power_;
  NetworkManagerDialUp dialUp_;
  std::unique_ptr<EventLoop> loop_;
  std::unique_ptr<THandOverServer> server_;
  std::unique_ptr<TDownloadListModel> model_;
  std::unique_ptr<THeadlessWindowFactory> windows_;
  std::unique_ptr<TDownloadServices> services_;
  std::unique_ptr<TTimer> ticker_;
  std::unique_ptr<TTimer> countdownTimer_;
  std::function<void()> countdownProceed_;
  int countdown_ = 0;
  std::string countdownText_;
  std::map<TLocalDownloadinfo*, TTracked> tracked_;
  bool interrupted_ = false;
  const std::thread::id loopThread_ = std::this_thread::get_id();
};

// On the loop's thread the report goes above the live lines; a worker's
// report (rare: its own reports are posted to the loop) straight out.
void TCliRun::ReportError(std::string_view routine, std::string_view text) {
  const std::string line = "brindle-cli: error in " + ErrorReportLine(routine, text);
  if (std::this_thread::get_id() == loopThread_) {
    progress_.PrintLine(line);
  } else {
    std::fprintf(stderr, "%s\n", EscapeControlCharacters(line).c_str());
  }
}

void TCliRun::InstallSettings() {
  hive_.Load(RegistryFile());
  overlay_ = std::make_unique<TCliRegistryOverlay>(hive_);
  if (options_.Split) overlay_->Override(setting::SplitParts, *options_.Split);
  if (options_.Jobs) overlay_->Override(setting::MaxSimultaneousDownloads, *options_.Jobs);
  if (options_.Retries) overlay_->Override(setting::RetryTimes, *options_.Retries);
  if (options_.RetryDelay) overlay_->Override(setting::RetryDelay, *options_.RetryDelay);
  // Nothing is switched off or hung up unless this run was told to; the
  // run ends by itself, and no window opens.
  overlay_->Override(setting::ShutDownComputerAfterDownloading, options_.ShutdownWhenDone);
  if (!options_.ShutdownWhenDone) overlay_->Override(setting::ConnectUsingDialUp, false);
  overlay_->Override(setting::AfterDownloadsCompleted, false);
  overlay_->Override(setting::AutoCloseAfterDownloads, false);
  overlay_->Override(setting::ShowDownloadWindow, false);
  overlay_->Override(setting::ShowCompletedDialog, false);
  overlay_->Override(setting::RemoveSuccessfulDownloadFromList, false);
  SetRegistry(overlay_.get());
}

TLocalDownloadinfo* TCliRun::FindEarlier(const std::string& url, const std::string& dir, const std::string& name,
                                         const std::optional<TChecksum>& checksum) const {
  const TLDIList& list = System().DownloadList();
  for (int i = 0; i < list.Count(); ++i) {
    TLocalDownloadinfo* record = list.Get(i);
    if (record->Url->Url != url || record->LocalFileName.empty()) continue;
    const bool checked = !checksum || record->Checksum == checksum;
    if (record->Status() == TDownloadState::Done && (!FileInPlace(*record) || !checked)) continue;
    if (!dir.empty() && DirectoryOf(record->LocalFileName) != dir) continue;
    if (!name.empty() && NameOf(record->LocalFileName) != name) continue;
    if (System().AssociatedDownloader(record)) continue;
    return record;
  }
  return nullptr;
}

void TCliRun::StartUrl(const std::string& url, const std::string& dir, const std::string& name, int parts,
                       const std::optional<TChecksum>& checksum, const std::string& referer,
                       const std::string& cookie) {
  if (TLocalDownloadinfo* record = FindEarlier(url, dir, name, checksum)) {
    Track(record);
    if (record->Status() == TDownloadState::Done) {
      Say(NameOf(record->LocalFileName) + ": already done; to fetch it again, delete it or use -o");
      ReportDone(*record);
      return;
    }
    Say("Resuming " + record->LocalFileName);
    if (checksum) record->Checksum = checksum;
    System().AddDownload(record, false, parts);
    return;
  }
  auto record = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(url), System().NewTempFileName(),
                                                     &services_->Categories());
  record->Referer = referer;
  record->Cookie = cookie;
  record->Checksum = checksum;
  TFileNameChoice choice;
  choice.Directory = dir;
  choice.Name = name;
  choice.Categories = &services_->Categories();
  choice.InUse = [this](const std::string& file) { return System().FileNameInUse(file); };
  record->LocalFileName = ChooseLocalFileName(*record, choice);
  TLocalDownloadinfo* raw = record.get();
  Track(raw);
  System().AddDownload(std::move(record), false, parts);
}

int TCliRun::CheckInstances(const THandOverRequest& request) {
  const std::string address = DownloadableAddress(request.Url, false);
  if (address.empty()) return 1;
  const std::string dir = request.Directory.empty() ? "" : WithoutTrailingSlash(request.Directory);
  Say("Received " + address);
  // A name from the channel is a base name in the directory, never a path.
  StartUrl(address, dir, SafeBaseName(request.FileName), request.Parts, request.Checksum, request.Referrer,
           request.Cookies);
  return 1;
}

void TCliRun::ReportDone(TLocalDownloadinfo& record) {
  const auto it = tracked_.find(&record);
  if (it == tracked_.end()) return;
  it->second.Final = true;
  progress_.Clear();
  std::printf("Done %s\n", EscapeControlCharacters(record.LocalFileName).c_str());
  std::fflush(stdout);
}

void TCliRun::Track(TLocalDownloadinfo* record) {
  TTracked& tracked = tracked_[record];
  tracked = TTracked{};
  tracked.Name = NameOf(record->LocalFileName);
}

std::string TCliRun::LiveLine(TLocalDownloadinfo& record) const {
  const auto it = tracked_.find(&record);
  std::string line = it != tracked_.end() ? it->second.Name : NameOf(record.LocalFileName);
  TDownloader* d = System().AssociatedDownloader(&record);
  if (!d || record.Status() != TDownloadState::Downloading) {
    line += "  " + record.Status().Text();
    if (record.RetryTimer) line += " (" + std::to_string(record.RetryCountdown) + ")";
    return line;
  }
  const int64_t done = d->TransferCount();
  if (record.FileSize > 0) line += "  " + std::to_string(done * 100 / record.FileSize) + "%";
  line += "  " + BytesToPresentableString(done) + " of " + BytesToPresentableString(record.FileSize);
  const std::string rate = d->TransferRate();
  line += "  " + rate + (rate == "N/A" ? "" : " kB/s");
  const std::string left = d->TimeLeft();
  if (!left.empty() && left != "N/A") line += "  " + left + " left";
  const int parts = d->Slots().NumberOfSlots();
  line += "  " + std::to_string(parts) + (parts == 1 ? " part" : " parts");
  return line;
}

void TCliRun::Tick() {
  std::vector<std::string> live;
  for (auto& [record, tracked] : tracked_) {
    if (tracked.Final) continue;
    std::string status = record->Status().Text();
    if (record->RetryTimer) status += " (retrying)";
    if (status != tracked.LastStatus) {
      tracked.LastStatus = status;
      if (!progress_.Terminal()) Say(tracked.Name + ": " + status);
    }
    live.push_back(LiveLine(*record));
  }
  if (!countdownText_.empty()) live.push_back(countdownText_);
  if (!options_.Quiet) progress_.SetLiveLines(live);
  if (Finished()) QuitWhenFinished();
}

bool TCliRun::Finished() const {
  if (countdownTimer_ || !System().ActiveList().empty()) return false;
  for (const auto& entry : tracked_)
    if (!entry.second.Final) return false;
  return true;
}

void TCliRun::QuitWhenFinished() {
  // Work posted by the last completion (the after-downloads actions) runs
  // first.
  loop_->Post([this] {
    if (Finished()) loop_->Quit();
  });
}

void TCliRun::OnSignal() {
  signalfd_siginfo info{};
  while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
  }
  if (countdownTimer_) {
    countdownTimer_.reset();
    countdownProceed_ = nullptr;
    countdownText_.clear();
    progress_.PrintLine("Cancelled.");
    loop_->Quit();
    return;
  }
  interrupted_ = true;
  System().PauseForExit();
  progress_.Clear();
  if (!options_.Quiet) std::fprintf(stderr, "Interrupted: downloads paused; run again to resume.\n");
  loop_->Quit();
}

void TCliRun::Announce(TAfterDownloadsActions::TAction action, std::function<void()> proceed) {
  if (action != TAfterDownloadsActions::TAction::SwitchOff) {
    proceed();
    return;
  }
  countdownProceed_ = std::move(proceed);
  countdown_ = kAnnounceSeconds;
  countdownTimer_ = std::make_unique<TTimer>(loop_.get());
  countdownTimer_->SetInterval(1000);
  countdownTimer_->OnTimer = [this] { CountdownTick(); };
  countdownTimer_->SetEnabled(true);
  countdownText_ = "Switching the computer off in " + std::to_string(countdown_) + " s (Ctrl-C cancels)";
  progress_.PrintLine(countdownText_);
  countdownText_.clear();
}

void TCliRun::CountdownTick() {
  if (--countdown_ > 0) {
    const std::string text = "Switching the computer off in " + std::to_string(countdown_) + " s (Ctrl-C cancels)";
    if (progress_.Terminal()) countdownText_ = text;
    else progress_.PrintLine(text);
    return;
  }
  const auto proceed = std::move(countdownProceed_);
  countdownProceed_ = nullptr;
  countdownText_.clear();
  loop_->DeleteLater(std::move(countdownTimer_));
  progress_.PrintLine("Switching the computer off.");
  if (proceed) proceed();
  QuitWhenFinished();
}

// A folder that takes no files would fail only at the join, after every
// byte was fetched; dir "" stands for the download folder of the settings.
bool TCliRun::CheckTarget(const std::string& dir, int& exitStatus) {
  const std::string target = dir.empty() ? DownloadDirectorySetting() : dir;
  if (!EnsureDirectory(target)) {
    std::fprintf(stderr, "brindle-cli: cannot create %s\n", EscapeControlCharacters(target).c_str());
  } else if (const int error = DirectoryWriteError(target)) {
    std::fprintf(stderr, "brindle-cli: cannot write to %s: %s\n", EscapeControlCharacters(target).c_str(),
                 std::strerror(error));
  } else {
    return true;
  }
  exitStatus = kCliFailed;
  return false;
}

bool TCliRun::ServeInstance(TInstanceLock& lock, int& exitStatus) {
  THandOverRequest first;
  first.Structured = true;
  first.Url = options_.Urls.front();
  first.Directory = options_.Dir.empty() ? "" : AbsolutePath(options_.Dir);
  first.FileName = options_.Output;
  first.Parts = options_.Split.value_or(0);
  first.Checksum = options_.Checksum;
  const TInstanceStart start = StartOrHandOver(lock, first);
  if (const std::string note = HandOverPlaceNote(HandOverPlace(lock.Directory())); !note.empty() && !options_.Quiet)
    std::fprintf(stderr, "brindle-cli: %s\n", EscapeControlCharacters(note).c_str());
  switch (start) {
    case TInstanceStart::First:
      server_ = std::make_unique<THandOverServer>(loop_.get());
      server_->OnHandOver = [this](const THandOverRequest& request) { return CheckInstances(request); };
      server_->Listen(lock);
      return true;
    case TInstanceStart::Further:
      return true;
    case TInstanceStart::HandedOver:
      for (size_t i = 1; i < options_.Urls.size(); ++i) {
        THandOverRequest next = first;
        next.Url = options_.Urls[i];
        if (!HandOver(HandOverSocketPath(lock.Directory()), next, 10000)) {
          std::fprintf(stderr, "brindle-cli: the running Brindle did not take %s\n",
                       EscapeControlCharacters(next.Url).c_str());
          exitStatus = kCliFailed;
          return false;
        }
      }
      std::printf("Handed over to the running Brindle\n");
      exitStatus = kCliAllDone;
      return false;
    case TInstanceStart::Ended:
      break;
  }
  std::fprintf(stderr, "brindle-cli: another Brindle runs on this profile and did not answer\n");
  exitStatus = kCliFailed;
  return false;
}

int TCliRun::Run() {
  SetErrorLogSink([this](std::string_view routine, std::string_view text) { ReportError(routine, text); });
  InstallSettings();
  SetPrompt(&prompt_);
  SetLauncher(&launcher_);
  SetPower(&power_);
  SetDialUp(&dialUp_);
  loop_ = std::make_unique<EventLoop>();

  int exitStatus = kCliAllDone;
  const std::string dir = options_.Dir.empty() ? "" : WithoutTrailingSlash(AbsolutePath(options_.Dir));
  TInstanceLock lock(ConfigDirectory());
  if (CheckTarget(dir, exitStatus) && ServeInstance(lock, exitStatus)) {
    model_ = std::make_unique<TDownloadListModel>();
    windows_ = std::make_unique<THeadlessWindowFactory>(loop_.get());
    services_ = std::make_unique<TDownloadServices>(
        TDownloadServices::TFrontEnd{
            .Model = model_.get(),
            .Windows = windows_.get(),
            .Loop = loop_.get(),
            .RetryPermanentErrors = false,
            .ListShown = false});
    services_->AfterDownloads().OnAnnounce = [this](TAfterDownloadsActions::TAction action,
                                                    std::function<void()> proceed) {
      Announce(action, std::move(proceed));
    };
    TDownloadSystem& system = System();
    // For this run only: the stored limit stays as it is.
    if (options_.LimitRate) system.SpeedLimiter().SetRate(*options_.LimitRate);
    windows_->NameInUse = [this](const std::string& name) { return System().FileNameInUse(name); };
    system.OnDownloadDone = [this](TLocalDownloadinfo& record) { ReportDone(record); };
    system.OnDownloadStartedOver = [this](TLocalDownloadinfo& record) {
      const auto it = tracked_.find(&record);
      if (it != tracked_.end()) progress_.PrintLine(it->second.Name + ": the file changed on the server; starting over");
    };
    system.OnDownloadFailed = [this](TLocalDownloadinfo& record) {
      const auto it = tracked_.find(&record);
      if (it == tracked_.end()) return;
      it->second.Final = true;
      it->second.Failed = true;
      const std::string why = record.ErrorDetail.empty() ? "" : ": " + record.ErrorDetail;
      progress_.PrintLine(it->second.Name + ": " + record.Status().Text() + why + " (" + record.Url->Url + ")");
    };

    const EventLoop::WatchId signalWatch =
        loop_->AddWatch(signalFd_, EventLoop::kReadable, [this](unsigned) { OnSignal(); }, "brindle-cli signal");
    ticker_ = std::make_unique<TTimer>(loop_.get());
    ticker_->SetInterval(kTickMs);
    ticker_->OnTimer = [this] { Tick(); };
    ticker_->SetEnabled(true);

    for (const std::string& url : options_.Urls)
      StartUrl(url, dir, options_.Output, options_.Split.value_or(0), options_.Checksum);
    loop_->Run();
    progress_.Clear();
    if (interrupted_) {
      exitStatus = kCliInterrupted;
    } else {
      for (const auto& entry : tracked_)
        if (entry.second.Failed) exitStatus = kCliFailed;
    }
    ticker_.reset();
    countdownTimer_.reset();
    loop_->RemoveWatch(signalWatch);
    services_.reset();
    server_.reset();
  }
  SetDialUp(nullptr);
  SetPower(nullptr);
  SetLauncher(nullptr);
  SetPrompt(nullptr);
  SetRegistry(nullptr);
  SetErrorLogSink({});
  return exitStatus;
}

std::string ZipFailureText(int code) {
  switch (code) {
    case kZipCrcError:
      return "CRC mismatch";
    case kZipWriteError:
      return "not written (unsafe name or write error)";
    case kZipReadError:
      return "read error";
    case kZipArchiveError:
    case kZipSeriousError:
      return "damaged archive";
    case kZipUserAbort:
      return "aborted";
    case kZipUnsupportedMethod:
      return "unsupported compression method";
    case kZipEncrypted:
      return "encrypted";
    case kZipInProgress:
      return "another extraction is running";
    case kZipNotAnArchive:
      return "not a ZIP archive";
    default:
      return "error " + std::to_string(code);
  }
}

}  // namespace

int RunUnzip(const TCliOptions& options) {
  const std::string& archive = options.Unzip;
  const std::string dir = options.UnzipDir.empty() ? DefaultUnzipDirectory(archive) : options.UnzipDir;
  // Names from the archive, and the paths, reach the terminal only escaped.
  const std::string shownArchive = EscapeControlCharacters(archive);
  const std::string shownDir = EscapeControlCharacters(dir);
  if (access(archive.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "brindle-cli: %s: %s\n", shownArchive.c_str(), std::strerror(errno));
    return kCliFailed;
  }
  if (!IsArchive(archive)) {
    std::fprintf(stderr, "brindle-cli: %s: not a ZIP archive\n", shownArchive.c_str());
    return kCliFailed;
  }
  const ZipSizeCheck sizes = CheckDeclaredSizes(archive, dir);
  if (sizes.Result == kZipNotEnoughSpace || (sizes.Result == kZipHighRatio && !options.Force)) {
    std::fprintf(stderr, "brindle-cli: %s: not extracted: %s%s\n", shownArchive.c_str(),
                 DeclaredSizeText(sizes, shownDir).c_str(),
                 sizes.Result == kZipHighRatio ? "; add --force after --unzip to extract it all the same" : "");
    return kCliFailed;
  }
  if (!EnsureDirectory(dir)) {
    std::fprintf(stderr, "brindle-cli: cannot create %s\n", shownDir.c_str());
    return kCliFailed;
  }
  int failed = 0;
  const auto report = [&](int code, const ZipReport& entry) {
    std::string outcome;
    if (code == kZipReportEntryDone) {
      outcome = "extracted";
    } else if (code == kZipReportEntrySkipped) {
      outcome = "skipped";
    } else if (entry.Status == kZipReportEntryFailed && entry.Name != archive) {
      ++failed;
      outcome = "failed: " + ZipFailureText(code == kZipReportStopped ? kZipArchiveError : code);
    } else {
      return;
    }
    if (!options.Quiet) std::printf("%s: %s\n", EscapeControlCharacters(entry.Name).c_str(), outcome.c_str());
  };
  const int extracted = ExtractAll(archive, dir, "*.*", report);
  std::fflush(stdout);
  if (extracted < 0) {
    std::fprintf(stderr, "brindle-cli: %s: %s\n", shownArchive.c_str(), ZipFailureText(extracted).c_str());
    return kCliFailed;
  }
  std::printf("%d %s extracted into %s", extracted, extracted == 1 ? "entry" : "entries", shownDir.c_str());
  if (failed > 0) std::printf(", %d failed", failed);
  std::printf("\n");
  return failed == 0 ? kCliAllDone : kCliFailed;
}

int RunCli(const TCliOptions& given) {
  if (!given.Home.empty()) setenv("BRINDLE_HOME", AbsolutePath(given.Home).c_str(), 1);
  // The addresses as they are downloaded: "www.example.org/f.zip" is taken
  // as the desktop program takes it.
  TCliOptions options = given;
  for (std::string& url : options.Urls) {
    const std::string address = DownloadableAddress(url, false);
    if (address.empty()) {
      std::fprintf(stderr, "brindle-cli: unsupported address: %s\n", EscapeControlCharacters(url).c_str());
      return kCliUsage;
    }
    url = address;
  }
  // Ctrl-C and SIGTERM arrive through the loop, so the downloads can be
  // paused and saved; blocked before any thread starts, so every thread
  // leaves them to the descriptor.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signalFd < 0) {
    std::perror("brindle-cli: signalfd");
    return kCliFailed;
  }
  int status = kCliFailed;
  {
    TCliRun run(options, signalFd);
    status = run.Run();
  }
  close(signalFd);
  return status;
}

}  // namespace brindle
