#pragma once

#include <string>

namespace brindle {

class TCategoryList;

// Tidies the partial-downloads directory before the download system loads
// it. A record file goes when its record is of no use: no local file name,
// the same local file as an earlier record, a "Done" download whose file
// is gone (with RemoveUnexistingFilesFromList), or a "Downloading" one
// without its first part file. Then every part file without a record file
// goes, but only a name of the form the program gives its own files (eight
// letters or digits, a dot, digits), so nothing a user keeps in a shared
// folder is ever deleted.
void CleanUpTempDirectory(const TCategoryList* categories);

// "8 letters or digits" "." "digits": the name of one of our part files.
bool IsOwnPartFileName(const std::string& name);

}  // namespace brindle
