#include "app/cli_options.h"

#include <charconv>

#include "core/url.h"

namespace brindle {
namespace {

std::optional<int> ParseCount(const std::string& text, int minimum, int maximum) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < minimum || value > maximum) return std::nullopt;
  return value;
}

}  // namespace

std::optional<int64_t> ParseRate(const std::string& text) {
  std::string number = text;
  int64_t unit = 1;
  if (!number.empty() && (number.back() == 'K' || number.back() == 'k')) {
    unit = 1024;
    number.pop_back();
  } else if (!number.empty() && (number.back() == 'M' || number.back() == 'm')) {
    unit = 1024 * 1024;
    number.pop_back();
  }
  const size_t dot = number.find('.');
  const std::string whole = number.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "" : number.substr(dot + 1);
  const auto digits = [](const std::string& part) {
    return part.find_first_not_of("0123456789") == std::string::npos;
  };
  if (whole.empty() || !digits(whole) || !digits(fraction) || (dot != std::string::npos && fraction.empty()) ||
      whole.size() > 12 || fraction.size() > 9)
    return std::nullopt;
  int64_t value = 0;
  std::from_chars(whole.data(), whole.data() + whole.size(), value);
  int64_t scale = 1;
  int64_t part = 0;
  for (char c : fraction) {
    part = part * 10 + (c - '0');
    scale *= 10;
  }
  // The limiter counts whole bytes per second (an upper bound keeps it in
  // 64 bits: 10^12 megabytes per second is far past any line).
  return value * unit + part * unit / scale;
}

std::string CliUsage() {
  return "Usage: brindle-cli [options] URL...\n"
         "       brindle-cli --unzip ARCHIVE [DIR]\n"
         "Downloads each URL (http, https or ftp), in several parts at once, resuming\n"
         "what an earlier run left unfinished.\n"
         "\n"
         "  -d, --dir DIR          save into DIR (created when missing)\n"
         "  -o, --output NAME      save as NAME (one URL only)\n"
         "  -s, --split N          parts per file (1-20)\n"
         "  -j, --jobs N           downloads at the same time\n"
         "      --retries N        retries after an error\n"
         "      --retry-delay S    seconds before a retry\n"
         "      --limit-rate RATE  download at most RATE bytes a second in all; K and M\n"
         "                         mean kilobytes and megabytes (1024): 500K, 2M; 0 none\n"
         "      --checksum ALGO=HEX  check the finished file against this digest (md5,\n"
         "                         sha1, sha256 or sha512; one URL only): a file without\n"
         "                         it fails and is kept with \".bad\" added to its name\n"
         "      --home DIR         profile directory (as BRINDLE_HOME)\n"
         "      --shutdown-when-done  switch the computer off when all files are done\n"
         "  -q, --quiet            no progress output\n"
         "      --unzip ARCHIVE [DIR]  extract a ZIP archive into DIR (default: a folder\n"
         "                         beside it named after it) and list its entries\n"
         "      --force            with --unzip: extract even an archive that declares\n"
         "                         over 1 GiB and 200 times its own size\n"
         "      --help             this text\n"
         "      --version          the version\n"
         "\n"
         "-s, -j, --retries, --retry-delay and --limit-rate apply to this run only.\n"
         "Exit status: 0 every file done (or every entry extracted), 1 a download or\n"
         "an entry failed, 2 bad usage, 130 interrupted (the downloads are paused and\n"
         "resume on the next run).\n";
}

std::string DefaultUnzipDirectory(const std::string& archive) {
  const size_t slash = archive.rfind('/');
  const size_t dot = archive.rfind('.');
  // Nothing before the dot (".zip") or no dot in the file name: no stem.
  if (dot == std::string::npos || (slash != std::string::npos && dot <= slash + 1) || dot == 0) return "";
  return archive.substr(0, dot);
}

std::optional<TCliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error) {
  TCliOptions options;
  struct TValued {
    const char* Short;
    const char* Long;
    std::string* Text;
    std::optional<int>* Number;
    int Minimum;
    int Maximum;
  };
  std::string limitRate;
  std::string checksum;
  const TValued valued[] = {
      {"-d", "--dir", &options.Dir, nullptr, 0, 0},
      {"-o", "--output", &options.Output, nullptr, 0, 0},
      {"-s", "--split", nullptr, &options.Split, 1, 20},
      {"-j", "--jobs", nullptr, &options.Jobs, 1, 1000},
      {nullptr, "--retries", nullptr, &options.Retries, 0, 1000000},
      {nullptr, "--retry-delay", nullptr, &options.RetryDelay, 0, 86400},
      {nullptr, "--limit-rate", &limitRate, nullptr, 0, 0},
      {nullptr, "--checksum", &checksum, nullptr, 0, 0},
      {nullptr, "--home", &options.Home, nullptr, 0, 0},
      {nullptr, "--unzip", &options.Unzip, nullptr, 0, 0},
  };
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.Urls.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-q" || arg == "--quiet") {
      options.Quiet = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      options.Help = true;
      continue;
    }
    if (arg == "--version") {
      options.Version = true;
      continue;
    }
    if (arg == "--shutdown-when-done") {
      options.ShutdownWhenDone = true;
      continue;
    }
    if (arg == "--force") {
      options.Force = true;
      continue;
    }
    const TValued* match = nullptr;
    std::optional<std::string> value;
    for (const TValued& v : valued) {
      const std::string longName = v.Long;
      if (arg == longName || (v.Short && arg == v.Short)) {
        match = &v;
      } else if (arg.compare(0, longName.size() + 1, longName + "=") == 0) {
        match = &v;
        value = arg.substr(longName.size() + 1);
      } else if (v.Short && arg.size() > 2 && arg.compare(0, 2, v.Short) == 0) {
        match = &v;
        value = arg.substr(2);
      }
      if (match) break;
    }
    if (!match) {
      error = "unknown option " + arg;
      return std::nullopt;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = std::string("option ") + arg + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (match->Text) {
      if (value->empty()) {
        error = std::string("option ") + match->Long + " needs a value";
        return std::nullopt;
      }
      *match->Text = *value;
    } else {
      *match->Number = ParseCount(*value, match->Minimum, match->Maximum);
      if (!*match->Number) {
        error = std::string("bad value for ") + match->Long + ": " + *value;
        return std::nullopt;
      }
    }
  }
  if (!limitRate.empty()) {
    options.LimitRate = ParseRate(limitRate);
    if (!options.LimitRate) {
      error = "bad value for --limit-rate: " + limitRate + " (bytes a second, or with K or M: 500K, 2M)";
      return std::nullopt;
    }
  }
  if (!checksum.empty()) {
    std::string why;
    options.Checksum = ParseChecksum(checksum, &why);
    if (!options.Checksum) {
      error = "bad value for --checksum: " + why;
      return std::nullopt;
    }
  }
  if (options.Help || options.Version) return options;
  if (!options.Unzip.empty()) {
    if (options.Urls.size() > 1) {
      error = "--unzip takes one archive and at most one directory";
      return std::nullopt;
    }
    if (!options.Dir.empty() || !options.Output.empty() || options.Split || options.Jobs || options.Retries ||
        options.RetryDelay || options.ShutdownWhenDone || options.LimitRate || options.Checksum) {
      error = "--unzip takes no download options";
      return std::nullopt;
    }
    if (!options.Urls.empty()) options.UnzipDir = options.Urls.front();
    options.Urls.clear();
    if (options.UnzipDir.empty() && DefaultUnzipDirectory(options.Unzip).empty()) {
      error = "--unzip: the archive's name has no extension; name the directory to extract into";
      return std::nullopt;
    }
    return options;
  }
  if (options.Force) {
    error = "--force goes with --unzip";
    return std::nullopt;
  }
  if (options.Urls.empty()) {
    error = "no URL given";
    return std::nullopt;
  }
  if (!options.Output.empty() && options.Urls.size() > 1) {
    error = "-o/--output takes one URL only";
    return std::nullopt;
  }
  if (options.Checksum && options.Urls.size() > 1) {
    error = "--checksum takes one URL only";
    return std::nullopt;
  }
  if (options.Output.find('/') != std::string::npos || options.Output == "." || options.Output == "..") {
    error = "-o/--output takes a file name, not a path (use -d for the directory)";
    return std::nullopt;
  }
  return options;
}

}  // namespace brindle
