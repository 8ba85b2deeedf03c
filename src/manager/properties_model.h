#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/checksum.h"
#include "core/download_status.h"

namespace brindle {

class PromptPort;
class TDownloadSystem;
class TLocalDownloadinfo;

// How the "Change" button prepares its save-file dialog.
struct TSaveDialogSetup {
  std::string InitialDirectory;
  std::string FileName;   // "unknown" when the path names none
  std::string Extension;  // without its dot; empty when the name has none
};

// The properties window of one download without its toolkit: what it
// shows, whether the path may change, and what OK does. The record may be
// deleted while the window is open; every call checks that it still exists.
class TPropertiesModel {
 public:
  TPropertiesModel(TDownloadSystem& system, TLocalDownloadinfo& record);

  // False once the record has left the download list.
  bool RecordExists() const;

  std::string Caption() const;  // "Properties - " + the local file's name
  std::string Url() const;
  std::string SaveTo() const;
  std::string CategoryName() const;  // empty without a category
  std::string Description() const;
  // The download's own speed limit in kilobytes per second; 0: none.
  int64_t SpeedLimit() const;
  // The digest the finished file must have, "" for none (as ALGO=HEX).
  std::string Checksum() const;
  std::string Status() const;
  TStatusColor StatusColor() const;
  // "Done": the size; otherwise the bytes downloaded + " of " + the size.
  std::string SizeText() const;
  // "Save To", "Change" and "Checksum" are read-only for a finished
  // download (and for a deleted one); the window asks again while it is open.
  bool PathEditable() const;
  TSaveDialogSetup ChangeDialog(const std::string& saveToText) const;

  // OK's check of the path before Ok, as "Save as..." checks its folder: a
  // missing directory is created after a question, and one that takes no
  // new file is reported with the reason. done gets whether Ok may follow;
  // a path that may not change passes at once.
  void CheckSaveTo(const std::string& saveTo, PromptPort& prompt, std::function<void(bool ok)> done) const;

  // OK: stores the path and the checksum (when editable), the description
  // and, when given, the speed limit (applied at once to a running
  // download), saves the record and rewrites its row. False when the record
  // is gone.
  bool Ok(const std::string& saveTo, const std::string& description,
          std::optional<int64_t> speedLimit = std::nullopt, std::optional<TChecksum> checksum = std::nullopt);

  // "PropertiesFormWidth" / "PropertiesFormHeight", defaults 400 x 200.
  static int StoredWidth();
  static int StoredHeight();
  static void StoreSize(int width, int height);

 private:
  TDownloadSystem& system_;
  TLocalDownloadinfo* record_;
  std::string tempFileName_;  // tells the record from a later one at its address
};

}  // namespace brindle
