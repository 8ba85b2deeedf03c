#pragma once

#include <functional>
#include <string>

namespace brindle {

// Questions and messages for the user. Asynchronous: the event loop must not
// be run re-entrantly, so the answer comes later through the callback, and
// the caller gathers what it acts on only when it arrives. A front end
// calls the callback exactly once, on the event loop's thread.
class PromptPort {
 public:
  virtual ~PromptPort() = default;
  // A Yes/No question.
  virtual void Ask(const std::string& caption, const std::string& question,
                   std::function<void(bool yes)> answer) = 0;
  // A message with an OK button; done runs when it is dismissed.
  virtual void Message(const std::string& caption, const std::string& text, std::function<void()> done) = 0;
};

// The prompt port of the program. Until a front end installs its own, a
// default that has nobody to ask answers every question "no" and dismisses
// every message at once, inside the call. The caller keeps ownership;
// nullptr restores the default.
PromptPort& Prompt();
void SetPrompt(PromptPort* port);

}  // namespace brindle
