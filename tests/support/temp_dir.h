#pragma once

#include <string>
#include <vector>

namespace brindle::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole-file helpers for tests.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The names in dir, or the relative paths of its whole tree, sorted; none
// when it is missing.
std::vector<std::string> ListFiles(const std::string& dir, bool tree = false);

}  // namespace brindle::test
