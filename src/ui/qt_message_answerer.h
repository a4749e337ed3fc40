// The interactive face of the message boxes: QMessageBox and QInputDialog over the active
// window, with VB's buttons, icons and default button taken from the flags.
#pragma once

#include <QMessageBox>

#include <string>

#include "platform/msgbox.h"

namespace fern {

class QtMessageAnswerer : public MessageAnswerer {
 public:
  int MessageBox(const std::string& text, int flags, const std::string& title) override;
  bool MsgAsk(const std::string& question, bool defaultAnswer) override;
  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;

  // The box's buttons in VB's order (flags & 7; an unknown set gives OK only).
  static std::vector<QMessageBox::StandardButton> Buttons(int flags);
  static QMessageBox::Icon IconFor(int flags);
  // VB's result (mb::kOk ...) for a pressed button; a box closed without a button (Esc or the
  // window's close box) gives the Cancel or No answer where the box has one, else OK.
  static int Result(QMessageBox::StandardButton pressed, int flags);
};

}  // namespace fern
