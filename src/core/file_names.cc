#include "core/file_names.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

#include "core/log_error.h"
#include "core/partial_folder_index.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

bool PathTaken(const std::string& path) {
  std::error_code ec;
  // A dangling symbolic link counts: writing through it would create a file
  // somewhere else.
  return fs::exists(fs::symlink_status(path, ec));
}

// Drops a trailing part of text so that at most maxBytes remain, backing up
// to the start of a UTF-8 sequence the cut would split.
std::string CutUtf8(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// Seeded once: names drawn in quick succession, from any thread, differ.
class RandomSource {
 public:
  RandomSource() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    engine_.seed(seed);
  }
  int Next(int low, int high) {
    std::lock_guard lock(mutex_);
    return std::uniform_int_distribution<int>(low, high)(engine_);
  }

 private:
  std::mutex mutex_;
  std::mt19937_64 engine_;
};

RandomSource& Random() {
  static RandomSource source;
  return source;
}

}  // namespace

std::string ReplaceSpaceCodes(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 3, "%20") == 0) {
      result += ' ';
      i += 3;
    } else {
      result += text[i++];
    }
  }
  return result;
}

std::string ExtractFileExt(const std::string& path) {
  size_t pos = path.find_last_of("./");
  if (pos == std::string::npos || path[pos] != '.') return "";
  return path.substr(pos);
}

std::string NumberedFileName(const std::string& path, int64_t n) {
  if (n <= 0) return path;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string name = path.substr(nameStart);
  const std::string ext = ExtractFileExt(name);
  const std::string number = "(" + std::to_string(n) + ")";
  const std::string stem = name.substr(0, name.size() - ext.size());
  std::string numbered = stem + number + ext;
  if (numbered.size() > kMaxFileNameBytes) {
    // The stem gives way, so that the extension (the file's type) stays.
    const size_t fixed = number.size() + ext.size();
    const size_t room = kMaxFileNameBytes > fixed ? kMaxFileNameBytes - fixed : 0;
    const std::string cut = CutUtf8(stem, room);
    numbered = cut.empty() ? CutUtf8(name, kMaxFileNameBytes - number.size()) + number : cut + number + ext;
  }
  return path.substr(0, nameStart) + numbered;
}

std::string MakeUniqueFileName(const std::string& path,
                               const std::function<bool(const std::string&)>& inUse) {
  try {
    auto taken = [&](const std::string& candidate) {
      return PathTaken(candidate) || (inUse && inUse(candidate));
    };
    for (int64_t n = 0;; ++n) {
      std::string candidate = NumberedFileName(path, n);
      if (!taken(candidate)) return candidate;
    }
  } catch (...) {
    LogError("MakeUniqueFileName");
  }
  return path;
}

std::string GetTempFileName(const std::string& dir) {
  return GetTempFileName(dir, [] { return GenerateRandomAlphaNums(8); });
}

std::string GetTempFileName(const std::string& dir, const std::function<std::string()>& nextName) {
  try {
    return TPartialFolderIndex(dir).NewBasePath(nextName);
  } catch (...) {
    LogError("GetTempFileName");
  }
  return "";
}

std::string GenerateRandomAlphaNums(int count) {
  std::string result;
  try {
    for (int i = 0; i < count; ++i) {
      int code = Random().Next(0, 41) + 48;
      if (code >= 58 && code <= 64) code += 7;
      result += static_cast<char>(code);
    }
  } catch (...) {
    LogError("GenerateRandomAlphaNums");
  }
  return result;
}

bool HasNumericExtension(const std::string& fileName) {
  size_t dot = fileName.find('.');
  size_t start = dot == std::string::npos ? 0 : dot + 1;
  return std::all_of(fileName.begin() + static_cast<std::ptrdiff_t>(start), fileName.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string LimitFileNameLength(const std::string& name, size_t maxBytes) {
  if (name.size() <= maxBytes) return name;
  std::string ext = ExtractFileExt(name);
  if (ext.size() < maxBytes) {
    std::string base = CutUtf8(name.substr(0, name.size() - ext.size()), maxBytes - ext.size());
    if (!base.empty()) return base + ext;
  }
  return CutUtf8(name, maxBytes);
}

std::string ReplaceControlCharacters(const std::string& name) {
  std::string result = name;
  for (char& c : result)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return result;
}

std::string SafeBaseName(const std::string& proposed) {
  const size_t slash = proposed.find_last_of("/\\");
  const std::string name =
      LimitFileNameLength(ReplaceControlCharacters(slash == std::string::npos ? proposed : proposed.substr(slash + 1)));
  if (name == "." || name == "..") return "";
  return name;
}

}  // namespace brindle
