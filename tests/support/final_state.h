#pragma once

#include "engine/part_downloader.h"

namespace brindle::test {

// A part downloader in this state has stopped and reports nothing more.
inline bool Final(TPartDownloaderState s) { return s == psDone || s == psError || s == psAborted || s == psPaused; }

}  // namespace brindle::test
