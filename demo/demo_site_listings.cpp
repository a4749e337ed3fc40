// The web site's listing rows, field values, requests and members: a listing whose every text
// is awkward, several-valued options, a range, the member zone, and members with their
// membership records.
#include "demo/demo_data.h"

namespace fern::host::demo_data {

namespace {

// Keys of this file start high, clear of the host's own rows.
constexpr int kBase = 600;
constexpr int kHostile = 41;  // the listing with awkward texts, a unit of listing 1
constexpr int kFldOrt = 9;    // the host's "Land_PLZ_Ort"

const char* const kAwkward = "O'Neill \"Villa\" \\ $x {${phpinfo()}} äöü € <b>fett</b>\r\nZeile 2";

struct Field {
  int key;
  const char* code;
  int typ;
  int status;
  int intervall;
};

const Field kFields[] = {
    {kBase + 1, "Mitgliederbereich", 6, 0, 0},  // member zone: "Ja" shows the listing to members
    {kBase + 2, "Ausstattung", 0, 2, 0},        // several options, one text column
    {kBase + 3, "Grundstücksfläche", 1, 3, 1},  // a range: from and to
    {kBase + 4, "Besonderheiten", 6, 1, 0},
};

void FieldType(Batch& b, const Field& f, int obj) {
  b.Insert("FLDART", {{"DSN", S(Key(kFldart, f.key))},
                      {"KÜRZEL", S(f.code)},
                      {"TYP", L(f.typ)},
                      {"SORTIERUNG", L(1000 + f.key)},
                      {"BEZEXTERN", S(f.code)},
                      {"Intervall", L(f.intervall)},
                      {"AKTIV", L(1)},
                      {"OBJ", L(obj)},
                      {"WEBSERVERSTATUS", L(f.status)},
                      {"Details", L(obj ? 0 : 1)}});
}

}  // namespace

void SiteListingData(Batch& b) {
  for (const Field& f : kFields) FieldType(b, f, 1);
  const char* options[][2] = {{"KELLER", "Keller"}, {"GARAGE", "Garage"}, {"KAMIN", "Kamin"}};
  for (int o = 0; o < 3; ++o)
    b.Insert("FLDARTOP", {{"DSN", S(Key(kFldartop, kBase + o))},
                          {"FLDART_DSN", S(Key(kFldart, kBase + 2))},
                          {"WERT", S(options[o][0])},
                          {"BEZEICHNUNG", S(options[o][1])}});

  // A unit of listing 1 with awkward texts everywhere; what it lacks comes from its parent.
  b.Insert("obj", {{"DSN", S(Key(kObj, kHostile))},
                   {"OBJ_DSN", S(Key(kObj, 1))},
                   {"KENNUNG", S("FB-2041-'Süd'")},
                   {"INTERN", S(std::string("intern \"geheim\"\r\n") + kAwkward)},
                   {"EART", kNull},
                   {"KOLLEGE_KENNUNG", S("K'1 $k \\")},
                   {"PROV_INT", S("3,57 % inkl. MwSt. 'brutto'")},
                   {"PROV_ANB", S(kAwkward)},
                   {"transfer", L(0)},
                   {"FArchiv", L(0)},
                   {"TOUCH", Date(2026, 11, 30, 12, 0)},
                   {"DATEI", S("fb\\fb41")},
                   {"TRACKING", L(0)},
                   {"AD_ANBIETER_DSN", S(Key(kAd, 2))},
                   {"TEXTOBJEKT", S(kAwkward)},
                   {"TEXTOBJEKT_LCID2057", S("Flat with \"view\" & 'balcony'")},
                   {"TEXTEXTRA1", S("{$objektart} {@kennung} 100 € \\n")},
                   {"TEXTEXTRA2", S("<script>alert('x')</script>")}});
  b.Insert("boersenobj", {{"DSN", S(Key(kBoersenObj, 5000 + kHostile))},
                          {"boersen_dsn", S(Key(kBoersen, 1))},
                          {"obj_dsn", S(Key(kObj, kHostile))},
                          {"kurz", L(1)},
                          {"lang", L(1)},
                          {"adresse_zeigen", kNull},
                          {"status", L(0)},
                          {"letzte_uebertragung", kNull},
                          {"TransLang_LCID1031", L(1)},
                          {"TransLang_LCID2057", L(1)}});

  int det = 9000;
  auto value = [&](int obj, int field, std::vector<std::pair<const char*, Variant>> cols) {
    cols.insert(cols.begin(), {{"DSN", S(Key(kObjDet, ++det))},
                               {"Obj_Dsn", S(Key(kObj, obj))},
                               {"Fldart_Dsn", S(Key(kFldart, field))}});
    b.Insert("ObjDet", cols);
  };
  for (int n : {4, 7, 9, kHostile}) value(n, kBase + 1, {{"EINGABE", S(n == 7 ? "ja" : "Ja")}});
  for (int n = 4; n <= 12; ++n) {
    value(n, kBase + 2, {{"Fldartop_DSN", S(Key(kFldartop, kBase + n % 3))}});
    if (n % 2) value(n, kBase + 2, {{"Fldartop_DSN", S(Key(kFldartop, kBase + (n + 1) % 3))}});
  }
  for (int n = 6; n <= 10; n += 4)
    value(n, kBase + 3, {{"VON_NUM", D(400.5 + n)}, {"BIS_NUM", D(1200.25 * n)}});
  for (int o : {1, 2}) value(kHostile, kBase + 2, {{"Fldartop_DSN", S(Key(kFldartop, kBase + o))}});
  value(kHostile, kBase + 3, {{"VON_NUM", D(250)}, {"BIS_NUM", kNull}});
  value(kHostile, kBase + 4, {{"EINGABE", S(kAwkward)}});
  value(5, kBase + 4, {{"EINGABE", S("Denkmalschutz; Aufzug")}});

  // A request with an awkward headline, no kind and a postcode range.
  b.Insert("ANF", {{"DSN", S(Key(kAnf, kBase))},
                   {"KENNUNG", S(" S-777 ")},
                   {"EART", kNull},
                   {"TRANSFER", L(1)},
                   {"FArchiv", L(0)},
                   {"PROSPECTHEADLINE", S(kAwkward)},
                   {"PROSPECTHEADLINE_LCID2057", kNull}});
  b.Insert("ANFDET", {{"DSN", S(Key(kAnfDet, kBase))},
                      {"anf_dsn", S(Key(kAnf, kBase))},
                      {"fldart_dsn", S(Key(kFldart, kFldOrt))},
                      {"eingabe", S("50667 bis  50999   Köln")}});

  // Members: one valid, one whose membership ended, one with awkward name and e-mail.
  const Field membership[] = {{kBase + 10, "Mitgliedschaft aktiv", 6, 0, 0},
                              {kBase + 11, "Mitgliedschaft bis", 5, 0, 0}};
  for (const Field& f : membership) FieldType(b, f, 0);
  struct Member {
    const char* name;
    const char* salutation;
    const char* email;
    const char* until;
  };
  const Member members[] = {
      {"Mara Mitglied", "Frau", "mara@example.invalid", "31.12.2099"},
      {"Egon Ehemalig", "Herr", "egon@example.invalid", "01.01.2020"},
      {"O'Brien'), ('x','y','z','Y\"); $x \\", "Mr", "o'brien@example.invalid'--", "31.12.2099"},
  };
  int m = 0;
  for (const Member& mb : members) {
    ++m;
    b.Insert("AD", {{"DSN", S(Key(kAd, kBase + m))},
                    {"Name", S(mb.name)},
                    {"idx_name", S(mb.name)},
                    {"anredekurz", S(mb.salutation)},
                    {"EMAIL", S(mb.email)}});
    b.Insert("details", {{"DSN", S(Key(kDetails, kBase + m))}, {"ad_dsn", S(Key(kAd, kBase + m))}});
    b.Insert("detailsdet", {{"DSN", S(Key(kDetailsDet, kBase + 2 * m))},
                            {"details_Dsn", S(Key(kDetails, kBase + m))},
                            {"Fldart_Dsn", S(Key(kFldart, kBase + 10))},
                            {"EINGABE", S("Ja")}});
    b.Insert("detailsdet", {{"DSN", S(Key(kDetailsDet, kBase + 2 * m + 1))},
                            {"details_Dsn", S(Key(kDetails, kBase + m))},
                            {"Fldart_Dsn", S(Key(kFldart, kBase + 11))},
                            {"EINGABE", S(mb.until)}});
  }
}

}  // namespace fern::host::demo_data
