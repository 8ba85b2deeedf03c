#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace brindle {

class TMirrorList;

// The same file under every server of the local mirror list's group that
// url lies under (url itself among them), read from MirrorListFile() at each
// call. The caller owns the list and its entries (DeleteAndFreeAllMirrors).
// Empty when nothing matches or the file cannot be read.
std::unique_ptr<TMirrorList> GetMirrors(const std::string& url);
// The same over the text of a mirror list.
std::unique_ptr<TMirrorList> GetMirrorsFromText(std::string_view listText, const std::string& url);

// The mirror list the program ships.
std::string_view DefaultMirrorListText();
// Writes the shipped mirror list to MirrorListFile() when there is no file
// there; one the user has is never touched. True when a list exists afterwards.
bool InstallDefaultMirrorList();

}  // namespace brindle
