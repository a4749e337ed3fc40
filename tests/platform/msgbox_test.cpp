#include "platform/msgbox.h"

#include <gtest/gtest.h>

#include <vector>

namespace fern {
namespace {

TEST(MsgBox, DefaultAnswerFollowsButtonsAndDefaultBits) {
  EXPECT_EQ(DefaultAnswer(0), mb::kOk);
  EXPECT_EQ(DefaultAnswer(16), mb::kOk);  // stop icon, OK
  EXPECT_EQ(DefaultAnswer(mb::kOkCancel), mb::kOk);
  EXPECT_EQ(DefaultAnswer(mb::kOkCancel | mb::kDefaultButton2), mb::kCancel);
  EXPECT_EQ(DefaultAnswer(33), mb::kOk);  // OK/Cancel with question icon
  EXPECT_EQ(DefaultAnswer(52), mb::kYes);  // yes/no with warning icon
  EXPECT_EQ(DefaultAnswer(52 | mb::kDefaultButton2 | mb::kSystemModal), mb::kNo);
  EXPECT_EQ(DefaultAnswer(mb::kAbortRetryIgnore | mb::kDefaultButton3), mb::kIgnore);
  EXPECT_EQ(DefaultAnswer(mb::kYesNoCancel | mb::kDefaultButton3), mb::kCancel);
  EXPECT_EQ(DefaultAnswer(mb::kRetryCancel), mb::kRetry);
  // A default beyond the box's buttons falls back to the first.
  EXPECT_EQ(DefaultAnswer(mb::kYesNo | mb::kDefaultButton3), mb::kYes);
  EXPECT_EQ(DefaultAnswer(mb::kOkOnly | mb::kDefaultButton2), mb::kOk);
}

TEST(MsgBox, UnattendedReportsAndAnswersAtOnce) {
  std::vector<std::pair<std::string, std::string>> seen;
  SetMessageAnswerer(std::make_shared<UnattendedAnswerer>(
      [&](const std::string& title, const std::string& text) { seen.emplace_back(title, text); }));
  EXPECT_EQ(MessageBox("There was an error in Start.", 16, "Error: Start"), mb::kOk);
  EXPECT_EQ(MessageBox("Weiter?", mb::kYesNo | mb::kDefaultButton2, "FernDispatcher.exe"), mb::kNo);
  EXPECT_FALSE(MsgAsk("Wollen Sie das Fehlerprotokoll sehen?"));
  EXPECT_TRUE(MsgAsk("Fortsetzen?", true));
  EXPECT_EQ(InputBox("Name:", "Eingabe", "Vorgabe"), "Vorgabe");
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0], (std::pair<std::string, std::string>{"Error: Start", "There was an error in Start."}));
  EXPECT_EQ(seen[2].second, "Wollen Sie das Fehlerprotokoll sehen?");
  EXPECT_EQ(seen[4], (std::pair<std::string, std::string>{"Eingabe", "Name:"}));
  SetMessageAnswerer(nullptr);
}

// The window's face: whatever is installed answers.
class Scripted : public MessageAnswerer {
 public:
  int MessageBox(const std::string&, int, const std::string&) override { return mb::kRetry; }
  bool MsgAsk(const std::string&, bool) override { return true; }
  std::string InputBox(const std::string&, const std::string&, const std::string&) override {
    return "typed";
  }
};

TEST(MsgBox, InstalledAnswererTakesOverAndNullRestoresTheDefault) {
  SetMessageAnswerer(std::make_shared<Scripted>());
  EXPECT_EQ(MessageBox("x", mb::kRetryCancel | mb::kDefaultButton2), mb::kRetry);
  EXPECT_TRUE(MsgAsk("x", false));
  EXPECT_EQ(InputBox("x", "", "d"), "typed");
  SetMessageAnswerer(nullptr);
  EXPECT_NE(dynamic_cast<UnattendedAnswerer*>(&Answerer()), nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("Text", mb::kOkCancel | mb::kDefaultButton2, "Titel"), mb::kCancel);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Titel: Text\n");
}

}  // namespace
}  // namespace fern
