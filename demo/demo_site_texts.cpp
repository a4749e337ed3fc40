// The site's teasers and key facts: the field types the default teaser templates name that the
// host's base data lacks, and key-facts rows of every kind (ranges, rent per square metre, links,
// hostile text). None of them travels as a column of its own (web status 0), so the site's
// tables keep their shape.
#include "demo/demo_data.h"

namespace fern::host::demo_data {

namespace {

struct TextField {
  int n;
  const char* code;
  int typ;
  const char* bezextern;
  const char* bezkurz;
  int kurzexpose;
  int expose;
  int intervall;
};
enum : int { fArt = 220, fNutz, fMiete, fEinheit, fQm, fNk, fWeb, fHinweis };
const TextField kTextFields[] = {
    {fArt, "Objektart", 0, "Objektart", "", 0, 0, 0},
    {fNutz, "Nutzfläche", 2, "Nutzfläche:", "Nfl.", 1, 1, 1},
    {fMiete, "Miete", 1, "Miete:", "Miete", 1, 1, 1},
    {fEinheit, "PreisEinheit", 6, "", "", 0, 0, 0},
    {fQm, "QMMIETE", 1, "Miete pro m²:", "", 0, 1, 0},
    {fNk, "NEBENKOSTEN", 1, "Nebenkosten:", "", 0, 1, 0},
    {fWeb, "Webseite", 3, "Webseite:", "", 0, 1, 0},
    {fHinweis, "Hinweis", 6, "Hinweis:", "", 0, 1, 0},
};
const char* kArten[] = {"Etagenwohnung", "Dachgeschoss & Maisonette", "Büro/Praxis"};

const char* kHostile = "pro Monat {${x}} $x 'a' \"b\" \\c € <b>&amp;</b>\r\nZeile 2 äöüß";

}  // namespace

void SiteTextData(Batch& b) {
  int sort = 900;
  for (const TextField& f : kTextFields)
    b.Insert("FLDART", {{"DSN", S(Key(kFldart, f.n))},
                        {"KÜRZEL", S(f.code)},
                        {"INTERN", S("")},
                        {"TYP", L(f.typ)},
                        {"SORTIERUNG", L(sort += 10)},
                        {"BLNKURZEXPOSE", L(f.kurzexpose)},
                        {"EXPOSE", L(f.expose)},
                        {"BEZKURZEXPOSE", S(f.bezkurz)},
                        {"BEZEXTERN", S(f.bezextern)},
                        {"Intervall", L(f.intervall)},
                        {"AKTIV", L(1)},
                        {"OBJ", L(1)},
                        {"WEBSERVERSTATUS", L(0)},
                        {"Details", L(0)}});
  for (int i = 0; i < 3; ++i)
    b.Insert("FLDARTOP", {{"DSN", S(Key(kFldartop, 220 + i))},
                          {"FLDART_DSN", S(Key(kFldart, fArt))},
                          {"WERT", S(std::string("ART") + std::to_string(i))},
                          {"BEZEICHNUNG", S(kArten[i])}});

  const double kNone = 1E+100;
  int det = 20000;
  auto value = [&](int n, int field, std::vector<std::pair<const char*, Variant>> cols) {
    cols.insert(cols.begin(), {{"DSN", S(Key(kObjDet, ++det))},
                               {"Obj_Dsn", S(Key(kObj, n))},
                               {"Fldart_Dsn", S(Key(kFldart, field))}});
    b.Insert("ObjDet", cols);
  };
  auto range = [](double von, double bis) {
    return std::vector<std::pair<const char*, Variant>>{{"VON_NUM", D(von)}, {"BIS_NUM", D(bis)}};
  };
  // Listings 1 to 3 and their units keep the field set that the listing service's own checks
  // count on.
  for (int n = 4; n < kFirstChild; ++n) {
    value(n, fArt,
          {{"Fldartop_DSN", S(Key(kFldartop, 220 + n % 3))}, {"EINGABE", S(kArten[n % 3])}});
    value(n, fEinheit,
          {{"EINGABE", S(n % 5 == 0 ? kHostile
                         : Rent(n)  ? "pro Monat"
                                    : "einmalig")}});
    const char* area[] = {"von 50 bis 80", "ab 120", "95,5"};
    value(n, fNutz, {{"EINGABE", S(area[n % 3])}});
    if (Rent(n)) {
      // Every kind of range: none given, both, an upper and a lower bound only.
      const double bounds[][2] = {{kNone, kNone}, {500, 800}, {0, 1500.0 + n * 10}, {900, kNone}};
      value(n, fMiete, range(bounds[n % 4][0], bounds[n % 4][1]));
      value(n, fQm, range(12.5, 12.5));
      value(n, fNk, range(2.75, 2.75));
    }
    if (n % 2)
      value(n, fWeb,
            {{"EINGABE", S("http://fernblick.example/objekt/FB-" + std::to_string(1000 + n) +
                           "#Exposé online")}});
    else if (n % 6 == 0)
      value(n, fWeb, {{"EINGABE", S("https://fernblick.example/sicher")}});
    if (n % 7 == 0)
      value(n, fHinweis,
            {{"EINGABE",
              S(std::string("Nur für \"Kenner\" & 'Liebhaber' <i>kursiv</i> ") + kHostile)}});
  }

  // The requests' teaser: kind, rent up to a bound, area range and the price unit.
  int anfDet = 200;
  auto request = [&](int a, int field, std::vector<std::pair<const char*, Variant>> cols) {
    cols.insert(cols.begin(), {{"DSN", S(Key(kAnfDet, ++anfDet))},
                               {"anf_dsn", S(Key(kAnf, a))},
                               {"fldart_dsn", S(Key(kFldart, field))}});
    b.Insert("ANFDET", cols);
  };
  for (int a = 1; a <= 2; ++a) {
    request(a, fArt, {{"fldartop_dsn", S(Key(kFldartop, 219 + a))}});
    request(a, fMiete, {{"von_num", D(0)}, {"bis_num", D(a == 1 ? 900 : 1800)}});
    request(a, 2,
            {{"von_num", D(60)},
             {"bis_num", D(a == 1 ? 90 : kNone)},
             {"eingabe", S(a == 1 ? "60 bis 90" : "ab 60")}});  // Wohnfläche
    request(a, fEinheit, {{"eingabe", S(a == 1 ? "warm" : kHostile)}});
  }
}

}  // namespace fern::host::demo_data
