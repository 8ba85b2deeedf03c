#pragma once

#include <string>
#include <vector>

namespace brindle {

// Opens a URL in the browser, or a file with its program, through the
// program's launcher.
void Callbrowser(const std::string& urlOrPath);

// Opens a finished file or folder: a regular file the user may execute is
// started directly as a program (from an argument vector, without
// arguments); anything else, folders included, goes to the desktop's
// association (xdg-open). The path is made absolute first, so that a file
// name is neither searched in PATH nor read as an option. False when
// nothing could be started.
bool RunFile(const std::string& path);

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
