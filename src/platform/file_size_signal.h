#pragma once

namespace brindle {

// Makes a write past the file-size limit (RLIMIT_FSIZE) fail with EFBIG, as
// an ordinary error the writer handles, instead of killing the program with
// SIGXFSZ. Program-wide; the front ends call it once at start. Programs the
// program starts get the default disposition back.
void IgnoreFileSizeSignal();

}  // namespace brindle
