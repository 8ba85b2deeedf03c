#include "manager/category_editor.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "core/ascii_case.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "core/text_file.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/category_tree.h"
#include "manager/download_file_name.h"
#include "manager/ldi_list.h"

namespace brindle {
namespace {

constexpr const char* kCaption = "Brindle";

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return Trimmed(text);
}

}  // namespace

TCategoryEditor::TCategoryEditor(TCategoryList& categories, TCategoryTree& tree, const TLDIList& records)
    : categories_(categories), tree_(tree), records_(records) {}

TCategoryFields TCategoryEditor::NewFields() {
  TCategoryFields fields;
  fields.AutoSave = !Read(setting::ShowSaveDialog);
  fields.ShowCompleteDialog = Read(setting::ShowCompletedDialog);
  return fields;
}

TCategoryFields TCategoryEditor::FieldsOf(const TCategory& category) {
  return {category.Name(), Joined(category.Extensions()), WithoutTrailingSlash(category.SaveFolder()),
          category.AutoSave(), category.ShowCompleteDialog()};
}

std::string TCategoryEditor::ResolveDirectory(const std::string& typed) {
  std::string path = Trimmed(typed);
  if (path == "~" || path.starts_with("~/")) {
    const char* home = std::getenv("HOME");
    path = std::string(home ? home : "") + path.substr(1);
  }
  if (!path.starts_with("/")) path = DownloadDirectorySetting() + "/" + path;
  return WithoutTrailingSlash(path);
}

std::string TCategoryEditor::AddExtensions(const std::string& monitored, const std::string& typed) {
  std::string list = monitored;
  const std::string words = Trimmed(typed);
  size_t start = 0;
  while (start <= words.size()) {
    const size_t blank = std::min(words.find(' ', start), words.size());
    const std::string word = words.substr(start, blank - start);
    if (!word.empty() && list.find(word) == std::string::npos) list += " " + word;
    start = blank + 1;
  }
  list = Trimmed(list);
  for (char& c : list) c = LowerAscii(c);
  return list;
}

void TCategoryEditor::Validate(TCategoryFields fields, const TCategory* editing,
                               std::function<void(bool ok, const TCategoryFields& fields)> done) const {
  try {
    const std::string name = Trimmed(fields.Name);
    // The message left in the field is no name either.
    if (name.empty() || name == kNoName) {
      fields.Name = kNoName;
      done(false, fields);
      return;
    }
    // Two categories of one name (ignoring case) could not be told apart in
    // the records, so a renamed one may not take another's name either.
    const TCategory* same = categories_.GetByName(name);
    if (same && same != editing) {
      Prompt().Message(kCaption, AlreadyExists(name), [done, fields] { done(false, fields); });
      return;
    }
    if (Trimmed(fields.Directory).empty() || fields.Directory == kNoDirectory || fields.Directory == kCannotCreate) {
      fields.Directory = kNoDirectory;
      done(false, fields);
      return;
    }
    const auto accept = [done](TCategoryFields accepted) {
      Write(setting::Extensions, AddExtensions(Read(setting::Extensions), accepted.Extensions));
      done(true, accepted);
    };
    const std::string path = ResolveDirectory(fields.Directory);
    if (IsDirectory(path)) {
      fields.Directory = path;
      accept(fields);
      return;
    }
    Prompt().Ask(kCaption, CreateQuestion(path), [fields, path, done, accept](bool yes) mutable {
      if (!yes) return done(false, fields);
      if (!EnsureDirectory(path)) {
        fields.Directory = kCannotCreate;
        return done(false, fields);
      }
      fields.Directory = path;
      accept(fields);
    });
  } catch (...) {
    LogError("TForm_AddCategory.SpeedButton_OKClick");
  }
}

void TCategoryEditor::UpdateCategory(TCategory& category, const TCategoryFields& fields) {
  category.SetName(Trimmed(fields.Name));
  category.SetExtensions(Trimmed(fields.Extensions));
  category.SetSaveFolder(fields.Directory);
  category.SetAutoSave(fields.AutoSave);
  category.SetShowCompleteDialog(fields.ShowCompleteDialog);
}

TCategory* TCategoryEditor::AddCategory(const TCategoryFields& fields) {
  try {
    auto category = std::make_unique<TCategory>();
    UpdateCategory(*category, fields);
    tree_.AddCategoryToTreeView(category->Name());
    return categories_.Add(std::move(category));
  } catch (...) {
    LogError("TForm_Categories.Add");
    return nullptr;
  }
}

void TCategoryEditor::EditCategory(TCategory& category, const TCategoryFields& fields) {
  try {
    const std::string oldName = category.Name();
    UpdateCategory(category, fields);
    categories_.SaveToFile();
    TLDIList(records_).ChangeCategory(&category);
    tree_.ChangeCategoryInTreeView(oldName, category.Name());
  } catch (...) {
    LogError("TForm_Categories.Edit");
  }
}

void TCategoryEditor::DeleteCategory(const std::string& name) {
  try {
    const TCategory* category = categories_.GetByName(name);
    if (!category) return;
    // The exact name, as the tree and the list hold it.
    const std::string exact = category->Name();
    TLDIList(records_).DeleteCategory(exact, categories_);
    tree_.DeleteCategoryFromTreeView(exact);
    categories_.RemoveCategory(exact);
  } catch (...) {
    LogError("TForm_Categories.Delete");
  }
}

std::vector<std::string> TCategoryEditor::GridRow(const TCategory& category) {
  return {category.Name(), Joined(category.Extensions()), category.AutoSave() ? "Yes" : "No",
          category.ShowCompleteDialog() ? "Yes" : "No", WithoutTrailingSlash(category.SaveFolder())};
}

int TCategoryEditor::ColumnWidth(int column) {
  if (column < 0 || column > 3) return -1;
  return Read(setting::CategoriesColumnWidth(column));
}

void TCategoryEditor::StoreColumnWidth(int column, int width) {
  if (column < 0 || column > 3) return;
  Write(setting::CategoriesColumnWidth(column), width);
}

}  // namespace brindle
