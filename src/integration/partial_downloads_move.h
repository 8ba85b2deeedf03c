#pragma once

#include <functional>
#include <optional>
#include <string>

namespace brindle {

class TDownloadSystem;

// Moves the partial downloads (record files and their part files) from one
// directory into another, together with the records in memory, so that the
// next save lands beside the parts. All or nothing: on a failure what was
// moved goes back and the reason is returned.
class TPartialDownloadsMove {
 public:
  // Moves one file; false with errno set when it could not.
  using TMoveFile = std::function<bool(const std::string& from, const std::string& to)>;

  // move: nullptr moves by rename, and across file systems by copy, sync
  // and delete.
  explicit TPartialDownloadsMove(TDownloadSystem& system, TMoveFile move = nullptr);

  // nullopt when done, else why nothing was moved. The target directory is
  // created with its parents when missing.
  std::optional<std::string> Move(const std::string& fromDirectory, const std::string& toDirectory);

  // The default move.
  static bool RenameOrCopy(const std::string& from, const std::string& to);

 private:
  TDownloadSystem& system_;
  TMoveFile move_;
};

}  // namespace brindle
