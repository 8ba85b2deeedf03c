#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/checksum.h"
#include "manager/download_windows.h"

namespace brindle {

class PromptPort;
class TCategory;
class TCategoryList;
class TLocalDownloadinfo;

// What the file-info dialog works with besides its record.
struct TDownloadFileInfoServices {
  TCategoryList* Categories = nullptr;  // nullptr: no categories
  // The download system's FileNameInUse: names other downloads claim.
  std::function<bool(const std::string&)> FileNameInUse;
  // Creating a missing directory with its parents, and the write test of a
  // path (an existing file is opened for writing, a missing one created and
  // removed again). Empty: the real ones. Tests inject failures here; the
  // directory's own write test goes through the file fault hook
  // (DirectoryWriteError).
  std::function<bool(const std::string& dir)> CreateDirectory;
  std::function<bool(const std::string& path)> WriteTest;
};

// The "Save as..." dialog of a new download without its toolkit: the path
// and category it proposes, the paths that follow a category change or
// feed the save-file dialog, the validation of the chosen path and the
// answers of its buttons.
class TDownloadFileInfo {
 public:
  // Runs the creation steps: the category claiming the file's name (the
  // browser's proposed one, else the URL's), its folder (else the download
  // directory), the name ("unknown" when there is none, a URL's with "%20"
  // as blanks; made unique).
  TDownloadFileInfo(const TLocalDownloadinfo& record, TDownloadFileInfoServices services);

  const std::string& Url() const { return url_; }
  const std::string& ProposedPath() const { return proposedPath_; }
  // The category found for the file name, or nullptr.
  const TCategory* ProposedCategory() const { return proposedCategory_; }
  // The record's checksum (one handed over with the address), "" for none.
  const std::string& ProposedChecksum() const { return proposedChecksum_; }
  std::vector<std::string> CategoryNames() const;

  // Edit_SaveAs after the category combo changed to name: the category's
  // folder followed by the file name of saveAs; saveAs itself for a name
  // that is no category.
  std::string PathForCategory(const std::string& name, const std::string& saveAs) const;

  // The save-file dialog of "Change...": where it opens, the name it
  // proposes, its Qt-style filter and default suffix (both empty for a
  // name without extension).
  struct TSaveDialogSetup {
    std::string Directory;
    std::string FileName;
    std::string Filter;
    std::string DefaultSuffix;
  };
  // lastDirectory: where the save-file dialog was opened last ("" if never).
  TSaveDialogSetup ChangeSetup(const std::string& saveAs, const std::string& lastDirectory) const;

  // The path as the download will use it: the directory part resolved like
  // a category folder ("~", relative to the download directory); empty
  // parts stay empty.
  static std::string ResolvePath(const std::string& typed);

  // The checks of Start and Schedule, in order; each failing one shows its
  // message (through prompt) and the later ones still run. done gets
  // whether the path may be used and whether the path field should take
  // the focus. Answers of the user arrive later; done runs once.
  void SubmitedInfoCorrect(const std::string& typed, PromptPort& prompt,
                           std::function<void(bool ok, bool focusSaveAs)> done) const;
  // The part of those checks for a path chosen elsewhere (Properties): a
  // valid path, its directory created after the question when missing, and
  // a directory that takes new files.
  static void DirectoryCorrect(const std::string& path, PromptPort& prompt,
                               std::function<void(bool ok, bool focusSaveAs)> done);

  // The "Checksum" field of Save as and Properties: empty for none, else
  // ALGO=HEX as brindle-cli's --checksum takes it. False, after telling
  // prompt why, when it is neither.
  static bool ChecksumCorrect(const std::string& typed, PromptPort& prompt, std::optional<TChecksum>& checksum);

  // The answers of Start and Schedule for a validated path; Start without
  // a category makes the path's directory the new download directory.
  TNewDownloadAnswer StartAnswer(const std::string& typed, const std::string& category,
                                 const std::string& description) const;
  TNewDownloadAnswer ScheduleAnswer(const std::string& typed, const std::string& category,
                                    const std::string& description) const;

  static constexpr const char* kUnknownName = "unknown";
  static constexpr const char* kNameInUse =
      "This file name is in use by another downloading process. Please choose another file name.";
  static constexpr const char* kInvalidPath = "Please enter a valid filepath.";
  static constexpr const char* kCannotCreate = "The directory couldn't be created.";
  static std::string OverwriteQuestion(const std::string& path) {
    return "The file \"" + path + "\" already exists. Do you want to overwrite it?";
  }
  static std::string CreateQuestion(const std::string& dir) {
    return "The directory \"" + dir + "\" doesn't exist. Do you want to create it?";
  }
  static std::string CannotWrite(const std::string& path) {
    return "The file \"" + path + "\" couldn't be opened for writing.";
  }
  static std::string CannotWriteDirectory(const std::string& dir, const std::string& reason) {
    return "Can't write to the directory \"" + dir + "\": " + reason + ".";
  }

 private:
  std::string FolderOf(const TCategory* category) const;

  TDownloadFileInfoServices services_;
  std::string url_;
  std::string fileName_;
  std::string proposedPath_;
  const TCategory* proposedCategory_ = nullptr;
  std::string proposedChecksum_;
};

}  // namespace brindle
