#include "platform/msgbox.h"

#include <gtest/gtest.h>

#include <vector>

namespace fern {
namespace {

TEST(MsgBox, DefaultAnswerFollowsButtonsAndDefaultBits) {
  // Icon bits (16, 32, 48) and modality do not disturb the buttons; a default beyond the
  // box's buttons falls back to the first.
  const std::vector<std::pair<int, int>> cases{
      {16, mb::kOk},
      {33, mb::kOk},
      {mb::kOkCancel | mb::kDefaultButton2, mb::kCancel},
      {52, mb::kYes},
      {52 | mb::kDefaultButton2 | mb::kSystemModal, mb::kNo},
      {mb::kAbortRetryIgnore | mb::kDefaultButton3, mb::kIgnore},
      {mb::kYesNoCancel | mb::kDefaultButton3, mb::kCancel},
      {mb::kRetryCancel, mb::kRetry},
      {mb::kYesNo | mb::kDefaultButton3, mb::kYes},
      {mb::kOkOnly | mb::kDefaultButton2, mb::kOk}};
  for (const auto& [flags, answer] : cases) EXPECT_EQ(DefaultAnswer(flags), answer) << flags;
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
  EXPECT_EQ(seen[0],
            (std::pair<std::string, std::string>{"Error: Start", "There was an error in Start."}));
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
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("Text", mb::kOkCancel | mb::kDefaultButton2, "Titel"), mb::kCancel);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Titel: Text\n");
}

}  // namespace
}  // namespace fern
