#include "platform/msgbox.h"

#include <cstdio>
#include <vector>

namespace fern {
namespace {

std::shared_ptr<MessageAnswerer>& Current() {
  static std::shared_ptr<MessageAnswerer> current = std::make_shared<UnattendedAnswerer>();
  return current;
}

}  // namespace

int DefaultAnswer(int flags) {
  static const std::vector<std::vector<int>> kButtons = {
      {mb::kOk},
      {mb::kOk, mb::kCancel},
      {mb::kAbort, mb::kRetry, mb::kIgnore},
      {mb::kYes, mb::kNo, mb::kCancel},
      {mb::kYes, mb::kNo},
      {mb::kRetry, mb::kCancel},
  };
  const size_t set = static_cast<size_t>(flags & 7);
  const std::vector<int>& buttons = set < kButtons.size() ? kButtons[set] : kButtons[0];
  const size_t index = static_cast<size_t>((flags >> 8) & 3);
  return index < buttons.size() ? buttons[index] : buttons[0];
}

UnattendedAnswerer::UnattendedAnswerer(Sink sink) : sink_(std::move(sink)) {}

void UnattendedAnswerer::Report(const std::string& title, const std::string& text) {
  if (sink_) {
    sink_(title, text);
  } else {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
}

int UnattendedAnswerer::MessageBox(const std::string& text, int flags, const std::string& title) {
  Report(title, text);
  return DefaultAnswer(flags);
}

bool UnattendedAnswerer::MsgAsk(const std::string& question, bool defaultAnswer) {
  Report({}, question);
  return defaultAnswer;
}

std::string UnattendedAnswerer::InputBox(const std::string& prompt, const std::string& title,
                                         const std::string& defaultText) {
  Report(title, prompt);
  return defaultText;
}

void SetMessageAnswerer(std::shared_ptr<MessageAnswerer> answerer) {
  Current() = answerer ? std::move(answerer) : std::make_shared<UnattendedAnswerer>();
}

MessageAnswerer& Answerer() { return *Current(); }

int MessageBox(const std::string& text, int flags, const std::string& title) {
  // Held for the call, so an answerer replaced while its box is open stays alive.
  const std::shared_ptr<MessageAnswerer> answerer = Current();
  return answerer->MessageBox(text, flags, title);
}

bool MsgAsk(const std::string& question, bool defaultAnswer) {
  const std::shared_ptr<MessageAnswerer> answerer = Current();
  return answerer->MsgAsk(question, defaultAnswer);
}

std::string InputBox(const std::string& prompt, const std::string& title,
                     const std::string& defaultText) {
  const std::shared_ptr<MessageAnswerer> answerer = Current();
  return answerer->InputBox(prompt, title, defaultText);
}

}  // namespace fern
