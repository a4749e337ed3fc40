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
    label.MouseDown = [this](int16_t& button, int16_t&, float&, float&) { buttons.push_back(button); };
  }
  void Enter() {
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&label, &e);
  }
  void Leave() {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&label, &e);
  }

  QApplication& app = App();  // before the label
  lnkLabel label;
  std::vector<int16_t> buttons;
};

TEST_F(LinkTest, CaptionIsOneTrimmedLineAndShowsItsAmpersands) {
  EXPECT_EQ(label.Forecolor(), lnkLabel::kInitialColour);

  label.SetCaption("  Send\r\nund\tFehler ");
  EXPECT_EQ(label.Caption(), "Send  und Fehler");
  EXPECT_EQ(label.text().toStdString(), "Send  und Fehler");
  EXPECT_EQ(label.toolTip().toStdString(), "Send  und Fehler");
  EXPECT_TRUE(label.font().bold());
  EXPECT_EQ(label.Forecolor(), lnkLabel::kTextColour);

  label.SetCaption("Send & Error");
  EXPECT_EQ(label.Caption(), "Send && Error");
  EXPECT_EQ(label.text().toStdString(), "Send & Error");

  label.SetCaption("A && B & C");
  EXPECT_EQ(label.Caption(), "A && B & C");
  EXPECT_EQ(label.text().toStdString(), "A & B  C");

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
  EXPECT_EQ(buttons, (std::vector<int16_t>{1, 2}));

  label.NoLinkPossible();
  EXPECT_EQ(label.Caption(), "");
  EXPECT_EQ(label.Forecolor(), lnkLabel::kNoLinkColour);
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_EQ(buttons.size(), 2u);

  label.SetCaption("Error.log");
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_EQ(buttons.size(), 3u);
}

TEST_F(LinkTest, HoverColoursAndLeavingTheDefaultTextTurnsGrey) {
  label.SetCaption("Transfer.log");
  Enter();
  EXPECT_TRUE(label.Hovered());
  EXPECT_EQ(label.Forecolor(), lnkLabel::kLinkColour);
  EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(198, 30, 20));
  Leave();
  EXPECT_FALSE(label.Hovered());
  EXPECT_EQ(label.Forecolor(), lnkLabel::kTextColour);

  label.NOLINK();
  Enter();
  EXPECT_EQ(label.Forecolor(), lnkLabel::kLinkColour);
  Leave();
  EXPECT_EQ(label.Forecolor(), lnkLabel::kNoLinkColour);

  // A move that leaves the label's rectangle counts as leaving.
  label.SetCaption("Send.log");
  Enter();
  QMouseEvent outside(QEvent::MouseMove, QPointF(500, 5), QPointF(500, 5), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&label, &outside);
  EXPECT_EQ(label.Forecolor(), lnkLabel::kTextColour);
}

}  // namespace
}  // namespace fern::testing
