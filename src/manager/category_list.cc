#include "manager/category_list.h"

#include "core/atomic_file.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/ascii_case.h"
#include "core/text_file.h"

namespace brindle {
TCategoryList::TCategoryList() : TCategoryList(CategoriesFile()) {}

TCategoryList::TCategoryList(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

TCategoryList::~TCategoryList() = default;

void TCategoryList::Load() {
  try {
    std::string text;
    const TReadResult result = ReadFileText(fileName_, text);
    unreadable_ = result == TReadResult::Failed;
    if (result != TReadResult::Ok) return;
    for (const std::string_view line : SplitLines(text))
      if (auto category = TCategory::FromLine(line)) categories_.push_back(std::move(category));
    if (!categories_.empty() && Text() != text) SaveToFile();
  } catch (...) {
    LogError("TCategoryList.Load");
  }
}

TCategory* TCategoryList::Add(std::unique_ptr<TCategory> category) {
  if (!category) return nullptr;
  categories_.push_back(std::move(category));
  TCategory* added = categories_.back().get();
  SaveToFile();
  return added;
}

TCategory* TCategoryList::Get(int index) const {
  return index >= 0 && index < Count() ? categories_[static_cast<size_t>(index)].get() : nullptr;
}

TCategory* TCategoryList::GetByName(const std::string& name) const {
  for (const auto& category : categories_)
    if (SameTextIgnoringCase(category->Name(), name)) return category.get();
  return nullptr;
}

TCategory* TCategoryList::GetByFileName(const std::string& fileName) const {
  for (const auto& category : categories_)
    if (category->BelongsToCategory(fileName)) return category.get();
  return nullptr;
}

std::vector<std::string> TCategoryList::CategoryNames() const {
  std::vector<std::string> names;
  names.reserve(categories_.size());
  for (const auto& category : categories_) names.push_back(category->Name());
  return names;
}

void TCategoryList::RemoveCategory(const std::string& name) {
  for (auto it = categories_.begin(); it != categories_.end(); ++it) {
    if ((*it)->Name() == name) {
      categories_.erase(it);
      SaveToFile();
      return;
    }
  }
}

std::string TCategoryList::Text() const {
  std::string text;
  for (const auto& category : categories_) {
    text += category->ToString();
    text += "\r\n";
  }
  return text;
}

bool TCategoryList::SaveToFile() const {
  try {
    if (unreadable_) return false;
    EnsureDirectory(DirectoryOf(fileName_));
    return WriteFileAtomically(fileName_, Text(), 0600);
  } catch (...) {
    LogError("TCategoryList.SaveToFile");
    return false;
  }
}

}  // namespace brindle
