#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "db/connection.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "support/scratch_dir.h"

using namespace fern;
using namespace fern::db;

namespace {

constexpr const char* kKeyA = "{0A1B2C3D-0000-4000-8000-00000000000A}";
constexpr const char* kKeyB = "{0A1B2C3D-0000-4000-8000-00000000000B}";

class Db : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "host.db").string();
    conn_ = Connection::Create(path_);
    // Created through the same rewrite as every query: the umlaut names are stored folded.
    conn_->Execute(
        "CREATE TABLE OBJ (DSN TEXT COLLATE GUIDKEY PRIMARY KEY, Kennung TEXT COLLATE DE_CI, "
        "Währung TEXT COLLATE DE_CI, Straße TEXT COLLATE DE_CI, Preis REAL, Erfasst DATETIME, "
        "Aktiv INTEGER, Flag BOOLEAN)\r\n\r\n"
        "CREATE TABLE FLDART (DSN TEXT COLLATE GUIDKEY PRIMARY KEY, Kürzel TEXT COLLATE DE_CI, "
        "OBJ_DSN TEXT COLLATE GUIDKEY)\r\n\r\n"
        "INSERT INTO OBJ VALUES ('" +
        std::string(kKeyA) +
        "', 'MÜLLER', 'EUR', 'Hauptstraße 1', 1.5, '2024-05-01 13:05:00', 1, 1)\r\n\r\n"
        "INSERT INTO OBJ VALUES ('" +
        std::string(kKeyB) +
        "', 'apfel', '', NULL, NULL, NULL, 0, 0)\r\n\r\n"
        "INSERT INTO FLDART VALUES ('{F1}', 'Größe', '" +
        std::string(kKeyA) + "')");
  }

  std::string Text(std::string_view sql, const char* field) {
    auto rs = conn_->Query(sql);
    if (rs->Eof()) return "<none>";
    const Variant& v = rs->Value(field);
    return v.IsNull() ? "<null>" : vb::CStr(v);
  }

  HostError ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const HostError& e) {
      return e;
    }
    ADD_FAILURE() << "no error";
    return HostError(0, "");
  }

  fern::testing::ScratchDir dir_;
  std::string path_;
  std::unique_ptr<Connection> conn_;
};

}  // namespace

TEST_F(Db, FieldTypesAndValuesFromDeclaredTypes) {
  auto rs = conn_->Query("SELECT * FROM obj ORDER BY Kennung");
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->Find("Kennung = 'müller'");
  const auto& erfasst = rs->Value("ERFASST");
  EXPECT_EQ(rs->Info(rs->FieldIndex("Erfasst")).type, adtype::kDBTimeStamp);
  ASSERT_EQ(erfasst.type(), VType::Date);
  EXPECT_DOUBLE_EQ(erfasst.dateVal(), vb::DateSerial(2024, 5, 1) + vb::TimeSerial(13, 5, 0));
  EXPECT_EQ(rs->Info(rs->FieldIndex("Preis")).type, adtype::kDouble);
  EXPECT_EQ(rs->Info(rs->FieldIndex("Aktiv")).type, adtype::kInteger);
  EXPECT_EQ(rs->Value("Aktiv").type(), VType::Long);
  EXPECT_EQ(rs->Value("Flag").type(), VType::Boolean);
  EXPECT_EQ(rs->Value("währung").str(), "EUR");
  rs->Find("Kennung = 'APFEL'", 0, SearchDirection::Forward, FindStart::First);
  EXPECT_TRUE(rs->Value("Straße").IsNull());
  EXPECT_TRUE(rs->Value("WÄHRUNG").IsString());  // "" stays "", not Null
  EXPECT_FALSE(rs->Value("Flag").boolVal());

  auto grid = conn_->Query(
      " select dsn, cast('1' as tinyint) as uebertragen, (Kennung) as beschriftung, count(1) "
      " from obj group by dsn order by Kennung ");
  EXPECT_EQ(grid->Info(1).type, adtype::kUnsignedTinyInt);
  EXPECT_EQ(grid->Value("uebertragen").type(), VType::Byte);
  EXPECT_EQ(grid->Info(3).type, adtype::kInteger);
  EXPECT_EQ(grid->Value("beschriftung").str(), "apfel");

  EXPECT_EQ(conn_->Query("SELECT * FROM obj WHERE 1=2")->RecordCount(), 0);
}

TEST_F(Db, GermanComparisonOrderLikeAndLen) {
  EXPECT_EQ(Text("SELECT Kennung FROM obj WHERE Kennung = 'müller'", "Kennung"), "MÜLLER");
  EXPECT_EQ(Text("SELECT Kennung FROM obj WHERE Kennung LIKE 'mü%'", "Kennung"), "MÜLLER");
  EXPECT_EQ(Text("SELECT DSN FROM FLDART WHERE Kürzel = 'GRÖSSE'", "DSN"), "{F1}");
  conn_->Execute(
      "INSERT INTO OBJ (DSN, Kennung) VALUES ('{C}', 'Äpfel')\n"
      "INSERT INTO OBJ (DSN, Kennung) VALUES ('{D}', 'Birne')\n"
      "INSERT INTO OBJ (DSN, Kennung) VALUES ('{E}', 'Apfel')");
  auto rs = conn_->Query("SELECT Kennung FROM obj ORDER BY Kennung");
  std::vector<std::string> order;
  for (; !rs->Eof(); rs->MoveNext()) order.push_back(rs->Value(size_t{0}).str());
  // Case-insensitive equals sit together, umlauts after their base letter, before B.
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(vb::UCase(order[0]), "APFEL");
  EXPECT_EQ(vb::UCase(order[1]), "APFEL");
  EXPECT_EQ(order[2], "Äpfel");
  EXPECT_EQ(order[3], "Birne");
  // Patterns that change from row to row, and an escape character.
  EXPECT_EQ(Text("SELECT count(*) AS n FROM obj a, obj b WHERE a.Kennung LIKE b.Kennung", "n"),
            "7");
  EXPECT_EQ(Text("SELECT count(*) AS n FROM obj WHERE Kennung LIKE 'a!%' ESCAPE '!'", "n"), "0");
  EXPECT_EQ(Text("SELECT Len('ab  ') AS n", "n"), "2");
  EXPECT_EQ(Text("SELECT Len('über') AS n", "n"), "4");
  EXPECT_EQ(Text("SELECT DSN FROM obj ORDER BY Len(Kennung) DESC", "DSN"), kKeyA);
}

TEST_F(Db, IdentifiersFoldButLiteralsStay) {
  conn_->Execute("UPDATE FLDART SET KÜRZEL = 'Kürzel STRAßE' WHERE DSN = '{F1}'");
  EXPECT_EQ(Text("select DSN from FLDART where Kürzel='kürzel straße'", "DSN"), "{F1}");
  EXPECT_EQ(Text("select kürzel from FLDART", "KÜRZEL"), "Kürzel STRAßE");
  EXPECT_EQ(Text("Select OBJ.STRAßE as ADSTRASSE from OBJ where Kennung = 'MÜLLER'", "ADSTRASSE"),
            "Hauptstraße 1");
  EXPECT_EQ(Text("Select * from OBJ where Kennung = 'MÜLLER'", "STRASSE"), "Hauptstraße 1");
}

TEST_F(Db, GuidKeysMatchWithoutBracesOrCase) {
  std::string bare = "0a1b2c3d-0000-4000-8000-00000000000a";
  EXPECT_EQ(Text("SELECT Kennung FROM OBJ where obj.dsn = '" + bare + "' ", "Kennung"), "MÜLLER");
  EXPECT_EQ(Text("SELECT Kennung FROM OBJ where obj.dsn = '{" + bare + "}'", "Kennung"), "MÜLLER");
  EXPECT_EQ(Text("SELECT TOP 1 FLDART.* FROM OBJ INNER JOIN FLDART ON FLDART.OBJ_DSN = OBJ.DSN "
                 "WHERE obj.dsn = '" +
                     bare + "' ORDER BY FLDART.DSN DESC",
                 "kürzel"),
            "Größe");
}

TEST_F(Db, ExecCallsRegisteredProcedure) {
  std::vector<std::string> seen;
  conn_->RegisterProcedure("ObjTracking", [&](Connection& c, const std::vector<std::string>& args) {
    seen = args;
    return c.Query("SELECT DSN, Kennung FROM OBJ WHERE DSN = '" + args.at(0) + "'");
  });
  auto rs = conn_->Query("exec objtracking '0A1B2C3D-0000-4000-8000-00000000000A'");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(rs->Value("Kennung").str(), "MÜLLER");
  auto e = ErrorOf([&] { conn_->Query("exec TrackingFiles '{A}','{B}'"); });
  EXPECT_NE(e.description().find("TrackingFiles"), std::string::npos);
}

TEST_F(Db, FailingStatementInBatchWritesNothing) {
  auto e = ErrorOf([&] {
    conn_->Execute(
        "\r\n\r\n UPDATE OBJ SET Aktiv = 5 WHERE Kennung = 'apfel'"
        "\r\n\r\n UPDATE OBJ SET Nichtda = 1"
        "\r\n\r\n UPDATE OBJ SET Aktiv = 6");
  });
  EXPECT_NE(e.description().find("UPDATE OBJ SET Nichtda = 1"), std::string::npos);
  EXPECT_NE(e.description().find("no such column"), std::string::npos);
  EXPECT_EQ(Text("SELECT Aktiv FROM OBJ WHERE Kennung = 'apfel'", "Aktiv"), "0");
  // The connection is usable afterwards and a good batch goes through.
  conn_->Execute(
      "UPDATE OBJ SET Aktiv = 5 WHERE Kennung = 'apfel'\r\n\r\nUPDATE OBJ SET Preis = 2");
  EXPECT_EQ(Text("SELECT Aktiv FROM OBJ WHERE Kennung = 'apfel'", "Aktiv"), "5");

  auto syntax = ErrorOf([&] { conn_->Query("SELECT FROM WHERE"); });
  EXPECT_NE(syntax.description().find("syntax error"), std::string::npos);
  EXPECT_NE(syntax.description().find("SELECT FROM WHERE"), std::string::npos);
}

TEST_F(Db, WriteBackUpdatesInsertsAndDeletesByKey) {
  auto rs = conn_->Query("Select * from obj where dsn = '" + std::string(kKeyA) + "'");
  rs->SetValue("Währung", Variant("CHF"));
  rs->SetValue("STRASSE", Variant::Null());
  rs->SetValue("Erfasst", Variant::Date(vb::DateSerial(2025, 2, 3) + vb::TimeSerial(4, 5, 6)));
  rs->SetValue("Flag", Variant(false));
  rs->AddNew();
  rs->SetValue("DSN", Variant("{0A1B2C3D-0000-4000-8000-00000000000C}"));
  rs->SetValue("Kennung", Variant("Neu"));
  rs->Update();
  conn_->UpdateRecordset(*rs);
  EXPECT_FALSE(rs->HasChanges());
  EXPECT_EQ(rs->RecordCount(), 2);

  EXPECT_EQ(Text("SELECT WÄHRUNG FROM OBJ WHERE Kennung = 'müller'", "Währung"), "CHF");
  EXPECT_EQ(Text("SELECT Straße FROM OBJ WHERE Kennung = 'müller'", "Straße"), "<null>");
  EXPECT_EQ(Text("SELECT Erfasst FROM OBJ WHERE Kennung = 'müller' AND typeof(Erfasst) = 'text'",
                 "Erfasst"),
            "03.02.2025 04:05:06");
  EXPECT_EQ(Text("SELECT Erfasst AS e FROM OBJ WHERE Erfasst = '2025-02-03 04:05:06'", "e"),
            "03.02.2025 04:05:06");
  EXPECT_EQ(Text("SELECT Flag + 0 AS f FROM OBJ WHERE Kennung = 'müller'", "f"), "0");
  EXPECT_EQ(Text("SELECT Preis FROM OBJ WHERE Kennung = 'neu'", "Preis"), "<null>");

  rs->MoveFirst();
  rs->Delete();
  conn_->UpdateRecordset(*rs);
  EXPECT_EQ(Text("SELECT count(*) AS n FROM OBJ", "n"), "2");
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Value("Kennung").str(), "Neu");
}

TEST_F(Db, WriteBackFindsTheRowWhateverTheKeySpelling) {
  const char* spellings[] = {"{0A1B2C3D-0000-4000-8000-00000000000A}",
                             "0a1b2c3d-0000-4000-8000-00000000000a",
                             "{0a1b2c3d-0000-4000-8000-00000000000a}"};
  int n = 0;
  for (const char* key : spellings) {
    auto rs = conn_->Query("SELECT DSN, Aktiv FROM OBJ WHERE DSN = '" + std::string(key) + "'");
    ASSERT_EQ(rs->RecordCount(), 1) << key;
    rs->SetValue("DSN", Variant(key));  // the recordset holds this spelling now
    rs->SetValue("Aktiv", Variant(int32_t{++n + 10}));
    conn_->UpdateRecordset(*rs);
    EXPECT_EQ(Text("SELECT Aktiv FROM OBJ WHERE Kennung = 'MÜLLER'", "Aktiv"),
              std::to_string(n + 10));
  }
  EXPECT_EQ(Text("SELECT count(*) AS n FROM OBJ", "n"), "2");

  // A new row with another spelling of an existing key is the same key: refused, nothing written.
  auto rs = conn_->Query("SELECT DSN, Kennung FROM OBJ WHERE 1=2");
  rs->AddNew();
  rs->SetValue("DSN", Variant("{0a1b2c3d-0000-4000-8000-00000000000b}"));
  rs->SetValue("Kennung", Variant("Doppelt"));
  auto e = ErrorOf([&] { conn_->UpdateRecordset(*rs); });
  EXPECT_NE(e.description().find("UNIQUE"), std::string::npos);
  EXPECT_TRUE(rs->HasChanges());
  EXPECT_EQ(Text("SELECT count(*) AS n FROM OBJ", "n"), "2");
}

TEST_F(Db, WriteBackRefusesJoinsAndMissingKeys) {
  auto join = conn_->Query(
      "SELECT OBJ.*, FLDART.Kürzel FROM OBJ INNER JOIN FLDART ON FLDART.OBJ_DSN = OBJ.DSN");
  join->SetValue("Kennung", Variant("geändert"));  // in memory only, like any lock mode
  join->AddNew();
  join->SetValue("Kürzel", Variant("NEU"));
  auto e = ErrorOf([&] { conn_->UpdateRecordset(*join); });
  EXPECT_NE(e.description().find("join"), std::string::npos);
  EXPECT_TRUE(join->HasChanges());
  EXPECT_EQ(Text("SELECT Kennung FROM OBJ WHERE DSN = '" + std::string(kKeyA) + "'", "Kennung"),
            "MÜLLER");
  EXPECT_EQ(Text("SELECT count(*) AS n FROM FLDART", "n"), "1");

  // Columns of one table, but rows of a join.
  auto objOnly = conn_->Query("SELECT OBJ.* FROM OBJ, FLDART WHERE FLDART.OBJ_DSN = OBJ.DSN");
  objOnly->SetValue("Kennung", Variant("geändert"));
  e = ErrorOf([&] { conn_->UpdateRecordset(*objOnly); });
  EXPECT_NE(e.description().find("join"), std::string::npos);
  // A sub-query only selects: the rows are still the table's own.
  auto sub = conn_->Query("SELECT * FROM OBJ WHERE DSN IN (SELECT OBJ_DSN FROM FLDART)");
  sub->SetValue("Aktiv", Variant(int32_t{4}));
  conn_->UpdateRecordset(*sub);
  EXPECT_EQ(Text("SELECT Aktiv FROM OBJ WHERE DSN = '" + std::string(kKeyA) + "'", "Aktiv"), "4");

  auto noKey = conn_->Query("SELECT Kennung FROM OBJ");
  noKey->SetValue("Kennung", Variant("x"));
  e = ErrorOf([&] { conn_->UpdateRecordset(*noKey); });
  EXPECT_NE(e.description().find("key column DSN"), std::string::npos);

  // A row another user removed meanwhile: the whole write-back is undone.
  auto rs = conn_->Query("SELECT * FROM OBJ ORDER BY Kennung");
  rs->SetValue("Kennung", Variant("zuerst"));  // apfel
  rs->MoveNext();
  rs->SetValue("Kennung", Variant("weg"));  // MÜLLER
  conn_->Execute("DELETE FROM OBJ WHERE DSN = '" + std::string(kKeyA) + "'");
  e = ErrorOf([&] { conn_->UpdateRecordset(*rs); });
  EXPECT_NE(e.description().find("no longer"), std::string::npos);
  EXPECT_EQ(Text("SELECT Kennung FROM OBJ", "Kennung"), "apfel");
}

TEST_F(Db, LockedDatabaseFailsAfterBusyTimeout) {
  auto other = Connection::Open(path_);
  ASSERT_EQ(sqlite3_exec(other->Handle(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  conn_->SetBusyTimeout(50);
  auto e = ErrorOf([&] { conn_->Execute("UPDATE OBJ SET Aktiv = 9"); });
  EXPECT_NE(e.description().find("locked"), std::string::npos);
  EXPECT_NE(e.description().find("UPDATE OBJ SET Aktiv = 9"), std::string::npos);
  e = ErrorOf([&] { conn_->Query("SELECT * FROM OBJ"); });
  EXPECT_NE(e.description().find("SELECT * FROM OBJ"), std::string::npos);
  sqlite3_exec(other->Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  conn_->Execute("UPDATE OBJ SET Aktiv = 9");
}

TEST_F(Db, OpenRefusesMissingForeignAndReadOnlyFiles) {
  std::string missing = (dir_ / "nope.db").string();
  auto e = ErrorOf([&] { Connection::Open(missing); });
  EXPECT_NE(e.description().find(missing), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(missing));

  std::string text = dir_.Write("text.db", std::string(2048, 'x')).string();
  e = ErrorOf([&] { Connection::Open(text); });
  EXPECT_NE(e.description().find(text), std::string::npos);
  EXPECT_NE(e.description().find("not a database"), std::string::npos);

  conn_.reset();
  ::chmod(path_.c_str(), 0444);
  e = ErrorOf([&] { Connection::Open(path_); });
  EXPECT_NE(e.description().find(path_), std::string::npos);
  EXPECT_NE(e.description().find("schreibgeschützt"), std::string::npos);
}

TEST_F(Db, DeclaredTypesSizesAndGeneratedKeys) {
  conn_->Execute(
      "CREATE TABLE Extra (ID INTEGER PRIMARY KEY, Code VARCHAR(40), Betrag MONEY, "
      "Tag DATE, Schluessel GUID, Notiz MEMO, Klein TINYINT, Stufe INTEGER DEFAULT 3)");
  auto rs = conn_->Query("SELECT * FROM Extra");
  EXPECT_EQ(rs->Info(1).type, adtype::kVarWChar);
  EXPECT_EQ(rs->Info(1).definedSize, 40);
  EXPECT_EQ(rs->Info(2).type, adtype::kCurrency);
  EXPECT_EQ(rs->Info(3).type, adtype::kDate);
  EXPECT_EQ(rs->Info(4).type, adtype::kGuid);
  EXPECT_EQ(rs->Info(5).type, adtype::kLongVarWChar);
  EXPECT_EQ(rs->Info(6).type, adtype::kUnsignedTinyInt);

  rs->AddNew();
  rs->SetValue("Code", Variant("A-1"));
  rs->SetValue("Betrag", Variant::Currency(12345));                  // 1,2345
  rs->SetValue("Tag", Variant::Date(vb::DateSerial(1899, 12, 30)));  // day 0 stays a date
  rs->SetValue("Klein", Variant::Byte(200));
  conn_->UpdateRecordset(*rs);
  EXPECT_EQ(rs->Value("ID").longVal(), 1);     // the key the database gave the row
  EXPECT_EQ(rs->Value("Stufe").longVal(), 3);  // and the column default, as a query shows it
  rs->SetValue("Stufe", Variant(true));
  rs->SetValue("Code", Variant::Null());
  conn_->UpdateRecordset(*rs);
  EXPECT_EQ(rs->Value("Stufe").type(), VType::Long);
  EXPECT_EQ(rs->Value("Stufe").longVal(), 1);
  EXPECT_TRUE(rs->Value("Code").IsNull());

  auto back = conn_->Query("SELECT * FROM Extra");
  EXPECT_EQ(back->Value("Betrag").currencyVal(), 12345);
  EXPECT_EQ(back->Value("Tag").type(), VType::Date);
  EXPECT_DOUBLE_EQ(back->Value("Tag").dateVal(), 0.0);
  EXPECT_EQ(back->Value("Klein").byteVal(), 200);
  EXPECT_TRUE(back->Value("Notiz").IsNull());
}

TEST_F(Db, EarlierStatementsAndProceduresShareTheBatchTransaction) {
  auto rs = conn_->Query("UPDATE OBJ SET Aktiv = 7\nSELECT count(*) AS n FROM OBJ WHERE Aktiv = 7");
  EXPECT_EQ(rs->Value("n").longVal(), 2);

  int calls = 0;
  conn_->RegisterProcedure("Merke", [&](Connection& c, const std::vector<std::string>& args) {
    ++calls;
    c.Execute("UPDATE OBJ SET Kennung = '" + args.at(0) + "'");
    return std::shared_ptr<Recordset>();
  });
  auto e = ErrorOf([&] { conn_->Execute("exec Merke 'x'\nUPDATE OBJ SET Fehlt = 1"); });
  EXPECT_NE(e.description().find("Fehlt"), std::string::npos);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Text("SELECT count(*) AS n FROM OBJ WHERE Kennung = 'x'", "n"), "0");
  conn_->Execute("exec Merke 'y'");
  EXPECT_EQ(Text("SELECT count(*) AS n FROM OBJ WHERE Kennung = 'y'", "n"), "2");
  EXPECT_EQ(conn_->Query("exec Merke 'z'")->FieldCount(), 0u);
}

TEST_F(Db, UnchangedRecordsetsNeedNoKey) {
  auto join = conn_->Query(
      "SELECT OBJ.Kennung, FLDART.Kürzel FROM OBJ JOIN FLDART ON FLDART.OBJ_DSN = OBJ.DSN");
  conn_->UpdateRecordset(*join);  // nothing to write is no error
  join->SetValue("Kürzel", Variant("neu"));
  join->CancelUpdate();
  conn_->UpdateRecordset(*join);
  EXPECT_EQ(Text("SELECT Kürzel FROM FLDART", "Kürzel"), "Größe");
}
