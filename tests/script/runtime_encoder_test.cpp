#include "runtime_test_support.h"

namespace fern::script {
namespace {

using testing::ErrorOf;

// Encoded samples made once with the published substitution tables; the decoder must give back
// the plain text exactly.
const std::string kScript =
    "Option Explicit\r\n"
    "Sub Callback_BeforeTransfer(ByRef sText, ByRef bCancel)\r\n"
    "\tIf InStr(sText, \"<objekt>\") > 0 Then sText = Replace(sText, \"@\", \" (at) \")\r\n"
    "\tMsgBox \"Größe: \" & Len(sText) ' Umlaute bleiben\n"
    "End Sub\r\n";
const std::string kScriptEncoded =
    "#@~^3gAAAA==6aYrKx,26aVb^kD@#@&?!4~/mVV(Cm0{A\x7FWGD\x7FKMlU/WnM`$X\"n0,/PnXY~~$HIn0,8"
    ";lU1+^#@#@&d&WP&xjYM`dP\x7F"
    "6YB~J@!W4NnVY@*J*P@*PT~:tnx,dK\x7F"
    "6O~{PIn2^l^+vd:+aD~,J@$r~"
    ",EPvlO#,Jb@#@&dHkLAK6Pr!.\xC3\xB6\xC3\x9F+=PrP'PJn\t`dK\x7F"
    "aY*Pv~`:VC;D+~4^nb4n\t@&AxN"
    ",?!8@#@&TEAAAA==^#~@";
const std::string kAssignmentEncoded = "#@~^BQAAAA==a,'~8JgEAAA==^#~@";
// Every printable character three times over, so each meets every table position, then TAB
// and DEL.
const std::string kAllEncoded =
    "#@~^KAEAAA==~eJ:f]LB`*e3SOczTFy&*X+G%Oli@!'@*Q@$)A;fAs!C(BnS\\1}Kp\"?Pij\x7F(et]-D7||m"
    "4^9+6otbL0s:\tW2;M/O;7h6H\"\t-8U,ZEaf]LBc#MQBO zZq 2cX\x7F"
    "F%,lI@!'@*g@$)~Z9AsVCqx|d\\1"
    "}n}IUKi#q(5\\,-Y7{#C8m9+6o4k%V^:UWa5DkY;-S6X\"`-8=PeE[^YLBv#e3~  zZF+&W*\x7F{R,)p@!'@*"
    "g@$z$/fAsVC(9FJt16n5]?:j#\to5},wY7m=m81Nn6o4kL0VsUWa;./DE-AXXyPk8?dQe1gAAA==^#~@";
const std::string kHalloEncoded = "#@~^DgAAAA==\\ko$K6,JCmV^GJpAQAAA==^#~@";

TEST(RuntimeEncoder, HandCheckedBlocks) {
  // "H" through table 1 is "u", "i" through table 2 is "b"; 0x48 + 0x69 = 177 = "sQAAAA==".
  EXPECT_EQ(DecodeScriptEncoded("#@~^AgAAAA==ubsQAAAA==^#~@"), "Hi");
  // "<" travels as "@!" and counts two towards the length; the sum grows by 0x3C.
  EXPECT_EQ(DecodeScriptEncoded("#@~^BAAAAA==ub@!7QAAAA==^#~@"), "Hi<");
}

TEST(RuntimeEncoder, KnownSamplesDecodeAndKeepTextAroundBlocks) {
  const std::string text = "' vorne\r\n" + kScriptEncoded + "\r\n' hinten\r\n" + kAssignmentEncoded;
  EXPECT_EQ(DecodeScriptEncoded(text), "' vorne\r\n" + kScript + "\r\n' hinten\r\nx = 1");
  EXPECT_EQ(DecodeScriptEncoded("plain text"), "plain text");

  std::string all;
  for (int round = 0; round < 3; ++round)
    for (char c = 0x20; c < 0x7F; ++c) all += c;
  all += "\t\x7F";
  EXPECT_EQ(DecodeScriptEncoded(kAllEncoded), all);
}

TEST(RuntimeEncoder, DamagedBlocksAreRefused) {
  const std::string& good = kHalloEncoded;
  ASSERT_EQ(DecodeScriptEncoded(good), "MsgBox \"Hallo\"");
  std::string flipped = good;
  flipped[14] = flipped[14] == 'a' ? 'b' : 'a';  // one character of the text
  EXPECT_NE(ErrorOf([&] { DecodeScriptEncoded(flipped); }), 0);
  std::string cut = good.substr(0, good.size() - 4);  // end marker missing
  EXPECT_NE(ErrorOf([&] { DecodeScriptEncoded(cut); }), 0);
  std::string shorter = good;
  shorter.erase(13, 1);  // text shorter than its length
  EXPECT_NE(ErrorOf([&] { DecodeScriptEncoded(shorter); }), 0);
  EXPECT_NE(ErrorOf([] { DecodeScriptEncoded("#@~^A!AAAA==x^#~@"); }), 0);
  EXPECT_NE(ErrorOf([] { DecodeScriptEncoded("#@~^AgAAAA==@zsQAAAA==^#~@"); }), 0);
}

}  // namespace
}  // namespace fern::script
