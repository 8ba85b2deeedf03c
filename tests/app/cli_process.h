#pragma once

// A test fixture running the real brindle-cli as a child process with its
// own profile, and reading what it left behind. Shared by the end-to-end
// tests of this folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/cli_process.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle::test {

inline const std::string kCli = std::string(BRINDLE_BINARY_DIR) + "/src/app/brindle-cli";

using Outcome = CliOutcome;

// brindle-cli on a profile of its own, with a download folder.
class CliProfile {
 public:
  void Start(const std::vector<std::string>& args) { cli_.Start({args}); }
  void Kill(int signal) { cli_.Kill(signal); }
  Outcome Wait(int limitMs = 20000) { return cli_.Wait(limitMs); }
  Outcome Cli(const std::vector<std::string>& args) { return cli_.Run({args}); }

  // Waits (bounded) until every one of n part files holds at least `bytes`.
  bool WaitForParts(size_t n, int64_t bytes) const {
    return WaitFor([&] {
      const auto parts = PartFiles();
      return parts.size() == n && std::all_of(parts.begin(), parts.end(), [bytes](auto& p) { return p.second >= bytes; });
    });
  }

  // Start byte and size of every part file in the profile.
  std::vector<std::pair<int64_t, int64_t>> PartFiles() const {
    std::vector<std::pair<int64_t, int64_t>> parts;
    const std::filesystem::path dir = home_.File("Partial Downloads");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      const std::string ext = entry.path().extension().string();
      if (ext.size() < 2 || ext.find_first_not_of("0123456789", 1) != std::string::npos) continue;
      // A part joined and removed since the listing is skipped.
      std::error_code sizeError;
      const auto size = entry.file_size(sizeError);
      if (!sizeError) parts.emplace_back(std::stoll(ext.substr(1)), static_cast<int64_t>(size));
    }
    return parts;
  }

  TempDir home_;
  TempDir dir_;
  TempDir out_;
  CliProcess cli_{kCli, home_.Path(), dir_.Path()};
};

class CliProcessTest : public ::testing::Test, public CliProfile {};

}  // namespace brindle::test
