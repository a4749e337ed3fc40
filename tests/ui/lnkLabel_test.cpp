// The link label: caption clean-up, the ampersand rule, no-link state, hover colours.
#include <QEnterEvent>
#include <QTest>

#include "ui/lnkLabel.h"
#include "ui_fixture.h"

namespace fern::testing {
namespace {

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    label.resize(120, 20);
    label.MouseDown = [this](int16_t& button, int16_t&, float&, float&) {
      buttons.push_back(button);
    };
  }
  void Enter() {
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&label, &e);
  }

  QApplication& app = App();  // before the label
  lnkLabel label;
  std::vector<int16_t> buttons;
};

TEST_F(LinkTest, CaptionIsOneTrimmedLineAndShowsItsAmpersands) {
  const struct {
    const char* text;
    const char* caption;
    const char* shown;
  } cases[] = {
      {"  Send\r\nund\tFehler ", "Send  und Fehler", "Send  und Fehler"},
      {"Send & Error", "Send && Error", "Send & Error"},
      {"A && B & C", "A && B & C", "A & B  C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    label.SetCaption(c.text);
    EXPECT_EQ(label.Caption(), c.caption);
    EXPECT_EQ(label.text().toStdString(), c.shown);
    EXPECT_EQ(label.toolTip().toStdString(), c.shown);
    EXPECT_TRUE(label.font().bold());
    EXPECT_EQ(label.Forecolor(), lnkLabel::kTextColour);
  }

  // No text: the grey default of a label without a link.
  label.SetCaption("");
  EXPECT_EQ(label.Caption(), "verknüpfen");
  EXPECT_EQ(label.Forecolor(), lnkLabel::kNoLinkColour);
  EXPECT_FALSE(label.font().bold());
  EXPECT_EQ(label.toolTip().toStdString(),
            "Stellen Sie eine Verbindung zwischen zwei Einträgen her.");
}

TEST_F(LinkTest, NoLinkSilencesPressesUntilTheNextCaption) {
  label.SetCaption("Error.log");
  QTest::mouseClick(&label, Qt::LeftButton);
  QTest::mouseClick(&label, Qt::RightButton);
  label.NoLinkPossible();
  EXPECT_EQ(label.Caption(), "");
  EXPECT_EQ(label.Forecolor(), lnkLabel::kNoLinkColour);
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_EQ(buttons, (std::vector<int16_t>{1, 2}));
  label.SetCaption("Error.log");
  QTest::mouseClick(&label, Qt::MiddleButton);
  EXPECT_EQ(buttons, (std::vector<int16_t>{1, 2, 4}));
}

TEST_F(LinkTest, HoverColoursAndLeavingTheDefaultTextTurnsGrey) {
  label.SetCaption("Transfer.log");
  Enter();
  EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(198, 30, 20));
  // A move that leaves the label's rectangle counts as leaving.
  QMouseEvent outside(QEvent::MouseMove, QPointF(500, 5), QPointF(500, 5), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&label, &outside);
  EXPECT_EQ(label.Forecolor(), lnkLabel::kTextColour);

  label.NOLINK();
  Enter();
  EXPECT_EQ(label.Forecolor(), lnkLabel::kLinkColour);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&label, &leave);
  EXPECT_EQ(label.Forecolor(), lnkLabel::kNoLinkColour);
}

}  // namespace
}  // namespace fern::testing
