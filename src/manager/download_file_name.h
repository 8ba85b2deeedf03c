#pragma once

#include <functional>
#include <string>

namespace brindle {

class TCategoryList;
class TLocalDownloadinfo;
class TUrl;

// The name the address gives its file on disk: its file name with "%20" as
// spaces and control characters as "_", cut to 255 bytes keeping the
// extension; "" when the address names no file (none, ".", "..").
std::string UrlFileName(const TUrl& url);
// UrlFileName, or "index.html" for an address that names no file.
std::string LocalNameFromUrl(const TUrl& url);

// "DefaultDownloadDirectory", or the user's download directory, without a
// trailing "/".
std::string DownloadDirectorySetting();

// What a new download's file is chosen from besides its record and the
// settings.
struct TFileNameChoice {
  // A folder and a name given with the download (brindle-cli's -d and -o):
  // either one puts the file there, a name alone into the download folder.
  std::string Directory;
  std::string Name;
  // Where the category of the file's name is looked up; nullptr keeps the
  // record's category.
  const TCategoryList* Categories = nullptr;
  // The user may be asked for the name instead.
  bool MayAsk = false;
  // Names other downloads keep, whose files need not exist yet.
  std::function<bool(const std::string&)> InUse;
};

// Decides where a new download is saved. The name is the one given, else
// the record's proposed one, else its address's. The folder is the one
// given; else the folder of the name's category when that category saves
// by itself; else a date folder below the download folder ("DateFolders");
// else, when the user may be asked and "ShowSaveDialog" wants it, none:
// "" is returned and the user chooses; else the download folder. The folder
// is created, and a name taken on disk or by InUse gets "(n)". Unless a
// folder or name was given, record.Category becomes the name's category
// from Categories, when given.
std::string ChooseLocalFileName(TLocalDownloadinfo& record, const TFileNameChoice& choice);

}  // namespace brindle
