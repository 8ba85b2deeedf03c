#pragma once

#include <string>
#include <vector>

class QMimeData;

namespace brindle {

// The addresses a drop on a Brindle window brings that become downloads:
// each link (or, without links, the text) that names a file
// (DownloadableAddress), as it is downloaded, less those on the ignore list.
std::vector<std::string> DroppedAddresses(const QMimeData& data);

}  // namespace brindle
