// The status write-back from a sent document and the portal's answer, and taking a listing out
// of a document.
#include "openimmo_fixture.h"

namespace fern::testing {
namespace {

const char* kDoc =
    "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\"><imo:anbieter>"
    "<imo:immobilie><imo:verwaltung_techn><imo:objektnr_intern>{DE000002-0000-4000-8000-"
    "000000000002}"
    "</imo:objektnr_intern><imo:objektnr_extern>FB-1002</imo:objektnr_extern><imo:aktion "
    "aktionart=\"CHANGE\"/><imo:openimmo_obid>OB-2</imo:openimmo_obid></imo:verwaltung_techn>"
    "</imo:immobilie>"
    "<imo:immobilie><imo:verwaltung_techn><imo:objektnr_intern>{DE000002-0000-4000-8000-"
    "000000000004}"
    "</imo:objektnr_intern><imo:objektnr_extern>FB-1004</imo:objektnr_extern><imo:aktion "
    "aktionart=\"DELETE\"/><imo:openimmo_obid>OB-4</imo:openimmo_obid></imo:verwaltung_techn>"
    "</imo:immobilie></imo:anbieter></imo:openimmo>";

class StatusTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    portal = Rows("select * from Boersen where boersen_name = 'Wohnen HTTP Demo'");
  }
  std::string Row(int n, const char* column) {
    auto rs = Rows(std::string("select ") + column +
                   " from boersenobj where boersen_dsn like "
                   "'%000000000003}' and obj_dsn like '%00000000000" +
                   std::to_string(n) + "}'");
    return cUtil::k(rs->Value(column));
  }
  std::shared_ptr<db::Recordset> portal;
};

TEST_F(StatusTest, DocumentAndAnswerDecideEachListing) {
  auto doc = Parse(kDoc);
  // Without an expected answer every listing is marked: 1, and 3 for a deletion.
  Exec("update Boersen set httpantwort = 0");
  portal = Rows("select * from Boersen where boersen_name = 'Wohnen HTTP Demo'");
  ASSERT_TRUE(X().Delivery().SaveObjektStatus(*portal, *doc, nullptr, tMandant{}));
  EXPECT_EQ(Row(2, "status") + Row(4, "status"), "13");

  // With one: a long id is cut, a rejection ("fehler" in any case) keeps the old status.
  Exec("update Boersen set httpantwort = 1");
  Exec("update boersenobj set status = 0");
  portal = Rows("select * from Boersen where boersen_name = 'Wohnen HTTP Demo'");
  auto answer =
      Parse("<a><immobilie><openimmo_obid>OB-2</openimmo_obid><expose_id>" + std::string(300, 'x') +
            "</expose_id><antwort art=\"ok\"/></immobilie>"
            "<immobilie><openimmo_obid>OB-4</openimmo_obid><antwort art=\"fehler\"/>"
            "<meldung><freitext>kaputt</freitext></meldung></immobilie></a>");
  lines.clear();
  ASSERT_TRUE(X().Delivery().SaveObjektStatus(*portal, *doc, answer.get(), tMandant{}));
  EXPECT_EQ(Row(2, "status") + Row(4, "status"), "10");
  EXPECT_EQ(Row(2, "boersen_exp_id"), std::string(240, 'x'));
  EXPECT_NE(Lines(102).find("Wohnen HTTP Demo / Objekt: FB-1004 - Antwort: fehler : kaputt ;[Proc: "
                            "SaveObjektStatus2]"),
            std::string::npos);

  // An answer that names neither listing.
  lines.clear();
  ASSERT_TRUE(X().Delivery().SaveObjektStatus(*portal, *doc, Parse("<a/>").get(), tMandant{}));
  EXPECT_EQ(Errors(), 2);
  EXPECT_NE(Lines(102).find("Wohnen HTTP Demo: Keine gültige Antwort erhalten! ;[Proc: "
                            "SaveObjektStatus3]"),
            std::string::npos);
}

TEST_F(StatusTest, RemoveImmobilieComparesTheIdAsText) {
  auto doc = Parse(std::string(kDoc).replace(
      std::string(kDoc).find("{DE000002-0000-4000-8000-000000000004}"), 38, "it's 4"));
  EXPECT_FALSE(X().Delivery().RemoveImmobilie("it", *doc));
  EXPECT_TRUE(X().Delivery().RemoveImmobilie("it's 4", *doc));
  EXPECT_EQ(doc->documentElement()->firstChild()->ChildElements("immobilie").size(), 1u);
  EXPECT_FALSE(X().Delivery().RemoveImmobilie("it's 4", *doc));
}

}  // namespace
}  // namespace fern::testing
