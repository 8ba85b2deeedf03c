#pragma once

namespace brindle::test {

// A fake installed as the program's port while it lives, e.g.
// Installed<ScriptedPrompt, SetPrompt>.
template <class Fake, auto Set>
class Installed : public Fake {
 public:
  Installed() { Set(this); }
  ~Installed() { Set(nullptr); }
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;
};

}  // namespace brindle::test
