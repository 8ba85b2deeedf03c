#pragma once

#include <ctime>
#include <string>

#include "archive/output_sink.h"

namespace brindle {

// An output file written under a temporary name beside its final path and
// renamed onto it only when complete, so a failed entry leaves nothing
// behind (and an existing file stays as it was).
class TempOutputFile : public OutputSink {
 public:
  TempOutputFile() = default;
  ~TempOutputFile() override;  // removes the temporary file unless committed
  TempOutputFile(const TempOutputFile&) = delete;
  TempOutputFile& operator=(const TempOutputFile&) = delete;

  // Creates the temporary file, creating missing directories of `path`
  // first; kZipOk or kZipWriteError.
  int Create(const std::string& path);
  int Write(const uint8_t* data, size_t size) override;
  // Gives the file its modification (and access) time unless it is -1,
  // closes it and renames it onto the final path; kZipOk or kZipWriteError.
  int Commit(time_t modified);

 private:
  void Discard();

  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
};

// Creates every directory of `path` in turn ("a/b/c" makes a, a/b, a/b/c);
// directories that exist are accepted. False when one cannot be made.
bool CreateDirectories(const std::string& path);

}  // namespace brindle
