#pragma once

#include <functional>
#include <memory>
#include <string>

namespace brindle {

class TCategory;
class TLocalDownloadinfo;

// The download-complete dialog without its toolkit: what it shows of the
// finished file and what its buttons do. Messages go through the prompt
// port, programs and folders through RunFile (the launcher port).
class TDownloadCompleteModel {
 public:
  enum class TAfter { Stays, Closes };
  using TCommand = std::function<TAfter()>;

  // The address and path are copied: the record may leave the download
  // list while the window is still open. closed: the download system's
  // release of the download, called once whichever way the window closes.
  TDownloadCompleteModel(const TLocalDownloadinfo& record, std::function<void()> closed);
  TDownloadCompleteModel(std::string url, std::string path, std::function<void()> closed);

  // Whether finishing a download of that category (nullptr: none) shows
  // the dialog: a category's own flag decides alone, else
  // "ShowCompletedDialog".
  static bool Wanted(const TCategory* category);
  // The first ".zip" of the lower-cased path ends it.
  static bool NamedLikeZip(const std::string& path);

  const std::string& Url() const { return url_; }
  const std::string& Path() const { return path_; }
  const std::string& SizeText() const { return sizeText_; }
  // "UnZip" (and with it the archive button row) and "UnZip and Install".
  bool UnZipShown() const { return unZipShown_; }
  bool InstallShown() const { return installShown_; }

  TAfter OpenRun();
  TAfter OpenFolder();
  // Extracts every entry into folder (created when missing), then opens it.
  TAfter UnZip(const std::string& folder);
  // Extracts into a new private temporary directory and runs the installer
  // entry from there; when it cannot be started, or the extraction failed,
  // the directory is removed and a message says so.
  TAfter UnZipAndInstall();
  // Both extract only when the archive's declared size fits (a message says
  // why not); an archive that declares far more than its size is extracted
  // only after the user says yes, and then the command goes on through the
  // runner: the window runs it as it runs a click. By default it runs at
  // once.
  void SetRunner(std::function<void(TCommand)> runner) { runner_ = std::move(runner); }
  // Every way of closing the window ends here; only the first call counts.
  void Closed(bool doNotShowAgain);
  // While an extraction runs: stops it at the next input block (the entry
  // ends with kZipUserAbort); the entries written stay, and a message says
  // how many. Does nothing otherwise.
  void Stop();
  bool Extracting() const { return extracting_; }

  static constexpr const char* kCaption = "Download Complete";
  static constexpr const char* kNoInstaller = "Setup.exe or Install.exe not found";
  static std::string CouldNotExtract(const std::string& path) { return "Couldn't extract " + path; }
  static std::string CouldNotStart(const std::string& entry) {
    return "Couldn't start " + entry + ": the system has no program to open it. The extracted files were removed.";
  }
  // directory "": a temporary one, removed.
  static std::string Stopped(int written, const std::string& directory);

 private:
  // Runs extract when the archive's declared size suits directory, else
  // refuses or asks first (see SetRunner).
  TAfter WhenSizeAccepted(const std::string& directory, TCommand extract);
  // False (after the message) when the archive was refused, any entry
  // failed or the user stopped it; what was extracted stays (the caller
  // removes a temporary directory).
  bool ExtractInto(const std::string& directory, bool temporary = false);
  TAfter ExtractAllAndRun(const std::string& entry);

  std::string url_;
  std::string path_;
  std::string sizeText_;
  bool unZipShown_ = false;
  bool installShown_ = false;
  std::function<void()> closed_;
  bool isClosed_ = false;
  std::function<void(TCommand)> runner_;
  bool extracting_ = false;
  bool stopRequested_ = false;
  // A question outlives the model when the window closes meanwhile.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace brindle
