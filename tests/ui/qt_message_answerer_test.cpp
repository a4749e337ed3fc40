// The interactive message boxes: VB's flags become buttons, icon and default button, and the
// pressed button becomes VB's answer. The boxes are answered by pressing their default button.
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "ui/qt_message_answerer.h"
#include "ui/qt_translations.h"
#include "ui_fixture.h"

namespace fern::testing {
namespace {

using SB = QMessageBox::StandardButton;

// Presses the default button of the next modal box, or accepts the next input dialog.
void AnswerNextWithDefault(std::string* title = nullptr, std::string* icon = nullptr) {
  QTimer::singleShot(0, [title, icon] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (title) *title = box->windowTitle().toStdString();
      if (icon) *icon = std::to_string(static_cast<int>(box->icon()));
      box->defaultButton()->click();
    } else if (auto* dialog = qobject_cast<QInputDialog*>(modal)) {
      dialog->accept();
    }
  });
}

TEST(QtMessageAnswerer, BoxClosedWithoutAButtonGivesCancelOrNo) {
  EXPECT_EQ(QtMessageAnswerer::Result(SB::NoButton, mb::kYesNoCancel), mb::kCancel);
  EXPECT_EQ(QtMessageAnswerer::Result(SB::NoButton, mb::kYesNo), mb::kNo);
  EXPECT_EQ(QtMessageAnswerer::Result(SB::NoButton, mb::kOkOnly), mb::kOk);
}

TEST(QtMessageAnswerer, StandardButtonsSpeakGerman) {
  ASSERT_TRUE(InstallGermanQtTranslations(App()));
  QMessageBox box(QMessageBox::Question, "Titel", "Text", SB::Yes | SB::No);
  EXPECT_EQ(box.button(SB::Yes)->text().remove('&').toStdString(), "Ja");
  EXPECT_EQ(box.button(SB::No)->text().remove('&').toStdString(), "Nein");
}

TEST(QtMessageAnswerer, DefaultButtonComesFromTheFlags) {
  App();
  QtMessageAnswerer answerer;
  struct Case {
    int flags;
    int answer;
  };
  const Case cases[] = {
      {mb::kOkOnly, mb::kOk},
      {mb::kYesNo | mb::kQuestion | mb::kDefaultButton2, mb::kNo},
      {mb::kYesNoCancel | mb::kDefaultButton3, mb::kCancel},
      {mb::kYesNoCancel, mb::kYes},
      {mb::kAbortRetryIgnore | mb::kCritical | mb::kDefaultButton2, mb::kRetry},
      // A default beyond the box's buttons falls back to the first.
      {mb::kOkCancel | mb::kDefaultButton3, mb::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    AnswerNextWithDefault();
    EXPECT_EQ(answerer.MessageBox("Text", c.flags, "Titel"), c.answer);
  }

  std::string title, icon;
  AnswerNextWithDefault(&title, &icon);
  EXPECT_FALSE(answerer.MsgAsk("Fehlerprotokoll sehen?", false));
  EXPECT_EQ(title, "FernDispatcher");
  EXPECT_EQ(icon, std::to_string(static_cast<int>(QMessageBox::Question)));
  AnswerNextWithDefault();
  EXPECT_TRUE(answerer.MsgAsk("Fehlerprotokoll sehen?", true));

  AnswerNextWithDefault();
  EXPECT_EQ(answerer.InputBox("Name?", "Eingabe", "vorgabe"), "vorgabe");
}

}  // namespace
}  // namespace fern::testing
