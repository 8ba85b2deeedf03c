#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace brindle {

// Every "%20" of the text as a space; no other percent code is decoded.
std::string ReplaceSpaceCodes(const std::string& text);

// The extension of a path with its dot: the text from the last "." after the
// last "/"; empty when there is none.
std::string ExtractFileExt(const std::string& path);

// The longest file name most Linux file systems take, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// The n-th other name for path: "stem(n).ext" (n 0: path itself). When that
// is longer than a file name may be, the stem is shortened, never the
// extension, and never inside a UTF-8 sequence.
std::string NumberedFileName(const std::string& path, int64_t n);

// The path itself when nothing exists there and inUse (may be empty: nothing
// in use) does not claim it, else the first free NumberedFileName(path, N),
// N = 1, 2, ...
std::string MakeUniqueFileName(const std::string& path,
                               const std::function<bool(const std::string&)>& inUse);

// Creates dir with its parents when missing and returns dir + "/" + eight
// random characters N such that neither "N" nor any "N.*" exists there. The
// caller adds ".dat" or a part number.
std::string GetTempFileName(const std::string& dir);
// The same, drawing the candidates from nextName instead of the random
// source (so that tests can make names collide).
std::string GetTempFileName(const std::string& dir, const std::function<std::string()>& nextName);

// count characters from "0"-"9" and "A"-"Y", "A"-"G" twice as likely as the
// other letters. Thread-safe; the generator is seeded once per process.
std::string GenerateRandomAlphaNums(int count);

// True when the text after the first "." (the whole name without one)
// consists of digits only; an empty text counts. Recognises part files.
bool HasNumericExtension(const std::string& fileName);

// A file name (no directory) cut to maxBytes, keeping its extension and
// never splitting a UTF-8 sequence. When the extension leaves no room for
// the base, the whole name is cut instead.
std::string LimitFileNameLength(const std::string& name, size_t maxBytes = kMaxFileNameBytes);

// A name from outside (an archive, an address, a browser) as it goes on
// disk: each C0 control character and DEL becomes "_", so that no listing
// of the folder can be steered by it.
std::string ReplaceControlCharacters(const std::string& name);

// A name proposed from outside (a browser, a server) made safe to create in
// a download directory: the part after the last "/" or "\\", with its control
// characters replaced, cut to 255 bytes; empty when nothing usable is left
// ("", ".", "..").
std::string SafeBaseName(const std::string& proposed);

}  // namespace brindle
