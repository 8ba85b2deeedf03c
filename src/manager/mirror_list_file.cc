#include "manager/mirror_list_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <vector>

#include "core/atomic_file.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "engine/file_mirror.h"
#include "engine/mirror_list.h"
#include "core/text_file.h"

namespace brindle {
namespace {

struct TMirrorServer {
  std::string Location;
  std::string Description;
  std::string BaseUrl;
};

struct TMirrorGroupList {
  std::string GroupNumber;
  std::vector<TMirrorServer> Servers;  // in file order
};

// The parsed file: its groups in order of first appearance, and the group
// and path of the last server whose base URL begins the wanted URL.
struct TMirrorGroupLists {
  void AddMirrorServer(TMirrorServer server, const std::string& groupNumber) {
    auto found = Index.find(groupNumber);
    if (found == Index.end()) {
      found = Index.emplace(groupNumber, Groups.size()).first;
      Groups.push_back({groupNumber, {}});
    }
    Groups[found->second].Servers.push_back(std::move(server));
  }

  std::vector<TMirrorGroupList> Groups;
  std::map<std::string, size_t> Index;
  bool Matched = false;
  std::string MatchedPath;
  std::string MatchedGroupNumber;
};

bool IsBlank(std::string_view line) {
  for (const char c : line)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

// The text before the next comma; without a comma the field is empty and
// the rest stays whole.
std::string CutField(std::string_view& rest) {
  const size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return "";
  std::string field(rest.substr(0, comma));
  rest.remove_prefix(comma + 1);
  return field;
}

}  // namespace

std::unique_ptr<TMirrorList> GetMirrorsFromText(std::string_view listText, const std::string& url) {
  auto mirrors = std::make_unique<TMirrorList>();
  try {
    TMirrorGroupLists groups;
    for (const std::string_view line : SplitLines(listText)) {
      if (line.substr(0, 2) == "//" || IsBlank(line)) continue;
      std::string_view rest = line;
      TMirrorServer server;
      server.Location = CutField(rest);
      server.Description = CutField(rest);
      const std::string groupNumber = CutField(rest);
      server.BaseUrl = std::string(rest);
      if (!server.BaseUrl.empty() && url.compare(0, server.BaseUrl.size(), server.BaseUrl) == 0) {
        groups.Matched = true;
        groups.MatchedPath = url.substr(server.BaseUrl.size());
        groups.MatchedGroupNumber = groupNumber;
      }
      groups.AddMirrorServer(std::move(server), groupNumber);
    }
    if (groups.Matched) {
      const TMirrorGroupList& group = groups.Groups[groups.Index.at(groups.MatchedGroupNumber)];
      for (const TMirrorServer& server : group.Servers) {
        auto mirror = std::make_unique<TFileMirror>(server.BaseUrl + groups.MatchedPath);
        mirror->Location = server.Location;
        mirror->Description = server.Description;
        mirrors->Add(mirror.release());
      }
    }
  } catch (...) {
    LogError("GetMirrors");
  }
  return mirrors;
}

std::unique_ptr<TMirrorList> GetMirrors(const std::string& url) {
  std::string text;
  if (ReadFileText(MirrorListFile(), text) != TReadResult::Ok) return std::make_unique<TMirrorList>();
  return GetMirrorsFromText(text, url);
}

bool InstallDefaultMirrorList() {
  try {
    const std::string path = MirrorListFile();
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) return true;
    if (errno != ENOENT) return false;
    EnsureDirectory(DataDirectory());
    return WriteFileAtomically(path, DefaultMirrorListText(), 0644);
  } catch (...) {
    LogError("InstallDefaultMirrorList");
    return false;
  }
}

}  // namespace brindle
