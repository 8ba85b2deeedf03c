#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brindle::test {

// The first executable of that name on PATH; "" when there is none.
std::string FindProgram(const std::string& name);

// A headless browser in a process group of its own, its output in a log
// file. Ending it ends the whole group: the browser's helper processes and
// the native hosts it started.
class BrowserProcess {
 public:
  // childFds become the child's descriptors 3, 4, ... in that order; each
  // must be above 2 + childFds.size(), so that no dup2 meets another.
  BrowserProcess(std::vector<std::string> args, const std::string& log, const std::vector<int>& childFds = {});
  ~BrowserProcess();
  BrowserProcess(const BrowserProcess&) = delete;
  BrowserProcess& operator=(const BrowserProcess&) = delete;

 private:
  pid_t pid_ = -1;
};

}  // namespace brindle::test
