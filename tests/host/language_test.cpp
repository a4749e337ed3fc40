#include <gtest/gtest.h>

#include "host/CUDDictionary.h"
#include "host/LanguagePack.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

TEST(TranslateString, FillsPlaceholdersInOnePass) {
  LanguagePack lp;
  EXPECT_EQ(lp.TranslateString("Portal %1 hat %2 Objekte", "Haus", "3"),
            "Portal Haus hat 3 Objekte");
  EXPECT_EQ(lp.TranslateString("Zeile 1%nl%Zeile 2"), "Zeile 1\r\nZeile 2");
  // A value holding a placeholder is inserted as it stands.
  EXPECT_EQ(lp.TranslateString("%1 und %2", "%2%nl%", "B"), "%2%nl% und B");
  // Missing values leave nothing behind; a lone % stays.
  EXPECT_EQ(lp.TranslateString("100 % von %1"), "100 % von ");
  EXPECT_EQ(lp.TranslateString("%1%1", "x"), "xx");
}

TEST(TranslateString, UsesTheUserDictionaryAndFallsBackToGerman) {
  testing::ScratchDir dir;
  dir.Write("lang/2057.dic",
            "# user texts\n[Strings]\nPortal %1 gesendet\tPortal %1 sent\nAbbrechen\tCancel\n"
            "[Content]\nWohnung\tFlat\n");
  LanguagePack lp;
  lp.SetDictionaryPath((dir / "lang").string());
  lp.SetUserLCID(2057);
  EXPECT_EQ(lp.TranslateString("Portal %1 gesendet", "A"), "Portal A sent");
  EXPECT_EQ(lp.TranslateString("PORTAL %1 GESENDET", "A"), "Portal A sent");
  EXPECT_EQ(lp.TranslateString("Unbekannt %1", "x"), "Unbekannt x");
  EXPECT_EQ(lp.TranslateStringUniCode("Abbrechen"), "Cancel");

  lp.SetContentLCID(2057);
  std::string t = "Wohnung";
  EXPECT_EQ(lp.TranslateContent(t), "Flat");
  EXPECT_EQ(t, "Flat");

  // German passes unchanged even with a dictionary folder.
  lp.SetUserLCID(1031);
  EXPECT_EQ(lp.TranslateString("Abbrechen"), "Abbrechen");
}

TEST(Translate, MoreValuesInOnePassWithOrWithoutAPack) {
  testing::ScratchDir dir;
  dir.Write("lang/2057.dic", "[Strings]\n%1 von %2 nach %3\t%1 from %2 to %3%nl%\n");
  LanguagePack english;
  english.SetDictionaryPath((dir / "lang").string());
  english.SetUserLCID(2057);
  const struct {
    const LanguagePack* pack;
    const char* german;
    std::initializer_list<std::string_view> values;
    const char* expected;
  } cases[] = {
      {nullptr, "%1 von %2 nach %3", {"A", "B", "C"}, "A von B nach C"},
      {&english, "%1 von %2 nach %3", {"A", "B", "C"}, "A from B to C\r\n"},
      // A value holding a placeholder is inserted as it stands, before and after the pack.
      {nullptr, "%1 und %6", {"%6", "", "", "", "", "F"}, "%6 und F"},
      {&english, "%1 von %2 nach %3", {"%3", "%nl%"}, "%3 from %nl% to \r\n"},
      {nullptr, "Zeile%nl%%1 %4", {"x"}, "Zeile\r\nx "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Translate(c.pack, c.german, c.values), c.expected) << c.german;
}

TEST(TranslateString, ReachableByNameWithOptionalValues) {
  LanguagePack lp;
  std::vector<Variant> one{Variant("a%1b"), Variant(int32_t{5})};
  EXPECT_EQ(lp.Invoke("TranslateString", kMethod, one).str(), "a5b");
  std::vector<Variant> three{Variant("%1-%2"), Variant("x"), Variant::Null()};
  EXPECT_EQ(lp.Invoke("translatestring", kMethod, three).str(), "x-");
}

TEST(ContentLanguages, ListAndFlags) {
  LanguagePack lp;
  EXPECT_FALSE(lp.MultiContentLanguages());
  lp.SetContentLanguages("1031, 2057");
  EXPECT_EQ(lp.ContentLanguages(), "1031|2057");
  ASSERT_EQ(lp.ContentLangList().size(), 2u);
  EXPECT_EQ(lp.ContentLangList()[1], "2057");
  EXPECT_TRUE(lp.MultiContentLanguages());
  EXPECT_TRUE(lp.Enabled());

  Variant list = lp.Invoke("ContentLangList", kPropGet, {});
  EXPECT_EQ(CallByName(list, "Count", kPropGet, std::vector<Variant>{}).longVal(), 2);
  EXPECT_EQ(CallByName(list, "Item", kMethod, std::vector<Variant>{Variant(int32_t{1})}).str(),
            "1031");
  EXPECT_THROW(CallByName(list, "Item", kMethod, std::vector<Variant>{Variant(int32_t{3})}),
               HostError);

  std::vector<Variant> let{Variant("1033")};
  lp.Invoke("ContentLanguages", kPropLet, let);
  EXPECT_EQ(lp.ContentLanguages(), "1033");
  EXPECT_EQ(LanguagePack::GetCaptionFromLCID(1031), "Deutsch");
  EXPECT_EQ(LanguagePack::GetCaptionFromLCID(99), "LCID 99");
}

TEST(ContentLanguages, SettingsValueIsALanguageNumberList) {
  for (const char* good : {"1031", "1031,2057", " 1031 , 2057 ", "1031,1033,2057", "001031"})
    EXPECT_TRUE(LanguagePack::IsContentLanguageList(good)) << good;
  for (const char* bad :
       {"", " ", "1031,", ",1031", "1031,,2057", "1031;2057", "0", "1031,000", "de-DE", "1031\t",
        "1031,2057 ; Kommentar", "99999999999", "1031 2057", "10 31,2057"})
    EXPECT_FALSE(LanguagePack::IsContentLanguageList(bad)) << bad;
}

TEST(CUDDictionary, LooksUpLabelsAndOptions) {
  testing::ScratchDir dir;
  // Windows-1252 file: "Größe" with ö = F6, ß = DF.
  dir.Write("dic/2057.dic",
            "[FLDART]\nGr\xF6\xDF"
            "e\tSize\tLiving area\tArea\nzimmer\t\tRooms\n"
            "[FLDARTOP]\nObjektart\tWohnung\tFlat\n");
  CUDDictionary d;
  d.SetLCID(2057);
  d.SetFolder((dir / "dic").string());
  d.SetNotExistsString("?");
  d.LoadFromFile();
  EXPECT_EQ(d.FLDART("Größe", 1), "Size");
  EXPECT_EQ(d.FLDART("GRÖSSE", 2), "?");  // ß is not SS for names
  EXPECT_EQ(d.FLDART("größe", 3), "Area");
  EXPECT_EQ(d.FLDART("Zimmer", 1), "?");  // empty column
  EXPECT_EQ(d.FLDART("Zimmer", 2), "Rooms");
  EXPECT_EQ(d.FLDART("Zimmer", 4), "?");
  EXPECT_EQ(d.FLDARTOP("objektart", "WOHNUNG"), "Flat");
  EXPECT_EQ(d.FLDARTOP("Objektart", "Haus"), "?");

  CUDDictionary german;  // 1031: no file, every answer is NotExistsString
  german.SetFolder((dir / "dic").string());
  german.LoadFromFile();
  EXPECT_EQ(german.FLDART("Größe", 1), "");

  CUDDictionary missing;  // no file for the language: empty, no error
  missing.SetLCID(1036);
  missing.SetFolder((dir / "dic").string());
  EXPECT_NO_THROW(missing.LoadFromFile());
  EXPECT_EQ(missing.FLDARTOP("Objektart", "Wohnung"), "");
}

}  // namespace
}  // namespace fern
