#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brindle {

// What the partial-downloads folder holds, read once: every name there,
// grouped by its stem (the text before its first dot), so that looking for
// one record's part files costs the handful of names it has, not a listing
// of the whole folder. Whoever makes or removes a name there tells the
// index; where a file operation finds otherwise, the file system wins and
// the index follows it (Check). A stale view can cost a leftover file, never
// a write into the wrong one: part files are still opened as Brindle's own
// regular files, and a new name is looked at on disk before it is given out.
class TPartialFolderIndex {
 public:
  explicit TPartialFolderIndex(const std::string& directory);

  // Forgets everything and reads directory instead; the object stays, so
  // whoever holds it (a running download) keeps a valid index.
  void Read(const std::string& directory);

  // The folder, ending in "/".
  const std::string& Directory() const { return directory_; }
  // Whether path names an entry directly in the folder.
  bool Holds(const std::string& path) const;
  // The record files ("*.dat") the folder held when it was read, as full
  // paths, in listing order.
  const std::vector<std::string>& ListedRecordFiles() const { return listedRecords_; }
  // Every "<base>.*" but the record file "<base>.dat", as full paths.
  std::vector<std::string> FilesOf(const std::string& basePath) const;
  // The start bytes of the part files "<base>.<digits>", ascending.
  std::vector<int64_t> PartStarts(const std::string& basePath) const;
  // A new base path "<folder>N", N eight random characters (drawn from
  // nextName when given, so that tests can make names collide) such that no
  // "N" or "N.*" is known, ignoring case, and neither "N", "N.dat" nor "N.0"
  // is on disk; N counts as taken from then on. Creates the folder when it
  // is missing.
  std::string NewBasePath(const std::function<std::string()>& nextName = {});

  void Added(const std::string& path);
  void Removed(const std::string& path);
  // Records whether anything is at path now.
  void Check(const std::string& path);

 private:
  bool Taken(const std::string& stem) const;

  std::string directory_;
  std::vector<std::string> listedRecords_;
  // stem -> the names with that stem.
  std::unordered_map<std::string, std::vector<std::string>> names_;
  // Upper-cased stems ever seen or given out: a name once taken is never
  // given out again, which costs nothing with 41^8 names to draw from.
  std::unordered_set<std::string> takenStems_;
};

}  // namespace brindle
