#include "manager/category.h"

#include <algorithm>

#include "core/file_names.h"
#include "core/settings_schema.h"
#include "core/ascii_case.h"
#include "manager/field_escape.h"

namespace brindle {

TCategory::TCategory()
    : autoSave_(!Read(setting::ShowSaveDialog)), showCompleteDialog_(Read(setting::ShowCompletedDialog)) {}

std::unique_ptr<TCategory> TCategory::FromLine(std::string_view line) {
  if (std::count(line.begin(), line.end(), '\t') < 3) return nullptr;
  std::string_view rest = line;
  const auto cut = [&rest] {
    const size_t tab = rest.find('\t');
    const std::string_view field = rest.substr(0, tab);
    rest.remove_prefix(tab + 1);
    return field;
  };
  auto category = std::make_unique<TCategory>();
  category->SetName(UnescapeField(cut()));
  category->SetExtensions(UnescapeField(cut()));
  category->SetAutoSave(cut() == "Yes");
  if (rest.find('\t') != std::string_view::npos) {
    category->SetSaveFolder(UnescapeField(cut()));
    category->SetShowCompleteDialog(rest == "Yes");
  } else {
    category->SetSaveFolder(UnescapeField(rest));
  }
  return category;
}

void TCategory::SetExtensions(const std::string& text) {
  extensions_.clear();
  std::string collapsed;
  for (const char c : text)
    if (c != ' ' || collapsed.empty() || collapsed.back() != ' ') collapsed += c;
  size_t start = 0;
  for (size_t space; (space = collapsed.find(' ', start)) != std::string::npos; start = space + 1)
    extensions_.push_back(collapsed.substr(start, space - start));
  if (start < collapsed.size()) extensions_.push_back(collapsed.substr(start));
}

void TCategory::SetSaveFolder(const std::string& folder) {
  saveFolder_ = folder;
  if (!saveFolder_.empty() && saveFolder_.back() != '/') saveFolder_ += '/';
}

bool TCategory::BelongsToCategory(const std::string& fileName) const {
  std::string extension = ExtractFileExt(fileName);
  if (!extension.empty()) extension.erase(0, 1);
  return std::any_of(extensions_.begin(), extensions_.end(),
                     [&](const std::string& entry) { return SameTextIgnoringCase(entry, extension); });
}

std::string TCategory::ToString() const {
  std::string extensions;
  for (size_t i = 0; i < extensions_.size(); ++i) {
    if (i > 0) extensions += ' ';
    extensions += extensions_[i];
  }
  // A lone empty entry (files without extension) would otherwise vanish.
  if (extensions_.size() == 1 && extensions_[0].empty()) extensions = " ";
  return EscapeField(name_) + '\t' + EscapeField(extensions) + '\t' + (autoSave_ ? "Yes" : "No") + '\t' +
         EscapeField(saveFolder_) + '\t' + (showCompleteDialog_ ? "Yes" : "No");
}

}  // namespace brindle
