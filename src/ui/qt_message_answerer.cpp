#include "ui/qt_message_answerer.h"

#include <QApplication>
#include <QInputDialog>

namespace fern {

namespace {

using SB = QMessageBox::StandardButton;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The title a box without one gets: the program's name.
QString TitleOr(const std::string& title) {
  return title.empty() ? QStringLiteral("FernDispatcher") : Q(title);
}

}  // namespace

std::vector<QMessageBox::StandardButton> QtMessageAnswerer::Buttons(int flags) {
  switch (flags & 7) {
    case mb::kOkCancel:
      return {SB::Ok, SB::Cancel};
    case mb::kAbortRetryIgnore:
      return {SB::Abort, SB::Retry, SB::Ignore};
    case mb::kYesNoCancel:
      return {SB::Yes, SB::No, SB::Cancel};
    case mb::kYesNo:
      return {SB::Yes, SB::No};
    case mb::kRetryCancel:
      return {SB::Retry, SB::Cancel};
    default:
      return {SB::Ok};
  }
}

QMessageBox::Icon QtMessageAnswerer::IconFor(int flags) {
  switch (flags & 0x70) {
    case mb::kCritical:
      return QMessageBox::Critical;
    case mb::kQuestion:
      return QMessageBox::Question;
    case mb::kExclamation:
      return QMessageBox::Warning;
    case mb::kInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int QtMessageAnswerer::Result(QMessageBox::StandardButton pressed, int flags) {
  switch (pressed) {
    case SB::Ok:
      return mb::kOk;
    case SB::Cancel:
      return mb::kCancel;
    case SB::Abort:
      return mb::kAbort;
    case SB::Retry:
      return mb::kRetry;
    case SB::Ignore:
      return mb::kIgnore;
    case SB::Yes:
      return mb::kYes;
    case SB::No:
      return mb::kNo;
    default:
      break;
  }
  std::vector<SB> buttons = Buttons(flags);
  for (SB b : {SB::Cancel, SB::No})
    for (SB have : buttons)
      if (have == b) return Result(b, flags);
  return mb::kOk;
}

int QtMessageAnswerer::MessageBox(const std::string& text, int flags, const std::string& title) {
  QMessageBox box(IconFor(flags), TitleOr(title), Q(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  std::vector<SB> buttons = Buttons(flags);
  for (SB b : buttons) box.addButton(b);
  size_t def = (flags & mb::kDefaultButton3) ? 2 : (flags & mb::kDefaultButton2) ? 1 : 0;
  if (def >= buttons.size()) def = 0;
  box.setDefaultButton(buttons[def]);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  return Result(clicked ? box.standardButton(clicked) : SB::NoButton, flags);
}

bool QtMessageAnswerer::MsgAsk(const std::string& question, bool defaultAnswer) {
  int flags = mb::kYesNo | mb::kQuestion | (defaultAnswer ? 0 : mb::kDefaultButton2);
  return MessageBox(question, flags, {}) == mb::kYes;
}

std::string QtMessageAnswerer::InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) {
  bool ok = false;
  QString text = QInputDialog::getText(QApplication::activeWindow(), TitleOr(title), Q(prompt),
                                       QLineEdit::Normal, Q(defaultText), &ok);
  return ok ? text.toStdString() : std::string();
}

}  // namespace fern
