// fuzz-link: brindle_cli
// brindle-cli's arguments, NUL-separated: a parse never crashes, a refusal
// always says why, and what is accepted keeps the options' rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (size_t start = 0; start <= input.size();) {
    const size_t end = input.find('\0', start);
    args.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string error;
  const auto options = brindle::ParseCliOptions(args, error);
  if (!options) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (options->Help || options->Version) return 0;
  // --force goes with --unzip alone, and an extraction downloads nothing.
  if (options->Force && options->Unzip.empty()) std::abort();
  if (!options->Unzip.empty() && !options->Urls.empty()) std::abort();
  if (options->Unzip.empty() && options->Urls.empty()) std::abort();
  return 0;
}
