#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/prompt_port.h"

namespace brindle::test {

// Answers every question with yes (or no) at once and records every text:
// texts has the questions and messages in order, questions each question as
// "caption|question", messages the messages only.
class ScriptedPrompt : public PromptPort {
 public:
  void Ask(const std::string& caption, const std::string& question, std::function<void(bool)> answer) override {
    texts.push_back(question);
    questions.push_back(caption + "|" + question);
    answer(yes);
  }
  void Message(const std::string&, const std::string& text, std::function<void()> done) override {
    texts.push_back(text);
    messages.push_back(text);
    if (done) done();
  }
  bool yes = true;
  std::vector<std::string> texts;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
};

}  // namespace brindle::test
