#pragma once

namespace brindle {

// A new profile's categories: Compressed, Documents, Music, Pictures,
// Programs and Video, each with the extensions of today's files of its
// kind, in the user's XDG folder of that kind where one exists (Music,
// Pictures, Videos, Documents), else in the download folder. Written only
// when the categories file does not exist either, so nothing is ever added
// to a list the user has, or has emptied.
void InstallDefaultCategories();

}  // namespace brindle
