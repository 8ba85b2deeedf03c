#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brindle {

class TCategory;
class TCategoryList;
class TCategoryTree;
class TLDIList;

// The fields of the category editor as the user typed them.
struct TCategoryFields {
  std::string Name;
  std::string Extensions;  // separated by blanks
  std::string Directory;
  bool AutoSave = false;
  bool ShowCompleteDialog = true;
  bool operator==(const TCategoryFields&) const = default;
};

// The category dialogs without their toolkit: the editor's fields, its
// validation on OK, and every change applied at once to the category list
// (saved to its file), to the records that use the category and to the tree.
class TCategoryEditor {
 public:
  // records: the download list (the system's; the records are saved when
  // their category changes).
  TCategoryEditor(TCategoryList& categories, TCategoryTree& tree, const TLDIList& records);

  // The cleared editor of a new category: the flags from "ShowSaveDialog"
  // (inverted) and "ShowCompletedDialog".
  static TCategoryFields NewFields();
  static TCategoryFields FieldsOf(const TCategory& category);

  // The validation of OK, in order; the answer may come later (the prompt
  // port). done gets whether the dialog may close and the fields as they
  // are to be shown: a failure may have replaced the name or directory
  // field with its message, success puts the full directory in. editing is
  // the category being edited, nullptr for a new one. On success the typed
  // extensions missing from "Extensions" are added to it.
  void Validate(TCategoryFields fields, const TCategory* editing,
                std::function<void(bool ok, const TCategoryFields& fields)> done) const;

  // OK of a validated editor: creates the category (added to the tree and
  // the list), or changes one (its records and tree entry follow).
  TCategory* AddCategory(const TCategoryFields& fields);
  void EditCategory(TCategory& category, const TCategoryFields& fields);
  // Without confirmation: the records lose the category, then the tree
  // entry and the category go.
  void DeleteCategory(const std::string& name);

  // The list dialog's row: name, extensions, auto-save, complete dialog,
  // default folder.
  static std::vector<std::string> GridRow(const TCategory& category);
  // The stored widths of the list's columns 0 to 3 ("StringGrid_Categories_
  // ColWidth_" + column; 150, 100, 60, 60); -1 for another column.
  static int ColumnWidth(int column);
  static void StoreColumnWidth(int column, int width);

  // A folder as typed: "~" starts in the home directory; one without a
  // leading "/" lies in the download directory. No trailing "/".
  static std::string ResolveDirectory(const std::string& typed);
  // The monitored-extension list after typed was added: each typed word not
  // found in it as a substring (case counts) is appended; the result is
  // trimmed and in lower case.
  static std::string AddExtensions(const std::string& monitored, const std::string& typed);

  static constexpr const char* kNoName = "Please type a category name!";
  static constexpr const char* kNoDirectory = "Please choose a directory!";
  static constexpr const char* kCannotCreate = "Couldn't create directory!";
  static std::string AlreadyExists(const std::string& name) { return "A category named " + name + " already exists."; }
  static std::string CreateQuestion(const std::string& path) {
    return "Directory " + path + " doesn't exist. Do you want to create it?";
  }

 private:
  static void UpdateCategory(TCategory& category, const TCategoryFields& fields);

  TCategoryList& categories_;
  TCategoryTree& tree_;
  const TLDIList& records_;
};

}  // namespace brindle
