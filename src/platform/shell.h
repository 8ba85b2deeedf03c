#pragma once

#include <string>
#include <vector>

namespace brindle {

// Opens a URL in the browser, or a file with its program, through the
// program's launcher.
void Callbrowser(const std::string& urlOrPath);

// Starts a command line without waiting: split into words as a POSIX shell
// would, then started from the argument vector, never by a shell. A line
// that does not split (an unclosed quote) starts nothing.
void ExecuteProgram(const std::string& commandLine);

// Word splitting by shell rules: blanks (space, tab, newline) separate;
// '...' keeps everything literally; "..." keeps everything but a backslash
// before $ ` " \ or newline; a backslash outside quotes takes the next
// character literally (a backslash-newline vanishes). No expansion, globbing
// or operators. Empty when a quote is not closed.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace brindle
