#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// The most of a file the text viewer shows.
inline constexpr int64_t kViewerMaxBytes = 16 * 1024 * 1024;

// The text the viewer shows for a file: at most its first maxBytes, as
// UTF-8 with every invalid sequence shown as U+FFFD (a sequence cut by the
// limit counts as invalid). Empty when the file cannot be read.
std::string LoadViewerText(const std::string& path, int64_t maxBytes = kViewerMaxBytes);

// bytes as valid UTF-8: each maximal invalid subpart becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

}  // namespace brindle
