#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/checksum.h"

namespace brindle {

// What brindle-cli was asked to do.
struct TCliOptions {
  std::string Dir;     // -d: save into this directory
  std::string Output;  // -o: file name (one URL only)
  std::optional<int> Split;
  std::optional<int> Jobs;
  std::optional<int> Retries;
  std::optional<int> RetryDelay;
  // --limit-rate: bytes per second for everything together, this run only;
  // 0: no limit.
  std::optional<int64_t> LimitRate;
  // --checksum ALGO=HEX: the digest the finished file must have (one URL).
  std::optional<TChecksum> Checksum;
  std::string Home;
  bool Quiet = false;
  bool Help = false;
  bool Version = false;
  bool ShutdownWhenDone = false;
  std::vector<std::string> Urls;
  // --unzip ARCHIVE [DIR]: extract instead of downloading; UnzipDir "" is
  // the folder beside the archive named after it.
  std::string Unzip;
  std::string UnzipDir;
  // --force with --unzip: extract an archive that declares far more than
  // its own size (it is still refused when the disk cannot take it).
  bool Force = false;
};

// The folder an archive is extracted into by default: beside it, named after
// it without its extension ("" when the name has no extension to drop).
std::string DefaultUnzipDirectory(const std::string& archive);

// Reads the arguments after the program name. nullopt with error set for
// bad usage.
std::optional<TCliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

// A rate as --limit-rate takes it: bytes per second, or kilobytes (K, k) or
// megabytes (M, m) of 1024 per second, with an optional fraction ("1.5M").
// nullopt when the text is not such a rate.
std::optional<int64_t> ParseRate(const std::string& text);

std::string CliUsage();

}  // namespace brindle
