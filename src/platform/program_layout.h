#pragma once

#include <string>

namespace brindle {

// Where Brindle's programs and files lie, worked out from the running
// program's own path, so that one build serves any install prefix and the
// build tree alike. Installed, the programs are <prefix>/bin/brindle and
// brindle-cli, the browser's host is <prefix>/<host dir>/brindle-host and
// the data is under <prefix>/share/brindle (the folders are the install
// rules' own, compiled in); the installed extension's manifest marks an
// installation. Anywhere else (the build tree) every program is beside the
// running one and there is no data folder.
class TProgramLayout {
 public:
  // From /proc/self/exe.
  static TProgramLayout ForThisProgram();
  // From a program's full path; " (deleted)", which the kernel appends once
  // the file was replaced (a package upgrade), is dropped.
  static TProgramLayout ForProgram(std::string programPath);

  bool Installed() const { return !prefix_.empty(); }
  const std::string& Prefix() const { return prefix_; }
  // The desktop program, the command-line program and the browser's host.
  std::string DesktopProgram() const { return ProgramPath("brindle"); }
  std::string CliProgram() const { return ProgramPath("brindle-cli"); }
  std::string HostProgram() const;
  // The unpacked browser extension; empty outside an installation.
  std::string ExtensionDirectory() const;
  // The manual (the README as HTML): the installed one, or outside an
  // installation the one the build wrote. The file may be missing.
  std::string ManualFile() const;

 private:
  TProgramLayout(std::string programDirectory, std::string prefix);
  std::string ProgramPath(const char* name) const;

  std::string programDirectory_;
  std::string prefix_;
};

}  // namespace brindle
