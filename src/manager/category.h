#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// A category sorts downloads by file extension and chooses their folder.
class TCategory {
 public:
  // Empty name, extensions and folder; the flags follow the global options
  // of this moment ("ShowSaveDialog", "ShowCompletedDialog").
  TCategory();

  // One line of the categories file (without its line end): name, extensions,
  // "Yes"/"No" auto-save, folder and "Yes"/"No" completion dialog, separated
  // by TABs; a line without the last field keeps the completion flag's
  // default. nullptr for a line with fewer than four fields (blank lines,
  // junk), which cannot be told apart from damage.
  static std::unique_ptr<TCategory> FromLine(std::string_view line);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // Extensions without their dot, as typed (case kept).
  const std::vector<std::string>& Extensions() const { return extensions_; }
  // Runs of spaces count as one; the text is cut at each space. A leading
  // space gives an empty first entry, a trailing one adds nothing.
  void SetExtensions(const std::string& text);

  // Ends with "/" unless empty.
  const std::string& SaveFolder() const { return saveFolder_; }
  void SetSaveFolder(const std::string& folder);

  bool AutoSave() const { return autoSave_; }
  void SetAutoSave(bool autoSave) { autoSave_ = autoSave; }
  bool ShowCompleteDialog() const { return showCompleteDialog_; }
  void SetShowCompleteDialog(bool show) { showCompleteDialog_ = show; }

  // True when an entry equals the file's extension (without its dot, empty
  // when it has none) ignoring case. No wildcards.
  bool BelongsToCategory(const std::string& fileName) const;

  // The categories-file line, without line end.
  std::string ToString() const;

 private:
  std::string name_;
  std::vector<std::string> extensions_;
  std::string saveFolder_;
  bool autoSave_ = false;
  bool showCompleteDialog_ = true;
};

}  // namespace brindle
