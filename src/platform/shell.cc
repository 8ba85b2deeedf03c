#include "platform/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>

#include "core/launcher_port.h"
#include "core/log_error.h"

namespace brindle {

void Callbrowser(const std::string& urlOrPath) {
  try {
    Launcher().OpenDocument(urlOrPath);
  } catch (...) {
    LogError("Callbrowser");
  }
}

bool RunFile(const std::string& path) {
  try {
    if (path.empty()) return false;
    std::error_code error;
    std::string full = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) full = path;
    struct stat info;
    if (stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(full.c_str(), X_OK) == 0)
      return Launcher().StartProgram({full});
    return Launcher().OpenDocument(full);
  } catch (...) {
    LogError("RunFile");
  }
  return false;
}

void ExecuteProgram(const std::string& commandLine) {
  try {
    std::vector<std::string> argv = SplitCommandLine(commandLine);
    if (!argv.empty()) Launcher().StartProgram(argv);
  } catch (...) {
    LogError("ExecuteProgram");
  }
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  constexpr std::string_view kEscapedInDoubleQuotes = "$`\"\\\n";
  const std::string& s = commandLine;
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // quotes make a word even when it stays empty
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == '\\') {
      if (i + 1 < s.size() && s[i + 1] == '\n') {
        ++i;
        continue;
      }
      inWord = true;
      word += i + 1 < s.size() ? s[++i] : '\\';
    } else if (c == '\'') {
      size_t close = s.find('\'', i + 1);
      if (close == std::string::npos) return {};
      word.append(s, i + 1, close - i - 1);
      i = close;
      inWord = true;
    } else if (c == '"') {
      for (++i; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && kEscapedInDoubleQuotes.find(s[i + 1]) != std::string_view::npos) {
          if (s[i + 1] != '\n') word += s[i + 1];
          ++i;
        } else {
          word += s[i];
        }
      }
      if (i >= s.size()) return {};
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

}  // namespace brindle
