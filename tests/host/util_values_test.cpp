#include <gtest/gtest.h>

#include "host/cUtil.h"
#include "platform/vb.h"

namespace fern {
namespace {

TEST(UtilConversions, TextFlagsAndDatesTolerateNull) {
  EXPECT_EQ(cUtil::k(Variant::Null()), "");
  EXPECT_EQ(cUtil::k(Variant(int32_t{42})), "42");
  EXPECT_EQ(cUtil::k(Variant(1.5)), "1,5");

  EXPECT_FALSE(cUtil::b(Variant::Null()));
  EXPECT_FALSE(cUtil::b(Variant("")));
  EXPECT_TRUE(cUtil::b(Variant("1")));
  EXPECT_TRUE(cUtil::b(Variant("-1")));
  EXPECT_FALSE(cUtil::b(Variant("0")));
  EXPECT_TRUE(cUtil::b(Variant("True")));
  EXPECT_FALSE(cUtil::b(Variant("nein")));
  EXPECT_TRUE(cUtil::bln(Variant(int32_t{2})));

  EXPECT_EQ(cUtil::d(Variant::Null()), 0);
  EXPECT_EQ(cUtil::d(Variant("kein Datum")), 0);
  EXPECT_EQ(cUtil::d(Variant("31.12.2024")), vb::DateSerial(2024, 12, 31));
}

TEST(UtilConversions, MyValReadsGermanAndPointNumbers) {
  EXPECT_DOUBLE_EQ(cUtil::my_val("1.234,56"), 1234.56);
  EXPECT_DOUBLE_EQ(cUtil::my_val("1234,5"), 1234.5);
  EXPECT_DOUBLE_EQ(cUtil::my_val("1234.5"), 1234.5);
  EXPECT_DOUBLE_EQ(cUtil::my_val("1,234.5"), 1234.5);
  EXPECT_DOUBLE_EQ(cUtil::my_val("1.234"), 1234);
  EXPECT_DOUBLE_EQ(cUtil::my_val("  -85 m²"), -85);
  EXPECT_DOUBLE_EQ(cUtil::my_val("ca. 5"), 0);
  EXPECT_DOUBLE_EQ(cUtil::my_val(""), 0);
}

TEST(UtilConversions, RoundKorrektRoundsHalfAwayFromZero) {
  EXPECT_DOUBLE_EQ(cUtil::RoundKorrekt(2.5, 0), 3);
  EXPECT_DOUBLE_EQ(cUtil::RoundKorrekt(3.5, 0), 4);
  EXPECT_DOUBLE_EQ(cUtil::RoundKorrekt(-2.5, 0), -3);
  EXPECT_DOUBLE_EQ(cUtil::RoundKorrekt(2.675, 2), 2.68);
  EXPECT_DOUBLE_EQ(cUtil::RoundKorrekt(1.005, 2), 1.01);
  EXPECT_DOUBLE_EQ(cUtil::RoundKorrekt(1234.4449, 2), 1234.44);
}

TEST(UtilLiterals, TextKeysAndDates) {
  EXPECT_EQ(cUtil::SqlStr(Variant("O'Brien")), "'O''Brien'");
  EXPECT_EQ(cUtil::SqlStr(Variant("")), "''");
  EXPECT_EQ(cUtil::SqlStr(Variant::Null()), "NULL");
  const std::string key = "'{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}'";
  for (const char* spelling :
       {"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
        " {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9} ", "0a1b2c3d4e5f60718293a4b5c6d7e8f9"})
    EXPECT_EQ(cUtil::SqlUid(Variant(spelling)), key) << spelling;
  EXPECT_EQ(cUtil::SqlUid(Variant("")), "NULL");
  EXPECT_EQ(cUtil::SqlUid(Variant::Null()), "NULL");
  EXPECT_EQ(cUtil::SqlUid(Variant("x' OR '1'='1")), "'x'' OR ''1''=''1'");
  EXPECT_EQ(cUtil::SQLDate(Variant::Date(vb::DateSerial(2024, 2, 29) + vb::TimeSerial(13, 5, 9))),
            "'2024-02-29 13:05:09'");
  EXPECT_EQ(cUtil::SQLDate(Variant("01.03.2024")), "'2024-03-01 00:00:00'");
  EXPECT_EQ(cUtil::SQLDate(Variant::Null()), "NULL");
}

TEST(UtilLists, ItemsCountsAndDeleteFirst) {
  EXPECT_EQ(cUtil::StrListNr("a|b|c", "|", 2), "b");
  EXPECT_EQ(cUtil::StrListNr("a|b|c", "|", 4), "");
  EXPECT_EQ(cUtil::StrListNr("a||c", "|", 3), "c");
  EXPECT_EQ(cUtil::StrListNr("a\r\nb", "\r\n", 2), "b");
  EXPECT_EQ(cUtil::StrListCount("a|b|", "|"), 3);
  EXPECT_EQ(cUtil::StrListCount("", "|"), 0);

  std::string list = "eins;zwei;drei";
  EXPECT_EQ(cUtil::StrList_DeleteFirst(list, ";"), "eins");
  EXPECT_EQ(list, "zwei;drei");
  EXPECT_EQ(cUtil::StrList_DeleteFirst(list, ";"), "zwei");
  EXPECT_EQ(cUtil::StrList_DeleteFirst(list, ";"), "drei");
  EXPECT_EQ(list, "");
  EXPECT_EQ(cUtil::StrList_DeleteFirst(list, ";"), "");

  // By name, the list argument comes back shortened.
  cUtil util;
  std::vector<Variant> args{Variant("x,y"), Variant(",")};
  EXPECT_EQ(util.Invoke("StrList_DeleteFirst", kMethod, args).str(), "x");
  EXPECT_EQ(args[0].str(), "y");
}

TEST(UtilText, HelpersTheExportersLeanOn) {
  EXPECT_TRUE(cUtil::beg("Dr. Hans Müller", "DR. "));
  EXPECT_FALSE(cUtil::beg("Dr", "Dr. "));
  std::string path = "C:\\KV\\";
  EXPECT_EQ(cUtil::CutRight(path, "\\"), "C:\\KV");
  EXPECT_EQ(cUtil::CutRight(path, "\\"), "C:\\KV");
  EXPECT_EQ(cUtil::OnlyAlphaChars("bild #1 (groß).jpg", "_."), "bild1gro.jpg");
  EXPECT_EQ(cUtil::Replace_GermSonderzeichen("Größe Übergabe"), "Groesse Uebergabe");
  EXPECT_TRUE(cUtil::isGuid("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}"));
  EXPECT_FALSE(cUtil::isGuid("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f}"));
  EXPECT_FALSE(cUtil::isGuid(""));
  std::string dsn = "{ABC}";
  EXPECT_EQ(cUtil::removeBrace(dsn), "ABC");
  EXPECT_EQ(dsn, "ABC");
  EXPECT_EQ(cUtil::GetFileExtender("C:\\a.b\\bild.JPG"), "JPG");
  EXPECT_EQ(cUtil::GetFileExtender("C:\\a.b\\bild"), "");
  EXPECT_EQ(cUtil::GetFileName("C:\\a\\b/c.txt"), "c.txt");
}

}  // namespace
}  // namespace fern
