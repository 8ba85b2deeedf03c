#include "engine/file_mirror.h"

#include "core/url.h"

namespace brindle {

TFileMirror::TFileMirror(const std::string& url) : Url(std::make_unique<TUrl>(url)) {}

TFileMirror::~TFileMirror() = default;

}  // namespace brindle
