#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "manager/ldi_list.h"

namespace brindle {

class TCategoryList;
class TDownloadListModel;
class TDownloadSystem;
class TListWindowPort;
class TLocalDownloadinfo;

// The commands of the download list, without any toolkit: they act on the
// records of the selected rows (and their downloaders while running), ask
// through the prompt port and open windows through the window port. The
// front end only routes toolbar, menus, context menu and keys here.
class TListCommands {
 public:
  // windows may be nullptr: Properties and View then do nothing.
  TListCommands(TDownloadSystem& system, TDownloadListModel& model, TListWindowPort* windows);
  ~TListCommands();
  TListCommands(const TListCommands&) = delete;
  TListCommands& operator=(const TListCommands&) = delete;

  // The text of the Add-URL dialog's OK: a downloadable address
  // (DownloadableAddress) becomes a new download, anything else is
  // ignored. The new record or nullptr.
  TLocalDownloadinfo* Add(const std::string& typedUrl);
  // Asks once when a selected record is not "Done". Records go with their
  // record and part files; running downloads are aborted first. The
  // finished files stay.
  void Delete();
  void Pause();
  // Idle records not "Done" or "Queued" start again; running ones only
  // while they wait to retry, which then restarts them at once.
  void Resume();
  // Selected rows in order become "Scheduled" up to the first "Done" one.
  void Schedule();
  // For each selected idle row, one after the other: after a question the
  // download starts from nothing, and its new file replaces the finished
  // one only once it is whole.
  void ReDownload();
  void DeleteAll();
  void PauseAll();
  void ResumeAll();
  // Selects exactly the rows "Done", "File not found" and "Couldn't connect
  // to host", then runs Delete.
  void ClearAllDoneAndErrenous();
  // The properties window for the current row's record.
  void Properties();
  // The text viewer for the current row's file.
  void ViewFile();
  // Double click below the header, or Enter: a running row shows its
  // download window; an idle "Done" row opens its file; other idle rows
  // except "Queued" start again.
  void Open();

  // Texts of the questions and messages.
  static constexpr const char* kDeleteQuestion = "One or more of the files are not downloaded. Delete anyway?";
  static std::string ReDownloadQuestion(const std::string& path) { return "Re-download and replace " + path + "?"; }

 private:
  // A record taken now and acted on after an answer: still the same record
  // when it is still in the list under its base path.
  struct THeld {
    TLocalDownloadinfo* Record;
    std::string TempFileName;
  };
  std::vector<THeld> Hold(const TLDIList& records) const;
  TLocalDownloadinfo* Live(const THeld& held) const;
  void DeleteRecords(const TLDIList& records, bool keepSelection);
  void ReDownloadNext(std::shared_ptr<std::vector<THeld>> pending, size_t next);
  void StartAgain(TLocalDownloadinfo& record);
  TLocalDownloadinfo* CurrentRecord() const;

  TDownloadSystem& system_;
  TDownloadListModel& model_;
  TListWindowPort* windows_;
};

}  // namespace brindle
