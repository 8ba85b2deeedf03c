#include "manager/download_complete_model.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "archive/unzip.h"
#include "core/paths.h"
#include "core/ascii_case.h"
#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/presentation.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "core/text_file.h"
#include "manager/category.h"
#include "manager/local_download_info.h"
#include "platform/shell.h"

namespace brindle {
namespace {

constexpr const char* kNotAnArchive = "NOTAZIPFILE";

// Where temporary folders go: $TMPDIR, else /tmp.
std::string TempRoot() {
  const char* tmp = getenv("TMPDIR");
  std::string root = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  if (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

// A new directory only we can enter, so nobody else can plant files or
// links where the installer is run from. Empty on failure.
std::string MakePrivateTempDirectory() {
  std::string pattern = TempRoot() + "/brindle-install-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return "";
  return buffer.data();
}

}  // namespace

TDownloadCompleteModel::TDownloadCompleteModel(const TLocalDownloadinfo& record, std::function<void()> closed)
    : TDownloadCompleteModel(record.Url->Url, record.LocalFileName, std::move(closed)) {}

TDownloadCompleteModel::TDownloadCompleteModel(std::string url, std::string path, std::function<void()> closed)
    : url_(std::move(url)), path_(std::move(path)), closed_(std::move(closed)) {
  try {
    if (NamedLikeZip(path_)) {
      const std::string installer = FindInstaller(path_);
      unZipShown_ = installer != kNotAnArchive;
      installShown_ = unZipShown_ && !installer.empty();
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    sizeText_ = BytesToPresentableString(error ? 0 : static_cast<int64_t>(size));
  } catch (...) {
    LogError("TForm_DownloadComplete.Create");
  }
}

bool TDownloadCompleteModel::Wanted(const TCategory* category) {
  return category != nullptr ? category->ShowCompleteDialog() : Read(setting::ShowCompletedDialog);
}

bool TDownloadCompleteModel::NamedLikeZip(const std::string& path) {
  const size_t at = LowerCaseAscii(path).find(".zip");
  return at != std::string::npos && at + 4 == path.size();
}

TDownloadCompleteModel::TAfter TDownloadCompleteModel::OpenRun() {
  try {
    RunFile(path_);
    return TAfter::Closes;
  } catch (...) {
    LogError("TForm_DownloadComplete.OpenRun");
  }
  return TAfter::Stays;
}

TDownloadCompleteModel::TAfter TDownloadCompleteModel::OpenFolder() {
  try {
    RunFile(DirectoryOf(path_));
    return TAfter::Closes;
  } catch (...) {
    LogError("TForm_DownloadComplete.OpenFolder");
  }
  return TAfter::Stays;
}

TDownloadCompleteModel::TAfter TDownloadCompleteModel::UnZip(const std::string& folder) {
  try {
    if (folder.empty()) return TAfter::Stays;
    return WhenSizeAccepted(folder, [this, folder] {
      std::error_code error;
      std::filesystem::create_directories(folder, error);
      if (!ExtractInto(folder)) return TAfter::Stays;
      RunFile(folder);
      return TAfter::Closes;
    });
  } catch (...) {
    LogError("TForm_DownloadComplete.UnZip");
  }
  return TAfter::Stays;
}

TDownloadCompleteModel::TAfter TDownloadCompleteModel::UnZipAndInstall() {
  try {
    const std::string entry = FindInstaller(path_);
    if (entry.empty()) {
      Prompt().Message(kCaption, kNoInstaller, [] {});
      return TAfter::Stays;
    }
    // The temporary folder is often held in memory: the check matters most
    // there.
    return WhenSizeAccepted(TempRoot(), [this, entry] { return ExtractAllAndRun(entry); });
  } catch (...) {
    LogError("TForm_DownloadComplete.UnZipAndInstall");
  }
  return TAfter::Stays;
}

TDownloadCompleteModel::TAfter TDownloadCompleteModel::WhenSizeAccepted(const std::string& directory,
                                                                        TCommand extract) {
  const ZipSizeCheck check = CheckDeclaredSizes(path_, directory);
  if (check.Result == kZipOk) return extract();
  const std::string why = path_ + ": " + DeclaredSizeText(check, directory);
  if (check.Result == kZipNotEnoughSpace) {
    Prompt().Message(kCaption, CouldNotExtract(why), [] {});
    return TAfter::Stays;
  }
  const std::weak_ptr<bool> alive = alive_;
  Prompt().Ask(kCaption, why + ".\n\nExtract it all the same?", [this, alive, extract](bool yes) {
    if (!yes || alive.expired()) return;
    try {
      if (runner_) {
        runner_(extract);
      } else {
        extract();
      }
    } catch (...) {
      LogError("TForm_DownloadComplete.ExtractConfirmed");
    }
  });
  return TAfter::Stays;
}

TDownloadCompleteModel::TAfter TDownloadCompleteModel::ExtractAllAndRun(const std::string& entry) {
  const std::string directory = MakePrivateTempDirectory();
  if (directory.empty()) {
    Prompt().Message(kCaption, CouldNotExtract(path_), [] {});
    return TAfter::Stays;
  }
  // Nothing runs from a folder whose setup did not start: it goes.
  const auto removeDirectory = [&directory] {
    std::error_code error;
    std::filesystem::remove_all(directory, error);
  };
  if (!ExtractInto(directory, true)) {
    removeDirectory();
    return TAfter::Stays;
  }
  const std::string setup = directory + "/" + entry;
  if (!Launcher().HasOpener(setup) || !RunFile(setup)) {
    removeDirectory();
    Prompt().Message(kCaption, CouldNotStart(entry), [] {});
    return TAfter::Stays;
  }
  return TAfter::Closes;
}

bool TDownloadCompleteModel::ExtractInto(const std::string& directory, bool temporary) {
  bool entryFailed = false;
  int written = 0;
  stopRequested_ = false;
  extracting_ = true;
  // The window's Stop is asked between the archive's input blocks.
  ZipAbortTest previous = SetAbortTest([this] { return stopRequested_; });
  const int result = ExtractAll(path_, directory, "*.*", [&entryFailed, &written](int, const ZipReport& report) {
    if (report.Status == kZipReportEntryFailed) entryFailed = true;
    if (report.Status == kZipReportEntryDone) ++written;
  });
  SetAbortTest(std::move(previous));
  extracting_ = false;
  if (stopRequested_ && result < 0) {
    Prompt().Message(kCaption, Stopped(written, temporary ? "" : directory), [] {});
    return false;
  }
  if (result >= 0 && !entryFailed) return true;
  Prompt().Message(kCaption, CouldNotExtract(path_), [] {});
  return false;
}

void TDownloadCompleteModel::Stop() {
  if (extracting_) stopRequested_ = true;
}

std::string TDownloadCompleteModel::Stopped(int written, const std::string& directory) {
  if (directory.empty()) return "Extraction stopped. The files extracted so far were removed.";
  return "Extraction stopped. " + std::to_string(written) + (written == 1 ? " entry" : " entries") +
         " already written to " + directory + (written == 1 ? " stays" : " stay") + " there.";
}

void TDownloadCompleteModel::Closed(bool doNotShowAgain) {
  try {
    if (isClosed_) return;
    isClosed_ = true;
    if (doNotShowAgain) Write(setting::ShowCompletedDialog, false);
    const auto closed = std::move(closed_);
    closed_ = nullptr;
    if (closed) closed();
  } catch (...) {
    LogError("TForm_DownloadComplete.Close");
  }
}

}  // namespace brindle
