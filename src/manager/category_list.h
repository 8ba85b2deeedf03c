#pragma once

#include <memory>
#include <string>
#include <vector>

#include "manager/category.h"

namespace brindle {

// The program's categories, in the order of the categories file and of the
// tree. Every change rewrites the file (atomically); a write that fails
// leaves the list in memory as changed.
class TCategoryList {
 public:
  // Loads CategoriesFile().
  TCategoryList();
  // Loads fileName; a missing file gives an empty list. Lines that are not
  // categories are skipped, and a file that needed changes (four-field
  // lines, skipped lines) is rewritten at once in the current form.
  explicit TCategoryList(std::string fileName);
  ~TCategoryList();
  TCategoryList(const TCategoryList&) = delete;
  TCategoryList& operator=(const TCategoryList&) = delete;

  // Appends and saves; returns the category, now owned by the list.
  TCategory* Add(std::unique_ptr<TCategory> category);
  // nullptr when index is out of range.
  TCategory* Get(int index) const;
  int Count() const { return static_cast<int>(categories_.size()); }
  // The first category of that name, ignoring case.
  TCategory* GetByName(const std::string& name) const;
  // The first category whose extensions claim the file name.
  TCategory* GetByFileName(const std::string& fileName) const;
  std::vector<std::string> CategoryNames() const;
  // Removes and frees the first category of exactly that name (case
  // counts) and saves. Records must have let go of it before.
  void RemoveCategory(const std::string& name);

  // Writes every category's line as the file's whole new content. False
  // when the write failed, or when the file existed but could not be read
  // at start: a file never read is never overwritten.
  bool SaveToFile() const;
  // What SaveToFile writes.
  std::string Text() const;

 private:
  void Load();

  std::string fileName_;
  std::vector<std::unique_ptr<TCategory>> categories_;
  bool unreadable_ = false;
};

}  // namespace brindle
