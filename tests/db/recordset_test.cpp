#include <gtest/gtest.h>

#include "db/Recordset.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "support/error_of.h"

using namespace fern;
using namespace fern::db;

namespace {

// Kürzel | Wert | Zahl | Datum
std::shared_ptr<Recordset> Sample() {
  auto rs = Recordset::Create({{"Kürzel", adtype::kVarWChar},
                               {"Wert", adtype::kVarWChar},
                               {"Zahl", adtype::kInteger},
                               {"Datum", adtype::kDBTimeStamp}});
  auto row = [&](Variant a, Variant b, Variant c, Variant d) {
    rs->LoadRow({std::move(a), std::move(b), std::move(c), std::move(d)});
  };
  row("straße", "O'Brien", int32_t{3}, Variant::Date(vb::DateSerial(2024, 5, 1)));
  row("PLZ", "", int32_t{10}, Variant::Null());
  row("Ort", Variant::Null(), int32_t{-2}, Variant::Date(vb::DateSerial(2023, 1, 1)));
  row("ÄNDERUNG", "ja", Variant::Null(), Variant::Date(vb::DateSerial(2024, 5, 1) + 0.5));
  row("ort", "zweiter", int32_t{7}, Variant::Null());
  return rs;
}

std::vector<std::string> Column(Recordset& rs, const char* name) {
  std::vector<std::string> out;
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
    const Variant& v = rs.Value(name);
    out.push_back(v.IsNull() ? "<null>" : vb::CStr(v));
  }
  return out;
}

using fern::testing::ErrorOf;

}  // namespace

TEST(RecordsetFields, ByNameWithoutRegardToCaseAndFirstOfDuplicates) {
  auto rs = Recordset::Create({{"WÄHRUNG"}, {"STRAßE"}, {"DSN"}, {"dsn"}});
  rs->LoadRow({"EUR", "Hauptstr.", "first", "second"});
  EXPECT_EQ(rs->Value("währung").str(), "EUR");
  EXPECT_EQ(rs->Value("Währung").str(), "EUR");
  EXPECT_EQ(rs->Value("STRASSE").str(), "Hauptstr.");
  EXPECT_EQ(rs->Value("Dsn").str(), "first");
  EXPECT_EQ(rs->Value(size_t{3}).str(), "second");
  EXPECT_EQ(ErrorOf([&] { rs->Value("nope"); }), dberr::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs->Value(size_t{4}); }), dberr::kItemNotFound);
}

TEST(RecordsetNavigation, EofBofAndAbsolutePosition) {
  auto rs = Sample();
  EXPECT_FALSE(rs->Bof());
  EXPECT_EQ(rs->AbsolutePosition(), 1);
  EXPECT_EQ(rs->RecordCount(), 5);
  rs->MoveLast();
  EXPECT_EQ(rs->AbsolutePosition(), 5);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->AbsolutePosition(), -3);
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), dberr::kNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs->Value("Wert"); }), dberr::kNoCurrentRecord);
  rs->SetAbsolutePosition(3);
  EXPECT_EQ(rs->Value("Kürzel").str(), "Ort");
  rs->Move(-2);
  EXPECT_EQ(rs->Value("Kürzel").str(), "straße");
  rs->MovePrevious();
  EXPECT_TRUE(rs->Bof());
  EXPECT_EQ(ErrorOf([&] { rs->SetAbsolutePosition(6); }), dberr::kArgument);
  EXPECT_EQ(ErrorOf([&] { rs->SetAbsolutePosition(0); }), dberr::kArgument);

  auto empty = Recordset::Create({{"a"}});
  EXPECT_TRUE(empty->Eof());
  EXPECT_TRUE(empty->Bof());
  EXPECT_EQ(empty->RecordCount(), 0);
  rs->Close();
  EXPECT_EQ(ErrorOf([&] { rs->Eof(); }), dberr::kClosed);
}

TEST(RecordsetFilter, ComparesTextNumbersDatesAndNull) {
  auto rs = Sample();
  rs->SetFilter("kürzel = 'ORT'");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"Ort", "ort"}));
  rs->SetFilter(" KÜRZEL = 'STRASSE'");
  EXPECT_EQ(rs->RecordCount(), 1);
  rs->SetFilter("Wert = 'O''Brien'");
  EXPECT_EQ(rs->RecordCount(), 1);
  rs->SetFilter("Zahl > 2");
  EXPECT_EQ(Column(*rs, "Zahl"), (std::vector<std::string>{"3", "10", "7"}));
  rs->SetFilter("Zahl = -2");
  EXPECT_EQ(rs->RecordCount(), 1);
  rs->SetFilter("Zahl = Null");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"ÄNDERUNG"}));
  rs->SetFilter("Wert <> Null");
  EXPECT_EQ(rs->RecordCount(), 4);  // "" is not Null
  rs->SetFilter("Wert = ''");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"PLZ"}));
  rs->SetFilter("Datum >= #2024-05-01#");
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->SetFilter("Datum < #01.05.2024#");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"Ort"}));
  rs->SetFilter("Zahl <> 3");  // Null does not take part
  EXPECT_EQ(rs->RecordCount(), 3);
}

TEST(RecordsetFilter, LikeAndOrParenthesesAndClearing) {
  auto rs = Sample();
  rs->SetFilter("Kürzel LIKE 'o*'");
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->SetFilter("Kürzel LIKE '%ung'");
  EXPECT_EQ(rs->RecordCount(), 1);
  rs->SetFilter("(Kürzel = 'PLZ' OR Kürzel = 'ort') AND Zahl > 8");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"PLZ"}));
  rs->SetFilter("Kürzel = 'PLZ' OR Kürzel = 'ort' AND Zahl > 8");  // AND binds tighter
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"PLZ"}));
  rs->SetFilter("Zahl > 100");
  EXPECT_TRUE(rs->Eof());
  EXPECT_TRUE(rs->Bof());
  rs->ClearFilter();
  EXPECT_EQ(rs->RecordCount(), 5);
  EXPECT_EQ(rs->AbsolutePosition(), 1);

  EXPECT_EQ(ErrorOf([&] { rs->SetFilter("Unbekannt = 1"); }), dberr::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs->SetFilter("Zahl = "); }), dberr::kArgument);
  EXPECT_EQ(ErrorOf([&] { rs->SetFilter("Wert = 'offen"); }), dberr::kArgument);
  EXPECT_EQ(ErrorOf([&] { rs->SetFilter("(Zahl = 1"); }), dberr::kArgument);
  EXPECT_EQ(rs->RecordCount(), 5);  // a failed filter leaves the view alone
}

TEST(RecordsetFind, ForwardBackwardSkipAndNoMatch) {
  auto rs = Sample();
  EXPECT_TRUE(rs->Find("Kürzel = 'ort'"));
  EXPECT_EQ(rs->AbsolutePosition(), 3);
  EXPECT_TRUE(rs->Find("Kürzel = 'ort'", 1));
  EXPECT_EQ(rs->AbsolutePosition(), 5);
  EXPECT_TRUE(rs->Find("Kürzel = 'ort'", 1, SearchDirection::Backward));
  EXPECT_EQ(rs->AbsolutePosition(), 3);
  EXPECT_FALSE(rs->Find("Kürzel = 'ort'", 1, SearchDirection::Backward));
  EXPECT_TRUE(rs->Bof());
  EXPECT_TRUE(rs->Find("Zahl = 7", 0, SearchDirection::Forward, FindStart::First));
  EXPECT_EQ(rs->AbsolutePosition(), 5);
  EXPECT_FALSE(rs->Find("Kürzel = 'fehlt'"));
  EXPECT_TRUE(rs->Eof());

  auto empty = Recordset::Create({{"Kürzel"}});
  EXPECT_FALSE(empty->Find("Kürzel = 'x'"));
  EXPECT_TRUE(empty->Eof());
}

TEST(RecordsetSort, StableGermanOrderNullFirst) {
  auto rs = Sample();
  rs->SetSort("Kürzel");
  EXPECT_EQ(Column(*rs, "Kürzel"),
            (std::vector<std::string>{"ÄNDERUNG", "Ort", "ort", "PLZ", "straße"}));
  rs->SetSort("Zahl DESC");
  EXPECT_EQ(Column(*rs, "Zahl"), (std::vector<std::string>{"10", "7", "3", "-2", "<null>"}));
  rs->SetSort("Datum ASC, Kürzel DESC");
  EXPECT_EQ(Column(*rs, "Kürzel"),
            (std::vector<std::string>{"PLZ", "ort", "Ort", "straße", "ÄNDERUNG"}));
  rs->SetFilter("Kürzel <> 'PLZ'");  // the sort stays with a new filter
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"ort", "Ort", "straße", "ÄNDERUNG"}));
  rs->SetSort("");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"straße", "Ort", "ÄNDERUNG", "ort"}));
  EXPECT_EQ(ErrorOf([&] { rs->SetSort("Fehlt"); }), dberr::kItemNotFound);
}

TEST(RecordsetEditing, RowStatesAndCancel) {
  auto rs = Sample();
  rs->SetValue("Wert", Variant("neu"));
  EXPECT_EQ(rs->CurrentRowState(), RowState::Modified);
  rs->CancelUpdate();
  EXPECT_EQ(rs->Value("Wert").str(), "O'Brien");
  EXPECT_EQ(rs->CurrentRowState(), RowState::Unchanged);

  rs->SetValue("Datum", Variant("31.12.2024"));  // text into a date field becomes a date
  EXPECT_EQ(rs->Value("Datum").type(), VType::Date);
  rs->MoveNext();
  rs->Delete();
  EXPECT_EQ(ErrorOf([&] { rs->Value("Wert"); }), dberr::kNoCurrentRecord);
  EXPECT_EQ(rs->RecordCount(), 4);
  rs->MoveNext();  // lands on the row after the deleted one
  EXPECT_EQ(rs->Value("Kürzel").str(), "Ort");

  rs->AddNew();
  rs->SetValue("Kürzel", Variant("NEU"));
  rs->Update();
  EXPECT_EQ(rs->RecordCount(), 5);
  EXPECT_EQ(rs->CurrentRowState(), RowState::New);
  rs->AddNew();
  rs->CancelUpdate();
  EXPECT_EQ(rs->RecordCount(), 5);

  auto changes = rs->PendingChanges();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].state, RowState::Modified);
  EXPECT_EQ((*changes[0].original)[3].dateVal(), vb::DateSerial(2024, 5, 1));
  EXPECT_EQ(changes[1].state, RowState::Deleted);
  EXPECT_EQ(changes[2].state, RowState::New);

  // A new row deleted again leaves nothing to write.
  rs->MoveLast();
  rs->Delete();
  EXPECT_EQ(rs->PendingChanges().size(), 2u);
  rs->AcceptChanges();
  EXPECT_FALSE(rs->HasChanges());
  EXPECT_EQ(rs->RecordCount(), 4);
}

TEST(RecordsetDispatch, ScriptsReachFieldsByName) {
  auto rs = Sample();
  std::vector<Variant> args{Variant("kürzel")};
  Variant field = rs->Invoke("", kPropGet | kMethod, args);
  ASSERT_TRUE(field.IsObject());
  EXPECT_EQ(CallByName(field, "", kPropGet, std::vector<Variant>{}).str(), "straße");
  EXPECT_EQ(CallByName(field, "Name", kPropGet, std::vector<Variant>{}).str(), "Kürzel");
  EXPECT_EQ(CallByName(field, "Type", kPropGet, std::vector<Variant>{}).longVal(),
            adtype::kVarWChar);

  std::vector<Variant> let{Variant("Wert"), Variant("gesetzt")};
  rs->Invoke("", kPropLet, let);
  EXPECT_EQ(rs->Value("Wert").str(), "gesetzt");
  CallByName(field, "Value", kPropLet, std::vector<Variant>{Variant("über")});
  EXPECT_EQ(rs->Value(size_t{0}).str(), "über");

  Variant fields = rs->Invoke("Fields", kPropGet, {});
  EXPECT_EQ(CallByName(fields, "Count", kPropGet, std::vector<Variant>{}).longVal(), 4);
  Variant second = CallByName(fields, "", kPropGet, std::vector<Variant>{Variant(int32_t{1})});
  EXPECT_EQ(CallByName(second, "Name", kPropGet, std::vector<Variant>{}).str(), "Wert");
  std::vector<Variant> each;
  ASSERT_TRUE(fields.obj()->Enumerate(each));
  ASSERT_EQ(each.size(), 4u);
  EXPECT_EQ(CallByName(each[3], "Name", kPropGet, std::vector<Variant>{}).str(), "Datum");

  std::vector<Variant> filter{Variant("Zahl > 5")};
  rs->Invoke("Filter", kPropLet, filter);
  EXPECT_EQ(rs->Invoke("RecordCount", kPropGet, {}).longVal(), 2);
  std::vector<Variant> zero{Variant(int32_t{0})};
  rs->Invoke("Filter", kPropLet, zero);
  EXPECT_EQ(rs->Invoke("RecordCount", kPropGet, {}).longVal(), 5);
  EXPECT_EQ(rs->Invoke("Filter", kPropGet, {}).longVal(), 0);
  std::vector<Variant> find{Variant("Zahl = 7")};
  rs->Invoke("Find", kMethod, find);
  EXPECT_EQ(rs->Invoke("AbsolutePosition", kPropGet, {}).longVal(), 5);
  rs->Invoke("MoveNext", kMethod, {});
  EXPECT_TRUE(rs->Invoke("EOF", kPropGet, {}).boolVal());
  EXPECT_EQ(ErrorOf([&] { rs->Invoke("Nonsense", kMethod, {}); }), fern::err::kNoMember);

  // A field object outlives the script's recordset variable.
  Variant kept;
  {
    auto other = Sample();
    std::vector<Variant> a{Variant(int32_t{2})};
    kept = other->Invoke("", kPropGet, a);
  }
  EXPECT_EQ(CallByName(kept, "Value", kPropGet, std::vector<Variant>{}).longVal(), 3);
}

TEST(RecordsetEditing, DeleteAndNavigationAroundIt) {
  auto rs = Sample();
  rs->SetAbsolutePosition(3);
  rs->Delete();
  rs->MovePrevious();  // back to the row before the deleted one
  EXPECT_EQ(rs->Value("Kürzel").str(), "PLZ");
  rs->MoveLast();
  rs->Delete();
  EXPECT_FALSE(rs->Eof());  // still on the deleted row
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 3);
  // Deleted rows stay out of any later filter or sort.
  rs->SetSort("Kürzel DESC");
  EXPECT_EQ(Column(*rs, "Kürzel"), (std::vector<std::string>{"straße", "PLZ", "ÄNDERUNG"}));
}

TEST(RecordsetEditing, SortKeepsCurrentRowAndCancelledAddNewReturns) {
  auto rs = Sample();
  rs->SetAbsolutePosition(2);  // PLZ
  rs->SetSort("Zahl");
  EXPECT_EQ(rs->Value("Kürzel").str(), "PLZ");
  EXPECT_EQ(rs->AbsolutePosition(), 5);
  rs->AddNew();
  EXPECT_EQ(rs->AbsolutePosition(), 6);
  rs->CancelUpdate();
  EXPECT_EQ(rs->Value("Kürzel").str(), "PLZ");
  EXPECT_EQ(rs->RecordCount(), 5);

  // A filtered view shows a new row until the filter is set again.
  rs->SetFilter("Zahl > 5");
  rs->AddNew();
  rs->SetValue("Zahl", Variant(int32_t{1}));
  rs->Update();
  EXPECT_EQ(rs->RecordCount(), 3);
  rs->SetFilter("Zahl > 5");
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->ClearFilter();
  EXPECT_EQ(rs->RecordCount(), 6);
}

TEST(RecordsetDispatch, AddNewAndUpdateWithFieldLists) {
  auto rs = Sample();
  VArray names = VArray::FromList({Variant("Kürzel"), Variant("Zahl")});
  VArray values = VArray::FromList({Variant("NEU"), Variant(int32_t{42})});
  std::vector<Variant> args{Variant(names), Variant(values)};
  rs->Invoke("AddNew", kMethod, args);
  EXPECT_EQ(rs->Value("Zahl").longVal(), 42);
  std::vector<Variant> one{Variant("Wert"), Variant("eins")};
  rs->Invoke("Update", kMethod, one);
  EXPECT_EQ(rs->Value("Wert").str(), "eins");
  EXPECT_EQ(rs->RecordCount(), 6);
  std::vector<Variant> bad{Variant(names), Variant("nur einer")};
  EXPECT_EQ(ErrorOf([&] { rs->Invoke("AddNew", kMethod, bad); }), dberr::kArgument);
  rs->Invoke("Delete", kMethod, {});
  rs->Invoke("MoveFirst", kMethod, {});
  EXPECT_EQ(rs->Invoke("State", kPropGet, {}).longVal(), 1);
  rs->Invoke("Close", kMethod, {});
  EXPECT_EQ(rs->State(), 0);
}
