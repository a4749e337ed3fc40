// Message boxes with two faces: an interactive answerer that the window installs, and the
// unattended one (the default) that reports the text and answers at once with the default
// answer, so that nothing blocks a run without a user.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fern {

// VB's MsgBox flags and results.
namespace mb {
inline constexpr int kOkOnly = 0;
inline constexpr int kOkCancel = 1;
inline constexpr int kAbortRetryIgnore = 2;
inline constexpr int kYesNoCancel = 3;
inline constexpr int kYesNo = 4;
inline constexpr int kRetryCancel = 5;
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kExclamation = 48;
inline constexpr int kInformation = 64;
inline constexpr int kDefaultButton2 = 256;
inline constexpr int kDefaultButton3 = 512;
inline constexpr int kSystemModal = 4096;

inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kAbort = 3;
inline constexpr int kRetry = 4;
inline constexpr int kIgnore = 5;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
}  // namespace mb

// The answer a box with these flags gives when its default button is taken: the buttons are
// flags & 7, the default is the first, second or third by the bits 256/512 (a default beyond
// the box's buttons falls back to the first). Unknown button sets count as OK only.
int DefaultAnswer(int flags);

class MessageAnswerer {
 public:
  virtual ~MessageAnswerer() = default;
  // The button pressed, as a VB result (mb::kOk ...).
  virtual int MessageBox(const std::string& text, int flags, const std::string& title) = 0;
  // A yes/no question; true for yes.
  virtual bool MsgAsk(const std::string& question, bool defaultAnswer) = 0;
  // The text entered; the empty text when the user cancels.
  virtual std::string InputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText) = 0;
};

// Reports each message to a sink and answers with the default without waiting.
class UnattendedAnswerer : public MessageAnswerer {
 public:
  // Receives the title and text of every box, question and input prompt.
  using Sink = std::function<void(const std::string& title, const std::string& text)>;

  // An empty sink writes "title: text" lines to standard error.
  explicit UnattendedAnswerer(Sink sink = {});

  int MessageBox(const std::string& text, int flags, const std::string& title) override;
  bool MsgAsk(const std::string& question, bool defaultAnswer) override;
  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;

 private:
  void Report(const std::string& title, const std::string& text);
  Sink sink_;
};

// The process's answerer. Installing null goes back to an UnattendedAnswerer writing to
// standard error, which is also what is there before anything is installed.
void SetMessageAnswerer(std::shared_ptr<MessageAnswerer> answerer);
MessageAnswerer& Answerer();

// Shorthands through Answerer().
int MessageBox(const std::string& text, int flags, const std::string& title = {});
bool MsgAsk(const std::string& question, bool defaultAnswer = false);
std::string InputBox(const std::string& prompt, const std::string& title = {},
                     const std::string& defaultText = {});

}  // namespace fern
