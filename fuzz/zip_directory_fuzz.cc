// fuzz-link: brindle_archive
// The directory walk and the extraction of arbitrary bytes as an archive
// file: the probes and the size check, every entry decoded to memory (1 MiB
// in all), and, when the archive declares little enough, ExtractAll into a
// scratch directory.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/checked_sink.h"
#include "archive/entry_extractor.h"
#include "archive/entry_index.h"
#include "archive/unzip.h"

namespace {

class NullSink : public brindle::OutputSink {
 public:
  int Write(const uint8_t*, size_t) override { return brindle::kZipOk; }
};

// A directory of this process, removed at exit.
class Scratch {
 public:
  Scratch()
      : path_(std::filesystem::temp_directory_path().string() + "/zip-directory-fuzz-" + std::to_string(getpid())) {
    std::filesystem::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

const std::string& ScratchDirectory() {
  static const Scratch scratch;
  return scratch.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string archive = ScratchDirectory() + "/input.zip";
  const std::string target = ScratchDirectory() + "/out";
  if (FILE* file = std::fopen(archive.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  } else {
    return 0;
  }

  brindle::IsArchive(archive);
  brindle::FindInstaller(archive);
  int64_t uncompressed = 0;
  brindle::ArchiveSizes(archive, &uncompressed);
  // The size check reads the same directory and decides by it alone.
  const brindle::ZipSizeCheck sizes = brindle::CheckDeclaredSizes(archive, target);
  if (sizes.Declared != uncompressed || sizes.ArchiveSize != static_cast<int64_t>(size)) std::abort();
  if (sizes.Result == brindle::kZipHighRatio &&
      (sizes.Declared <= brindle::kZipBombFloor || sizes.Declared <= brindle::kZipBombRatio * sizes.ArchiveSize))
    std::abort();
  if (sizes.Result != brindle::kZipOk && brindle::DeclaredSizeText(sizes, target).empty()) std::abort();

  brindle::EntryIndex index;
  index.Load(archive);
  brindle::EntryExtractor extractor(archive, &index);
  NullSink null_sink;
  brindle::CheckedSink budget(null_sink, 1 << 20);
  brindle::ZipEntry entry;
  int entries = 0;
  for (int rc = brindle::FirstEntry(archive, &entry); rc == brindle::kZipOk; rc = brindle::NextEntry(&entry)) {
    if (++entries <= 64) extractor.ExtractToSink(entry.LocalHeaderOffset, budget);
  }

  if (uncompressed <= (1 << 20) && entries <= 64) {
    brindle::ExtractAll(archive, target, "*.*");
    std::error_code ignored;
    std::filesystem::remove_all(target, ignored);
  }
  return 0;
}
