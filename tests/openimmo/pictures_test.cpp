// A listing's pictures and attachments on the demo host: which pictures go out, how they are
// named, grouped, shrunk and framed, what the hooks change, and the attachments of the mapping.
#include <QImage>

#include "openimmo/cImmoXmlScriptV2.h"
#include "openimmo_fixture.h"
#include "services/cFTPTransferV2.h"

namespace fern::testing {
namespace {

struct Anhang {
  std::string gruppe, location, titel, format, pfad, inhalt;
};

// One field of every attachment, joined by ",".
std::string Col(const std::vector<Anhang>& made, std::string Anhang::*field) {
  std::string out;
  for (const Anhang& a : made) out += (out.empty() ? "" : ",") + a.*field;
  return out;
}

class PicturesTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    schema = X().OpenXMLFile(GetHostPath("System\\XML\\openimmo.xsd"));
    tmpl = X().CreateEmtpyXML(schema, 5);
    X().events.InternalState = [this](int16_t s, const std::string& t) {
      if (s == 32) notices.push_back(t);
    };
    out = dir / "out";
    std::filesystem::create_directories(out);
    Portal(1, 0, 0);
  }

  void Portal(int ftpOrHttp, int zipping, int maxPics) {
    portal =
        db::Recordset::Create({{"boersen_name"}, {"ftp_or_http"}, {"zipping"}, {"lngMaxPicCount"}});
    portal->LoadRow(
        {Variant("Testportal"), Variant(ftpOrHttp), Variant(zipping), Variant(maxPics)});
  }
  std::shared_ptr<db::Recordset> Obj(int n, bool lang = true) {
    return Rows("SELECT obj.*, " + std::string(lang ? "1" : "0") +
                " AS LANG FROM obj WHERE KENNUNG = 'FB-" + std::to_string(1000 + n) + "'");
  }
  std::filesystem::path Pic(const std::string& name) { return host() / "pic.obj" / "fb" / name; }

  // The anhang elements made for the listing, the template left out.
  std::vector<Anhang> Made() {
    std::vector<Anhang> made;
    auto all = listing->selectNodes("./imo:anhaenge/imo:anhang")->items();
    EXPECT_FALSE(all.empty());
    if (!all.empty()) all.pop_back();
    auto text = [](const XmlNodePtr& n, const char* path) {
      XmlNodePtr c = n->selectSingleNode(path);
      return c ? c->text() : std::string("<none>");
    };
    for (const XmlNodePtr& a : all)
      made.push_back({a->getAttribute("gruppe").value_or(""),
                      a->getAttribute("location").value_or(""), text(a, "imo:anhangtitel"),
                      text(a, "imo:format"), text(a, "imo:daten/imo:pfad"),
                      text(a, "imo:daten/imo:anhanginhalt")});
    return made;
  }
  std::vector<Anhang> Pictures(db::Recordset& obj) {
    listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie")->cloneNode(true);
    X().Attachments().FillBilder(*portal, obj, *listing, *schema, out.string());
    return Made();
  }
  std::vector<Anhang> Pictures(int n, bool lang = true) { return Pictures(*Obj(n, lang)); }
  int Count(const std::string& part) const {
    int c = 0;
    for (const auto& n : notices) c += n.find(part) != std::string::npos;
    return c;
  }

  XmlDocumentPtr schema, tmpl;
  XmlNodePtr listing;
  std::shared_ptr<db::Recordset> portal;
  std::filesystem::path out;
  std::vector<std::string> notices;
};

TEST_F(PicturesTest, CountFollowsLongVersionAndPortalLimit) {
  // Listing 3 has three pictures; give it twelve so the default limit shows.
  for (int i = 3; i < 12; ++i)
    std::filesystem::copy_file(Pic("fb3_0.jpg"), Pic("fb3_" + std::to_string(i) + ".jpg"));
  struct Case {
    bool lang;
    int max;
    size_t expected;
  } cases[] = {{false, 0, 1}, {false, 5, 1}, {true, 0, 10},
               {true, 4, 4},  {true, -1, 0}, {true, 20, 12}};
  for (const Case& c : cases) {
    Portal(1, 0, c.max);
    EXPECT_EQ(Pictures(3, c.lang).size(), c.expected) << c.lang << " " << c.max;
  }
}

TEST_F(PicturesTest, GroupsTitlesReferencesAndInlineData) {
  auto made = Pictures(1);
  EXPECT_EQ(Col(made, &Anhang::gruppe), "TITELBILD,GRUNDRISS,BILD");
  EXPECT_EQ(made.at(1).titel, "Grundriss FB-1001");
  EXPECT_EQ(Col(made, &Anhang::location) + Col(made, &Anhang::format),
            "EXTERN,EXTERN,EXTERNjpg,jpg,jpg");
  EXPECT_EQ(Col(made, &Anhang::pfad), "fb1_0.jpg,fb1_1.jpg,fb1_2.jpg");
  for (const Anhang& a : made) EXPECT_TRUE(std::filesystem::exists(out / a.pfad));
  EXPECT_EQ(Count("wurde für Transfer bereitgestellt"), 3);

  // An HTTP portal gets the written picture inline.
  Portal(0, 0, 0);
  made = Pictures(2);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(made[0].location, "INTERN");
  EXPECT_EQ(made[0].pfad, "<none>");
  std::ifstream in(out / "fb2_0.jpg", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(made[0].inhalt, cFTPTransferV2::Encode(bytes));
}

TEST_F(PicturesTest, TargetNamesKeepOnlySafeCharactersUnlessZipped) {
  Exec("UPDATE obj SET DATEI = 'fb\\Fä (b)#4' WHERE KENNUNG = 'FB-1004'");
  std::filesystem::copy_file(Pic("fb4_0.jpg"), Pic("Fä (b)#4_0.jpg"));
  Portal(1, 0, 1);
  EXPECT_EQ(Col(Pictures(4), &Anhang::pfad), "faeb_4_0.jpg");
  Portal(1, 1, 1);
  EXPECT_EQ(Col(Pictures(4), &Anhang::pfad), "fae (b)_4_0.jpg");
}

TEST_F(PicturesTest, PicturesStayWithinTheirLimits) {
  Ini("OPTIONS", "XML_PICLENGTH", "25000");
  Ini("OPTIONS", "XML_PICWIDTH", "200");
  Ini("OPTIONS", "XMLGRUND_PICLENGTH", "40000");
  Ini("OPTIONS", "XMLGRUND_PICWIDTH", "300");
  X().LoadImmoXmlSettings(5, "");
  auto made = Pictures(5);
  ASSERT_EQ(made.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const auto file = out / made[i].pfad;
    const bool plan = made[i].gruppe == "GRUNDRISS";
    EXPECT_LE(std::filesystem::file_size(file), plan ? 40000u : 25000u) << made[i].pfad;
    QImage img(QString::fromStdString(file.string()));
    ASSERT_FALSE(img.isNull());
    // The sources are 640 wide: each comes out at exactly its own limit.
    EXPECT_EQ(img.width(), plan ? 300 : 200) << made[i].pfad;
  }
}

TEST_F(PicturesTest, ParentPicturesFillTheGaps) {
  // Listing 26 is a unit of listing 1; without its own second and third picture the parent's
  // stand in.
  std::filesystem::remove(Pic("fb26_1.jpg"));
  std::filesystem::remove(Pic("fb26_2.jpg"));
  std::filesystem::remove(Pic("fb26_online.jpg"));
  auto made = Pictures(26);
  EXPECT_EQ(Col(made, &Anhang::pfad), "fb26_0.jpg,fb1_1.jpg,fb1_2.jpg");
  EXPECT_EQ(made.at(1).titel, "Grundriss FB-1001");

  // With the frame switches on, the title picture is the online one, the parent's when the
  // listing has none.
  X().Attachments().SetPictureFrames("Testportal");
  made = Pictures(26);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(made[0].pfad + "|" + made[0].titel, "fb1_online.jpg|Online-Titelbild FB-1001");

  Ini("OPTIONS", "VERERBTE_OBJEKTBILDER", "0");
  EXPECT_EQ(Col(Pictures(26), &Anhang::pfad), "fb26_0.jpg");
}

TEST_F(PicturesTest, BrokenPictureIsReportedAndAStaleCopyNotReferenced) {
  { std::ofstream(Pic("fb7_1.jpg"), std::ios::binary | std::ios::trunc) << "kein Bild"; }
  // What an earlier run left in the transfer folder.
  std::filesystem::copy_file(Pic("fb7_2.jpg"), out / "fb7_1.jpg");
  EXPECT_EQ(Col(Pictures(7), &Anhang::pfad), "fb7_0.jpg,fb7_2.jpg");
  EXPECT_EQ(Count("konnte nicht komprimiert werden"), 1);
  EXPECT_EQ(Count("fb7_1.jpg' konnte nicht"), 1);
  EXPECT_FALSE(std::filesystem::exists(out / "fb7_1.jpg"));
}

class PictureHooksTest : public PicturesTest {
 protected:
  void Hooks(const std::string& body) {
    dir.Write("host/System/Services/OpenImmo/pics.vbs",
              "Class Pics\r\n" + body +
                  "\r\nEnd Class\r\nDim oPics\r\nSet oPics = New Pics\r\n"
                  "Application.EventsConsumers.Add oPics\r\n");
    auto hooks = std::make_unique<cImmoXmlScriptV2>();
    hooks->Init(Session().g_strConnect, host().string());
    ASSERT_TRUE(answers->texts.empty()) << answers->texts.front();
    X().UseScripts(std::move(hooks));
  }
};

TEST_F(PictureHooksTest, RenamedTargetIsWrittenCheckedAndReferenced) {
  Hooks(
      "Public Sub Callback_OpenImmoPicCopy(rsboersen, rsObj, lngNr, strFileName1, "
      "strFileName2, lngGroesse, lngBreite, strCopyright, blnCancel, strResultMsg)\r\n"
      "  strFileName2 = Replace(strFileName2, \".jpg\", \"_web.jpg\")\r\n"
      "  strResultMsg = \"kopiert \" & lngNr\r\n"
      "End Sub");
  EXPECT_EQ(Col(Pictures(8), &Anhang::pfad), "fb8_0_web.jpg,fb8_1_web.jpg,fb8_2_web.jpg");
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::filesystem::exists(out / ("fb8_" + std::to_string(i) + "_web.jpg")));
    EXPECT_FALSE(std::filesystem::exists(out / ("fb8_" + std::to_string(i) + ".jpg")));
    EXPECT_EQ(Count("kopiert " + std::to_string(i + 1)), 1);  // each message once, on its own
  }
  EXPECT_EQ(Count("\r\n"), 0);
}

TEST_F(PictureHooksTest, TargetThatIsTheSourceLeavesTheSourceAlone) {
  Hooks(
      "Public Sub Callback_OpenImmoPicCopy(rsboersen, rsObj, lngNr, strFileName1, "
      "strFileName2, lngGroesse, lngBreite, strCopyright, blnCancel, strResultMsg)\r\n"
      "  If lngNr = 2 Then strFileName2 = strFileName1\r\n"
      "End Sub");
  const auto before = std::filesystem::file_size(Pic("fb11_1.jpg"));
  EXPECT_EQ(Col(Pictures(11), &Anhang::pfad), "fb11_0.jpg,fb11_2.jpg");
  EXPECT_EQ(Count("fb11_1.jpg' konnte nicht komprimiert werden"), 1);
  ASSERT_TRUE(std::filesystem::exists(Pic("fb11_1.jpg")));
  EXPECT_EQ(std::filesystem::file_size(Pic("fb11_1.jpg")), before);
}

TEST_F(PictureHooksTest, HooksSetCountAndSourceAndCancel) {
  Hooks(
      "Public Sub Callback_OpenImmoPicInit(rsboersen, rsObj, strMMDateiKurz, strMMDateiLang, "
      "lngMaxCounter, blnCancel, strResultMsg)\r\n"
      "  lngMaxCounter = 4\r\n"
      "End Sub\r\n"
      "Public Sub Callback_OpenImmoPicGet(rsboersen, rsObj, lngNr, strPathAndFileName, "
      "strTitel, blnCancel, strResultMsg)\r\n"
      "  If lngNr = 2 Then strPathAndFileName = Replace(strPathAndFileName, \"fb9_1\", "
      "\"fb9_2\") : strTitel = \"Lageplan\"\r\n"
      "  If lngNr = 3 Then strPathAndFileName = \"\"\r\n"
      "  If lngNr = 4 Then strPathAndFileName = strPathAndFileName & \"x\"\r\n"
      "End Sub");
  Portal(1, 0, -1);  // no pictures, unless the hook asks for more
  auto made = Pictures(9);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[1].pfad + "|" + made[1].gruppe, "fb9_2.jpg|KARTEN_LAGEPLAN");
  EXPECT_EQ(Count("konnte nicht komprimiert werden"), 1);

  // A cancel holds for the rest of the listing.
  Hooks(
      "Public Sub Callback_OpenImmoPicCopy(rsboersen, rsObj, lngNr, strFileName1, "
      "strFileName2, lngGroesse, lngBreite, strCopyright, blnCancel, strResultMsg)\r\n"
      "  If lngNr = 2 Then blnCancel = True\r\n"
      "End Sub");
  Portal(1, 0, 0);
  EXPECT_EQ(Col(Pictures(9), &Anhang::pfad), "fb9_0.jpg");
}

TEST_F(PicturesTest, PartnerListingGoesUnframedWithoutTurningTheFrameOff) {
  X().Attachments().SetPictureFrames("Testportal");
  auto framed = [&](const std::string& name) {
    QImage img(QString::fromStdString((out / name).string()));
    EXPECT_FALSE(img.isNull()) << name;
    const QColor c = img.pixelColor(1, img.height() / 2);
    const int d = std::abs(c.red() - 0x1F) + std::abs(c.green() - 0x4E) + std::abs(c.blue() - 0x79);
    return d < 60;
  };
  auto partner = Obj(2);
  partner->SetValue("CoopObj", Variant(2));
  ASSERT_EQ(Pictures(*partner).size(), 3u);
  EXPECT_FALSE(framed("fb2_0.jpg"));
  ASSERT_EQ(Pictures(3).size(), 3u);
  EXPECT_TRUE(framed("fb3_0.jpg"));
  EXPECT_FALSE(framed("fb3_1.jpg"));

  // A portal on the list goes without.
  X().Attachments().SetPictureFrames("Remax Demo");
  ASSERT_EQ(Pictures(4).size(), 3u);
  EXPECT_FALSE(framed("fb4_0.jpg"));
}

TEST_F(PicturesTest, AttachmentsFromTheMapping) {
  auto details = db::Recordset::Create({{"KÜRZEL"},
                                        {"TYP"},
                                        {"EINGABE"},
                                        {"VON_STR"},
                                        {"BIS_STR"},
                                        {"VON_NUM"},
                                        {"BIS_NUM"},
                                        {"WERT"},
                                        {"BEZEICHNUNG"},
                                        {"LINK_DSN"}});
  auto value = [&](const char* code, const std::string& text) {
    details->LoadRow({Variant(code), Variant(6), Variant(text), Variant(text), Variant(""),
                      Variant(0.0), Variant(0.0), Variant(""), Variant(""), Variant::Null()});
  };
  value("Links", "http://www.example.de/tour#Rundgang");
  value("Links", "www.example.de/lage");
  value("Links", "");
  value("Expose", "grundriss#Plan EG.pdf");
  value("Expose", "fehlt.pdf");
  value("Lagebild", "lage.jpg");
  value("Film", "film.mp4");
  value("Filmlink", "http://v.example.de/f#Film");
  dir.Write("host/pic.obj/fb/grundriss#Plan EG.pdf", "%PDF-1.4 Plan");
  std::filesystem::copy_file(Pic("fb10_0.jpg"), host() / "pic.obj" / "lage.jpg");
  dir.Write("host/pic.obj/fb/film.mp4", "film");
  auto entry = [](const char* code, const char* group) {
    return std::string("<zuordnung><element element=\"anhang\" quelle=\"") + code +
           "\" quelltyp=\"FELDART\"><attribut attribut=\"gruppe\"><option option=\"" + group +
           "\"/></attribut></element></zuordnung>";
  };
  auto mapping =
      Parse("<zuordnungen><anhaenge>" + entry("Links", "LINKS") + entry("Expose", "DOKUMENTE") +
            entry("Lagebild", "KARTEN_LAGEPLAN") + entry("Film", "FILM") +
            entry("Filmlink", "FILMLINK") + "</anhaenge></zuordnungen>");
  auto run = [&](int version) {
    notices.clear();
    listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie")->cloneNode(true);
    auto obj = Obj(10);
    Portal(1, 0, -1);
    X().Attachments().FillAnhaenge(*mapping, *portal, *obj, *details, *schema, *listing,
                                   out.string(), version);
    return Made();
  };

  auto made = run(123);
  EXPECT_EQ(Col(made, &Anhang::pfad),
            "http://www.example.de/tour,www.example.de/lage,grundriss_plan eg.pdf,lage.jpg");
  EXPECT_EQ(Col(made, &Anhang::titel), "Rundgang,,Plan EG,");
  EXPECT_EQ(made.at(0).gruppe + made[0].format + made[0].location, "LINKSLINKSINTERN");
  EXPECT_EQ(made.at(2).format + made[2].location, "pdfEXTERN");
  EXPECT_LE(std::filesystem::file_size(out / "lage.jpg"), 64000u);
  EXPECT_LE(QImage(QString::fromStdString((out / "lage.jpg").string())).width(), 400);
  // Below 124 a film is skipped and a film link is taken for a file, which isn't there.
  EXPECT_EQ(Count("Anhangsdatei 'fehlt.pdf' wurde nicht gefunden!"), 1);
  EXPECT_EQ(Count("Anhangsdatei 'http://v.example.de/f#Film' wurde nicht gefunden!"), 1);

  made = run(127);
  ASSERT_EQ(made.size(), 6u);
  EXPECT_EQ(made[4].gruppe + "|" + made[4].pfad, "FILM|film.mp4");
  EXPECT_EQ(made[5].gruppe + "|" + made[5].pfad + "|" + made[5].titel,
            "FILMLINK|http://v.example.de/f|Film");
}

}  // namespace
}  // namespace fern::testing
