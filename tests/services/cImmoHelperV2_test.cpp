// Listing selection, listing state, outside programs and the transfer relay of the listing-data
// service, on the demo host.
#include <gmock/gmock.h>

#include "cImmoHelperV2_fixture.h"
#include "host/LanguagePack.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/cFTPTransferV2.h"

namespace fern::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> Column(db::Recordset& rs, const std::string& name) {
  std::vector<std::string> out;
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(cUtil::k(rs.Value(name)));
  return out;
}

// --- selection ------------------------------------------------------------------------------

TEST_F(ListingServiceTest, SelectionSqlHasOneLanguageColumnPerContentLanguage) {
  auto portal = Portal(2);
  Session().g_oLanguagePack->SetContentLanguages("1031");
  EXPECT_EQ(Helper().BoersenObjekteSql(*portal, ""),
            " Select obj.*, boersenobj.kurz, boersenobj.lang, boersenobj.adresse_zeigen, "
            "boersenobj.status, boersenobj.letzte_uebertragung, boersenobj.boersen_exp_id, "
            "boersenobj.TransLang , boersenobj.TransLang_LCID1031 FROM boersenobj inner join obj "
            "on boersenobj.obj_dsn = obj.dsn  WHERE obj.FArchiv<2 AND (boersenobj.kurz=1 or "
            "boersenobj.lang=1 or boersenobj.status=1 )AND boersenobj.boersen_dsn = '" +
                PortalKey(2) + "' order by Kennung ");

  Session().g_oLanguagePack->SetContentLanguages("");
  EXPECT_THAT(Helper().BoersenObjekteSql(*portal, ""), Not(HasSubstr("LCID")));

  Exec("ALTER TABLE boersenobj ADD COLUMN TransLang_LCID1036 INTEGER");
  Session().g_oLanguagePack->SetContentLanguages("2057|1031|1036");
  EXPECT_THAT(Helper().BoersenObjekteSql(*portal, ""),
              HasSubstr(", boersenobj.TransLang_LCID2057, boersenobj.TransLang_LCID1031, "
                        "boersenobj.TransLang_LCID1036 FROM"));
  std::string none;
  auto rs = Helper().GetBoersenObjekte(*portal, none);
  EXPECT_EQ(rs->Info(rs->FieldCount() - 1).name, "TransLang_LCID1036");
}

TEST_F(ListingServiceTest, DepartmentIsANumberOrAQuotedText) {
  auto portal = Portal(2);
  EXPECT_THAT(Helper().BoersenObjekteSql(*portal, " 1 "),
              HasSubstr("' AND obj.abteilung = 1 order by Kennung "));
  std::string injected = "1 OR 1=1";
  EXPECT_THAT(Helper().BoersenObjekteSql(*portal, injected),
              HasSubstr(" AND obj.abteilung = '1 OR 1=1' order"));
  EXPECT_EQ(Helper().GetBoersenObjekte(*portal, injected)->RecordCount(), 0);
  std::string quote = "Verkauf's";
  EXPECT_EQ(Helper().GetBoersenObjekte(*portal, quote)->RecordCount(), 0);

  std::string odd = "1";
  auto rs = Helper().GetBoersenObjekte(*portal, odd);
  for (const std::string& id : Column(*rs, "Kennung"))
    EXPECT_EQ((std::stoi(id.substr(3)) - 1000) % 2, 1) << id;
}

TEST_F(ListingServiceTest, SelectionTakesChosenOrPublishedUnarchivedListingsOfThePortalInOrder) {
  // 3 leaves the portal entirely, 5 stays by its status alone, 24 is archived in the demo.
  Exec("UPDATE boersenobj SET kurz = 0, lang = 0 WHERE obj_dsn IN ('" + ObjKey(3) + "','" +
       ObjKey(5) + "')");
  Exec("UPDATE boersenobj SET status = 1 WHERE obj_dsn = '" + ObjKey(5) + "'");
  Exec("UPDATE obj SET KENNUNG = 'FB-0999' WHERE DSN = '" + ObjKey(30) + "'");
  std::string none;
  auto rs = Helper().GetBoersenObjekte(*Portal(2), none);
  std::vector<std::string> ids = Column(*rs, "Kennung");
  ASSERT_EQ(ids.size(), 28u);
  EXPECT_EQ(ids.front(), "FB-0999");
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  for (const char* gone : {"FB-1003", "FB-1024"})
    EXPECT_EQ(std::count(ids.begin(), ids.end(), gone), 0) << gone;
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "FB-1005"), 1);
  // Portal 4 takes every third listing only (without 3 and 24); its transfer columns come along.
  rs = Helper().GetBoersenObjekte(*Portal(4), none);
  EXPECT_EQ(rs->RecordCount(), 8);
  for (const char* column : {"kurz", "lang", "adresse_zeigen", "status", "letzte_uebertragung",
                             "boersen_exp_id", "TransLang", "TransLang_LCID2057"})
    EXPECT_GE(rs->FindField(column), 0) << column;
}

TEST_F(ListingServiceTest, CopyObjRootDetailsAnnouncesItselfOnlyWhenItIsOne) {
  std::string none;
  for (const char* value : {"abc", "0", ""}) {
    Ini("IS24Transfer", "CopyObjRootDetails", value);
    EXPECT_EQ(Helper().GetBoersenObjekte(*Portal(2), none)->RecordCount(), 29) << value;
  }
  EXPECT_TRUE(events.events.empty()) << events.Dump();
  Ini("IS24Transfer", "CopyObjRootDetails", " 1 ");
  Helper().GetBoersenObjekte(*Portal(2), none);
  EXPECT_EQ(events.Texts(true, 8), std::vector<std::string>{"Vorbereitung ProvVererbung"});
}

// --- listing state --------------------------------------------------------------------------

// The decision table, row by row; -1 is "any". Results: F false, T true, K = KL, O = KL or S,
// V = FV, A = FV and C, N = S and not KL.
struct TableRow {
  int T, FV, C, S, KL;
  char send, del;
};
const TableRow kTable[] = {
    {1, -1, -1, 0, -1, 'F', 'F'}, {1, -1, -1, 1, 1, 'F', 'V'}, {1, -1, -1, 1, 0, 'F', 'A'},
    {0, 1, -1, 0, -1, 'K', 'F'},  {0, 1, -1, 1, 1, 'T', 'F'},  {0, 1, -1, 1, 0, 'F', 'T'},
    {0, 0, 1, -1, -1, 'O', 'N'},  {0, 0, 0, -1, -1, 'F', 'N'},
};

bool Eval(char c, bool FV, bool C, bool S, bool KL) {
  switch (c) {
    case 'T':
      return true;
    case 'K':
      return KL;
    case 'O':
      return KL || S;
    case 'V':
      return FV;
    case 'A':
      return FV && C;
    case 'N':
      return S && !KL;
    default:
      return false;
  }
}

TEST_F(ListingServiceTest, ListingStateFollowsTheDecisionTableForEveryInput) {
  const double touch = vb::DateSerial(2026, 11, 5);
  struct Dates {
    Variant last, touch;
    bool changed;
  };
  const Dates dates[] = {
      {Variant::Null(), Variant::Date(touch), true},           // never transferred
      {Variant::Date(0), Variant::Date(touch), true},          // the zero date
      {Variant::Date(touch - 1), Variant::Date(touch), true},  // changed since
      {Variant::Date(touch + 1), Variant::Date(touch), false},
      {Variant::Date(touch), Variant::Date(touch), false},
      {Variant::Date(touch), Variant::Null(), true},  // change time unknown
      {Variant::Null(), Variant::Null(), true},
  };
  cImmoHelperV2& h = Helper();
  for (int teil = 0; teil <= 1; ++teil)
    for (int ftp = 0; ftp <= 1; ++ftp) {
      auto portal = db::Recordset::Create({{"teil_or_voll"}, {"ftp_or_http"}});
      portal->LoadRow({Variant(int32_t{teil}), Variant(int32_t{ftp})});
      const bool FV = teil == 0 && ftp == 1;
      for (int T = 0; T <= 1; ++T)
        for (int S = 0; S <= 1; ++S)
          for (int kl = 0; kl < 4; ++kl)
            for (const Dates& d : dates) {
              auto obj = db::Recordset::Create({{"DSN"},
                                                {"OBJ_DSN"},
                                                {"transfer"},
                                                {"status"},
                                                {"kurz"},
                                                {"lang"},
                                                {"adresse_zeigen"},
                                                {"letzte_uebertragung"},
                                                {"TOUCH"}});
              obj->LoadRow({Variant(ObjKey(1)), Variant::Null(), Variant(int32_t{T}),
                            Variant(int32_t{S}), Variant(int32_t{kl & 1}),
                            Variant(int32_t{kl >> 1}), Variant(int32_t{kl == 3}), d.last, d.touch});
              const bool KL = kl != 0;
              const bool C = d.changed;
              int matches = 0;
              char send = '?', del = '?';
              for (const TableRow& r : kTable) {
                auto fits = [](int want, bool have) { return want < 0 || (want == 1) == have; };
                if (fits(r.T, T) && fits(r.FV, FV) && fits(r.C, C) && fits(r.S, S) &&
                    fits(r.KL, KL)) {
                  ++matches;
                  send = r.send;
                  del = r.del;
                }
              }
              ASSERT_EQ(matches, 1);
              auto st = h.GetBoersenObjStatus(*portal, *obj);
              const bool wantDel = Eval(del, FV, C, S, KL);
              SCOPED_TRACE(::testing::Message()
                           << "T" << T << " FV" << FV << " C" << C << " S" << S << " kl" << kl);
              EXPECT_EQ(st[0], Eval(send, FV, C, S, KL) ? -1 : 0);
              EXPECT_EQ(st[1], wantDel ? -1 : 0);
              EXPECT_EQ(st[2], wantDel ? 0 : -1);
              EXPECT_EQ(st[3], (kl >> 1) ? -1 : 0);
              EXPECT_EQ(st[4], kl == 3 ? -1 : 0);
            }
    }
}

TEST_F(ListingServiceTest, ChangeOfAnAncestorCountsAsChangeOfTheListing) {
  // Listing 26 (portal 3, one file per listing) under 1 under 3; transferred after every own
  // change, but its grandparent changed later.
  Exec("UPDATE boersenobj SET letzte_uebertragung = '2026-12-31 00:00:00', status = 1");
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(3) + "' WHERE DSN = '" + ObjKey(1) + "'");
  Exec("UPDATE obj SET TOUCH = '2027-01-05 00:00:00' WHERE DSN = '" + ObjKey(3) + "'");
  auto portal = Portal(3);
  auto send = [&](int n) { return Helper().GetBoersenObjStatus(*portal, *Listing(3, n))[0]; };
  EXPECT_EQ(send(26), -1);
  EXPECT_EQ(send(4), 0);  // no parent, unchanged

  // A full one-document transfer sends what is chosen, without asking the parents.
  EXPECT_EQ(Helper().GetBoersenObjStatus(*Portal(2), *Listing(3, 26))[0], -1);

  // A cycle 1 -> 26 -> 1 ends the walk without a change.
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(26) + "' WHERE DSN = '" + ObjKey(1) + "'");
  EXPECT_EQ(send(26), 0);
  // So does a parent id that names no row.
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(99) + "' WHERE DSN = '" + ObjKey(1) + "'");
  EXPECT_EQ(send(26), 0);

  // With inheritance off only the listing's own change time counts.
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(3) + "' WHERE DSN = '" + ObjKey(1) + "'");
  Ini("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "0");
  EXPECT_EQ(send(26), 0);
}

// --- outside programs -----------------------------------------------------------------------

TEST_F(ListingServiceTest, WaitForProcessReturnsTheExitCodeWhileEventsFlow) {
  int pumped = 0;
  SetPumpHook([&] { ++pumped; });
  EXPECT_EQ(Helper().WaitForProcess("sh -c \"sleep 0.3; exit 7\"", 0), 7);
  SetPumpHook(nullptr);
  EXPECT_GT(pumped, 2);

  EXPECT_EQ(Helper().WaitForProcess("true", 1), 0);
  try {
    Helper().WaitForProcess("/no/such/program --x", 0);
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 53);
    EXPECT_EQ(e.source(), "WaitForProcess");
  }
  SetEsc();
  EXPECT_EQ(Helper().WaitForProcess("sh -c \"exit 0\"", 0), -1);
  ResetEsc();
}

// --- transfer layer -------------------------------------------------------------------------

TEST_F(ListingServiceTest, TransferCallsReachTheTransferLayerAndItsEventsComeBack) {
  cImmoHelperV2& h = Helper();
  h.strTransLang("_LCID2057");
  EXPECT_EQ(h.FtpTransfer().m_strTransLang, "_LCID2057");
  EXPECT_EQ(h.FormatDecimal("0.00", ""), "");
  EXPECT_EQ(h.FormatDecimal("0.00", "12,5"), "12.50");

  // Nothing listens on port 1: the layer reports the failure, the service hears it.
  bool ok = true;
  h.HttpTransfer("127.0.0.1:1/x", "GET", "", ok);
  EXPECT_FALSE(ok);
  bool heard = false;
  for (const auto& e : events.events) heard = heard || (e.work && e.state >= 100);
  EXPECT_TRUE(heard) << events.Dump();
  EXPECT_EQ(h.GetResponseText(), "");
}

TEST(ListingServiceUnbound, CallsBeforeInitAreClearErrors) {
  cImmoHelperV2 h;
  auto portal = db::Recordset::Create({{"DSN"}});
  portal->LoadRow({Variant("x")});
  std::string none;
  EXPECT_THROW(h.GetBoersenObjekte(*portal, none), HostError);
  EXPECT_THROW(h.FtpSendFolder("h", "u", "p", "l", "r", "", "", false), HostError);
  EXPECT_EQ(h.strTransLang(), "");
}

}  // namespace
}  // namespace fern::testing
