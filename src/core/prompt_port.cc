#include "core/prompt_port.h"

#include <atomic>

namespace brindle {
namespace {

class NoPrompt final : public PromptPort {
 public:
  void Ask(const std::string&, const std::string&, std::function<void(bool)> answer) override {
    if (answer) answer(false);
  }
  void Message(const std::string&, const std::string&, std::function<void()> done) override {
    if (done) done();
  }
};

NoPrompt gNoPrompt;
std::atomic<PromptPort*> gPrompt{nullptr};

}  // namespace

PromptPort& Prompt() {
  PromptPort* port = gPrompt.load();
  return port != nullptr ? *port : gNoPrompt;
}

void SetPrompt(PromptPort* port) { gPrompt.store(port); }

}  // namespace brindle
