#include "demo/demo_host.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <vector>

#include "demo/demo_data.h"
#include "demo/demo_openimmo.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "host/host_database.h"
#include "platform/host_error.h"
#include "platform/text_file.h"
#include "platform/vb.h"

namespace fern::host {
namespace {

using namespace demo_data;

// --- the agency's data --------------------------------------------------------------------------

struct Town {
  const char* plz;
  const char* name;
  const char* street;
};
const Town kTowns[] = {
    {"10115", "Berlin", "Invalidenstraße"},     {"20095", "Hamburg", "Mönckebergstraße"},
    {"80331", "München", "Sendlinger Straße"},  {"50667", "Köln", "Hohe Straße"},
    {"04109", "Leipzig", "Grimmaische Straße"}, {"79098", "Freiburg", "Kaiser-Joseph-Straße"},
};

struct Kind {
  const char* wert;     // FLDARTOP.WERT
  const char* caption;  // German
  const char* english;
  double area;
  int rooms;
};
const Kind kKinds[] = {
    {"WOHNUNG", "Wohnung", "Flat", 68, 3},         {"HAUS", "Haus", "House", 142, 5},
    {"GRUNDSTUECK", "Grundstück", "Plot", 0, 0},   {"BUERO", "Büro", "Office", 210, 6},
    {"EINZELHANDEL", "Ladenlokal", "Shop", 95, 2},
};

const char* kHeating[] = {"Zentralheizung", "Fernwärme", "Etagenheizung"};

struct FieldType {
  const char* code;  // KÜRZEL
  const char* intern;
  int typ;
  const char* bezextern;
  const char* bezkurz;
  int expose;
  int kurzexpose;
  int intervall;
};
enum Field {
  fObjektart,
  fWohnflaeche,
  fZimmer,
  fKaufpreis,
  fKaltmiete,
  fBaujahr,
  fHeadline,
  fStrasse,
  fOrt,
  fBalkon,
  fHeizung,
  fAnsprechpartner,
  fProjekt,
  fCount
};
const FieldType kFields[fCount] = {
    {"RDM OBJEKTART", "", 0, "Objektart", "Art", 1, 1, 0},
    {"Wohnfläche", "", 2, "Wohnfläche", "Wfl.", 1, 1, 0},
    {"Zimmer", "", 2, "Zimmer", "Zi.", 1, 1, 0},
    {"Kaufpreis", "", 1, "Kaufpreis", "KP", 1, 1, 0},
    {"Kaltmiete", "", 1, "Kaltmiete", "KM", 1, 1, 0},
    {"Baujahr", "", 2, "Baujahr", "Bj.", 1, 0, 0},
    {"Überschrift", "HeadLine", 3, "Überschrift", "", 0, 0, 0},
    {"Straße", "STRAßE", 6, "Straße", "", 0, 0, 0},
    {"Land_PLZ_Ort", "Land_PLZ_Ort", 6, "Ort", "", 0, 0, 0},
    {"Balkon", "", 4, "Balkon", "Balkon", 1, 0, 0},
    {"Heizungsart", "", 0, "Heizungsart", "Heizung", 1, 0, 0},
    {"Ansprechpartner", "", 7, "Ansprechpartner", "", 0, 0, 0},
    {"Projekt", "", 10, "Projekt", "", 0, 0, 0},
};

struct Portal {
  const char* name;
  int typ;
  int ftpOrHttp;
  int zipping;
  const char* host;
  const char* login;
  const char* password;
  const char* mapping;
  const char* notiz;
};
const Portal kPortals[] = {
    {"Eigene Homepage", 6, 1, 0, "127.0.0.1", "web", "web-demo", "", "Die Web-Site des Büros"},
    // "DUMMY" counts as sent without a network; the HTTP portal posts to run-demo's server.
    {"ImmoPortal Demo", 5, 1, 1, "DUMMY", "immo", "immo-demo", "immoportal.xml",
     "OpenImmo per FTP"},
    {"Wohnen HTTP Demo", 5, 0, 0, "http://127.0.0.1:18765/openimmo", "wohnen", "wohnen-demo",
     "immoportal.xml", "OpenImmo per HTTP"},
    {"IS24 XML Demo", 11, 1, 1, "127.0.0.1", "is24", "is24-demo", "is24.xml",
     "über den IS24-Konverter"},
    {"Remax Demo", 10, 1, 0, "127.0.0.1", "remax", "remax-demo", "", "nicht umgesetzt"},
    {"ImmobilienScout24", 113, 0, 0, "", "", "", "", "REST über den Host-Dienst"},
};

const Kind& KindOf(int n) { return kKinds[n >= kFirstChild ? 0 : n % 5]; }
const Town& TownOf(int n) { return kTowns[(ParentOf(n) ? ParentOf(n) : n) % 6]; }

// --- pictures
// -------------------------------------------------------------------------------------

// A house under a sky, coloured per listing; `i` varies the view.
QImage DrawPicture(int n, int i, bool portrait) {
  int w = portrait ? 480 : 640, h = portrait ? 640 : 480;
  QImage img(w, h, QImage::Format_RGB32);
  QPainter p(&img);
  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, QColor::fromHsv((n * 37) % 360, 90, 250));
  sky.setColorAt(1, QColor::fromHsv((n * 37 + 120) % 360, 120, 160));
  p.fillRect(img.rect(), sky);
  p.fillRect(0, h * 3 / 4, w, h / 4, QColor(70, 130 + (i * 30) % 100, 60));
  int bw = w / 2, bh = h / 3, bx = w / 4 + (i - 1) * w / 10, by = h * 3 / 4 - bh;
  p.fillRect(bx, by, bw, bh, QColor::fromHsv((n * 53) % 360, 60, 230));
  QPolygon roof;
  roof << QPoint(bx - 20, by) << QPoint(bx + bw / 2, by - bh / 2) << QPoint(bx + bw + 20, by);
  p.setBrush(QColor(150, 40 + n * 5 % 80, 30));
  p.setPen(Qt::NoPen);
  p.drawPolygon(roof);
  p.fillRect(bx + bw / 2 - 20, by + bh - 60, 40, 60, QColor(90, 60, 30));
  for (int k = 0; k < 2 + i; ++k)
    p.fillRect(bx + 15 + k * (bw - 30) / (2 + i), by + 20, 28, 28, QColor(200, 230, 255));
  return img;
}

QByteArray Jpeg(const QImage& img) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPEG", 85);
  return bytes;
}

// --- files ------------------------------------------------------------------------------------

void Text(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  WriteTextFile(file, text);
}

void PrepareFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (std::filesystem::exists(folder, ec)) {
    if (!std::filesystem::is_directory(folder, ec))
      throw HostError(err::kInvalidValue, "Kein Ordner: " + folder.string(), "BuildDemoHost");
    bool empty =
        std::filesystem::directory_iterator(folder, ec) == std::filesystem::directory_iterator();
    if (!empty) {
      bool demo = false;
      try {
        demo = ReadBytes(folder / "KAVANTOR.EXE") == kDemoMarker;
      } catch (const HostError&) {
      }
      if (!demo)
        throw HostError(err::kInvalidValue,
                        "Ordner ist nicht leer und kein Demo-Host, er wird nicht überschrieben: " +
                            folder.string(),
                        "BuildDemoHost");
      CloseDatabases();
      std::filesystem::remove_all(folder, ec);
      if (ec)
        throw HostError(err::kPathFileAccess,
                        "Alter Demo-Host kann nicht entfernt werden: " + folder.string() + " (" +
                            ec.message() + ")",
                        "BuildDemoHost");
    }
  }
  std::filesystem::create_directories(folder, ec);
  if (ec)
    throw HostError(err::kPathFileAccess, "Ordner kann nicht angelegt werden: " + folder.string(),
                    "BuildDemoHost");
}

void WriteHostFiles(const std::filesystem::path& f) {
  WriteBytes(f / "KAVANTOR.EXE", kDemoMarker);
  Text(f / "Kavantor.INI",
       "[OPTIONS]\nVERERBTE_OBJEKTBILDER=1\nVERERBTE_FELDARTENPLATZHALTER=1\n\n"
       "[SIGNATUR]\nALLE=1\n\n[IS24Transfer]\nDebugLog=0\nUseNewScout24Transfer=0\n");
  Text(f / "sql" / "sql.ini",
       "; database of the demo host\n[SQLITE]\nDATABASE=DAT\\kavantor.db\n\n"
       "[OPTIONS]\nCONTENTLANGUAGES=1031,2057\n\n[USER]\nApiSuperAD=0\n");
  Text(f / "profiles" / "Standard" / "gui.ini", "[GUI]\nSkin=Standard\nSprache=1031\n");
  std::string dic =
      "# English texts of the demo host\n[Strings]\nAbbrechen\tCancel\nSchließen\tClose\n"
      "[Content]\n";
  for (const Kind& k : kKinds) dic += std::string(k.caption) + "\t" + k.english + "\n";
  dic +=
      "[FLDART]\nWohnfläche\tLiving area\tLiving area\tLiv. area\nZimmer\tRooms\tRooms\tRooms\n"
      "Kaufpreis\tPrice\tPurchase price\tPrice\nKaltmiete\tRent\tBasic rent\tRent\n"
      "[FLDARTOP]\n";
  for (const Kind& k : kKinds)
    dic += std::string("RDM OBJEKTART\t") + k.caption + "\t" + k.english + "\n";
  Text(f / "System" / "Language" / "2057.dic", dic);
  for (const char* dir : {"DAT", "System/Services", "System/XML", "pic.obj/fb"})
    std::filesystem::create_directories(f / dir);
  // OpenImmo: the schema unversioned and for the portals' version 1.2.7, and the mappings.
  auto raw = [&](const char* name, const char* text) {
    std::ofstream(f / "System" / "XML" / name, std::ios::binary | std::ios::trunc) << text;
  };
  raw("openimmo.xsd", kDemoOpenImmoXsd);
  raw("openimmo_V1.2.7.xsd", kDemoOpenImmoXsd);
  raw("immoportal.xml", kDemoOpenImmoMapping);
  raw("is24.xml", kDemoOpenImmoMapping);
}

// --- database rows ------------------------------------------------------------------------------

void CompanyAndUsers(Batch& b) {
  b.Insert("version", {{"version", L(520)}});
  b.Insert("std", {{"DSN", S(Key(kStd, 1))},
                   {"FIRMEN_NR", L(1)},
                   {"LAND", S("DEU")},
                   {"WÄHRUNG", S("€")},
                   {"MMDateiKurz", S("")},
                   {"MMDateiLang", S("")},
                   {"COPYRIGHT", S("© Fernblick Immobilien")},
                   {"Titel", S("Dr.\r\nProf.")},
                   {"immoxml_anid", S("AKVA-DEMO-0001")},
                   {"FIRMA1NAME", S("Fernblick Immobilien GmbH")},
                   {"FIRMA1TELEFON", S("030 1234567")},
                   {"FIRMA1EMAIL", S("info@fernblick.example")},
                   {"FIRMA1STRASSE", S("Invalidenstraße 1")},
                   {"FIRMA1PLZ", S("10115")},
                   {"FIRMA1ORT", S("Berlin")},
                   {"FIRMA1INTERNET", S("www.fernblick.example")},
                   {"WSHOME", S("Willkommen bei Fernblick Immobilien")},
                   {"WSHOME_LCID2057", S("Welcome to Fernblick Real Estate")},
                   {"WSTEXTIMPRESSUM", S("Fernblick Immobilien GmbH, Berlin")}});
  b.Insert("AD", {{"DSN", S(Key(kAd, 1))},
                  {"Name", S("Dana Demo")},
                  {"idx_name", S("Demo")},
                  {"anredekurz", S("Frau")},
                  {"EMAIL", S("demo@fernblick.example")}});
  b.Insert("AD", {{"DSN", S(Key(kAd, 2))},
                  {"Name", S("Otto Eigentümer")},
                  {"idx_name", S("Eigentümer")},
                  {"anredekurz", S("Herr")},
                  {"STRASSE", S("Hohe Straße 5")},
                  {"LAND_PLZ", S("D-50667")},
                  {"ORT", S("Köln")}});
  b.Insert("AD", {{"DSN", S(Key(kAd, 3))},
                  {"Name", S("Ina Interessentin")},
                  {"idx_name", S("Interessentin")},
                  {"EMAIL", S("ina@example.invalid")},
                  {"KENNUNG", S("start123")}});
  b.Insert("ben", {{"DSN", S(Key(kBen, 1))},
                   {"login_name", S(kDemoUser)},
                   {"aktiv", L(1)},
                   {"Chef", L(1)},
                   {"PROFILE", S("Standard")},
                   {"Name", S("Dana Demo")},
                   {"AD_DSN", S(Key(kAd, 1))},
                   {"TelefonBuero", S("030 1234567-10")},
                   {"TelefonFunk", S("0170 1234567")},
                   {"Fax", S("030 1234567-99")},
                   {"Email", S("demo@fernblick.example")},
                   {"PASSWORT", S(Encipher("demo", kUserPasswordKey))}});
  b.Insert("ben", {{"DSN", S(Key(kBen, 2))},
                   {"login_name", S("kvAdmin")},
                   {"aktiv", L(0)},
                   {"Chef", L(0)},
                   {"PROFILE", kNull},
                   {"Name", S("Verwaltung")},
                   {"PASSWORT", S("C")}});
  b.Insert("projekte", {{"DSN", S(Key(kProjekt, 1))}, {"BEZEICHNUNG", S("Neubau Fernblick")}});
  b.Insert("details", {{"DSN", S(Key(kDetails, 1))}, {"ad_dsn", S(Key(kAd, 3))}});
  // Dana Demo's own record: the position the OpenImmo contact person shows.
  b.Insert("FLDART", {{"DSN", S(Key(kFldart, 50))},
                      {"KÜRZEL", S("Position")},
                      {"TYP", L(6)},
                      {"SORTIERUNG", L(500)},
                      {"BEZEXTERN", S("Position")},
                      {"AKTIV", L(1)},
                      {"OBJ", L(0)},
                      {"WEBSERVERSTATUS", L(0)},
                      {"Details", L(1)}});
  b.Insert("details", {{"DSN", S(Key(kDetails, 2))}, {"ad_dsn", S(Key(kAd, 1))}});
  b.Insert("detailsdet", {{"DSN", S(Key(kDetailsDet, 2))},
                          {"details_Dsn", S(Key(kDetails, 2))},
                          {"Fldart_Dsn", S(Key(kFldart, 50))},
                          {"EINGABE", S("Vertrieb Berlin")}});
}

void FieldTypes(Batch& b) {
  for (int f = 0; f < fCount; ++f) {
    const FieldType& t = kFields[f];
    b.Insert("FLDART", {{"DSN", S(Key(kFldart, f + 1))},
                        {"KÜRZEL", S(t.code)},
                        {"INTERN", S(t.intern)},
                        {"TYP", L(t.typ)},
                        {"SORTIERUNG", L(10 * (f + 1))},
                        {"BLNKURZEXPOSE", L(t.kurzexpose)},
                        {"EXPOSE", L(t.expose)},
                        {"BEZKURZEXPOSE", S(t.bezkurz)},
                        {"BEZEXTERN", S(t.bezextern)},
                        {"Intervall", L(t.intervall)},
                        {"AKTIV", L(1)},
                        {"OBJ", L(1)},
                        {"WEBSERVERSTATUS", L(t.expose ? 3 : 1)},
                        {"Details", L(0)}});
  }
  int op = 0;
  for (const Kind& k : kKinds)
    b.Insert("FLDARTOP", {{"DSN", S(Key(kFldartop, ++op))},
                          {"FLDART_DSN", S(Key(kFldart, fObjektart + 1))},
                          {"WERT", S(k.wert)},
                          {"BEZEICHNUNG", S(k.caption)}});
  for (const char* h : kHeating)
    b.Insert("FLDARTOP", {{"DSN", S(Key(kFldartop, ++op))},
                          {"FLDART_DSN", S(Key(kFldart, fHeizung + 1))},
                          {"WERT", S(cUtil::Replace_GermSonderzeichen(h))},
                          {"BEZEICHNUNG", S(h)}});
}

// The field values of listing n; returns how many rows it added.
int ListingValues(Batch& b, int n, int& det) {
  const Kind& kind = KindOf(n);
  const Town& town = TownOf(n);
  int kindIndex = static_cast<int>(&kind - kKinds);
  const std::string obj = Key(kObj, n);
  int before = b.rows();
  auto insert = [&](Field f, std::vector<std::pair<const char*, Variant>> cols) {
    cols.insert(cols.begin(), {{"DSN", S(Key(kObjDet, ++det))},
                               {"Obj_Dsn", S(obj)},
                               {"Fldart_Dsn", S(Key(kFldart, f + 1))}});
    b.Insert("ObjDet", cols);
  };
  // A number field as the host keeps it: one value in both bounds and their text forms; a plain
  // number (type 2) also shows as its entered text.
  auto number = [&](Field f, double value) {
    const std::string text = vb::NumberToText(value);
    std::vector<std::pair<const char*, Variant>> cols = {
        {"VON_NUM", D(value)}, {"BIS_NUM", D(value)}, {"VON_STR", S(text)}, {"BIS_STR", S(text)}};
    if (kFields[f].typ == 2) cols.push_back({"EINGABE", S(text)});
    insert(f, cols);
  };
  double area = kind.area ? kind.area + (n % 7) * 9 : 0;
  insert(fObjektart,
         {{"Fldartop_DSN", S(Key(kFldartop, kindIndex + 1))}, {"EINGABE", S(kind.caption)}});
  if (area > 0) {
    number(fWohnflaeche, area);
    number(fZimmer, kind.rooms + n % 2);
    number(fBaujahr, 1960 + (n * 7) % 60);
    number(fBalkon, n % 2);
    insert(fHeizung,
           {{"Fldartop_DSN", S(Key(kFldartop, 6 + n % 3))}, {"EINGABE", S(kHeating[n % 3])}});
  }
  if (Rent(n))
    number(fKaltmiete, std::max(area, 40.0) * 12.5);
  else
    number(fKaufpreis, std::max(area, 400.0) * 3150 + n * 1000);
  std::string head = std::string(kind.caption) + " in " + town.name;
  std::string headEn = std::string(kind.english) + " in " + town.name;
  insert(fHeadline,
         {{"EINGABE", S(head)}, {"EINGABE_LCID1031", S(head)}, {"EINGABE_LCID2057", S(headEn)}});
  insert(fStrasse, {{"EINGABE", S(std::string(town.street) + " " + std::to_string(n))}});
  insert(fOrt, {{"EINGABE", S(std::string("DEU-") + town.plz + " " + town.name)}});
  insert(fAnsprechpartner, {{"LINK_DSN", S(Key(kAd, 1))}});
  if (ParentOf(n)) insert(fProjekt, {{"LINK_DSN", S(Key(kProjekt, 1))}});
  return b.rows() - before;
}

void Listings(Batch& b, DemoHostSummary& sum) {
  int det = 0;
  for (int n = 1; n <= kListings; ++n) {
    const Kind& kind = KindOf(n);
    const Town& town = TownOf(n);
    std::string text = std::string("Schöne ") + kind.caption + " in " + town.name + ", nahe der " +
                       town.street + ".";
    std::string textEn = std::string("Lovely ") + kind.english + " in " + town.name + ".";
    b.Insert("obj", {{"DSN", S(Key(kObj, n))},
                     {"OBJ_DSN", ParentOf(n) ? S(Key(kObj, ParentOf(n))) : kNull},
                     {"KENNUNG", S("FB-" + std::to_string(1000 + n))},
                     {"INTERN", S("intern " + std::to_string(n))},
                     {"EART", L(Rent(n) ? 1 : 0)},
                     {"PROV_INT", S(Rent(n) ? "2 Monatsmieten" : "3,57 %")},
                     {"PROVINFO", S("Provision für Käufer")},
                     {"PROVINFO_LCID2057", S("Buyer's commission")},
                     {"transfer", L(0)},
                     {"FArchiv", L(n == 24 ? 2 : 0)},
                     {"abteilung", L(n % 2)},
                     {"TOUCH", Date(2026, 11, 1 + n % 28, 9, n)},
                     {"DATEI", S("fb\\fb" + std::to_string(n))},
                     {"CoopObj", L(0)},
                     {"TRACKING", L(n <= 3 ? 1 : 0)},
                     {"AD_ANBIETER_DSN", S(Key(kAd, 2))},
                     {"TEXTOBJEKT", S(text)},
                     {"TEXTOBJEKT_LCID1031", S(text)},
                     {"TEXTOBJEKT_LCID2057", S(textEn)},
                     {"TEXTLAGE", S(std::string("Zentrale Lage in ") + town.name)},
                     {"TEXTLAGE_LCID2057", S(std::string("Central location in ") + town.name)},
                     {"TEXTAUSSTATTUNG", S("Einbauküche, Parkett, Keller")},
                     {"TEXTAUSSTATTUNG_LCID2057", S("Fitted kitchen, parquet, cellar")},
                     {"TEXTFREI", S("Besichtigung nach Vereinbarung.")},
                     {"TEXTFREI_LCID2057", S("Viewing by appointment.")}});
    sum.fieldValues += ListingValues(b, n, det);
  }
  sum.listings = kListings;
}

void Portals(Batch& b, DemoHostSummary& sum) {
  int i = 0;
  for (const Portal& p : kPortals) {
    ++i;
    b.Insert("Boersen",
             {{"DSN", S(Key(kBoersen, i))},
              {"boersen_name", S(p.name)},
              {"boersentyp", L(p.typ)},
              {"teil_or_voll", L(0)},
              {"ftp_or_http", L(p.ftpOrHttp)},
              {"notiz", S(p.notiz)},
              {"strVersion", S("1.2.7")},
              {"LOGINNAME", S(p.login)},
              {"PASSWORD", S(*p.password ? Encipher(p.password, kPortalPasswordKey) : "")},
              {"dortige_kundennr", S("K-" + std::to_string(4700 + i))},
              {"zuordnungsdatei", S(p.mapping)},
              {"xmlns", L(1)},
              {"httpantwort", L(p.typ == 5 && p.ftpOrHttp == 0 ? 1 : 0)},
              {"zipping", L(p.zipping)},
              {"boersen_host", S(p.host)},
              {"lngMaxPicCount", L(0)},
              {"webdb_host", p.typ == 6 ? S("127.0.0.1") : kNull},
              {"webdb_database", p.typ == 6 ? S("fernblick") : kNull},
              {"webdb_user", p.typ == 6 ? S("fernblick") : kNull},
              {"webdb_password", p.typ == 6 ? S(Encipher("db-demo", kPortalPasswordKey)) : kNull}});
  }
  sum.portals = i;

  // Every listing goes to the web site and the first portals; later portals take fewer.
  int row = 0;
  for (int portal = 1; portal <= i; ++portal) {
    for (int n = 1; n <= kListings; ++n) {
      if (portal >= 3 && n % (portal - 1) != 0) continue;
      b.Insert("boersenobj", {{"DSN", S(Key(kBoersenObj, ++row))},
                              {"boersen_dsn", S(Key(kBoersen, portal))},
                              {"obj_dsn", S(Key(kObj, n))},
                              {"kurz", L(1)},
                              {"lang", L(n % 4 != 0)},
                              {"adresse_zeigen", L(n % 2)},
                              {"status", L(0)},
                              {"letzte_uebertragung", kNull},
                              {"TransLang_LCID1031", L(n % 3 != 0)},
                              {"TransLang_LCID2057", L(n % 3 == 0)}});
    }
  }
}

void Tracking(Batch& b, const QByteArray& contactPicture) {
  const char* kinds[] = {"Besichtigung", "Exposé versandt", "Telefonat"};
  for (int k = 0; k < 3; ++k)
    b.Insert("AKTIVITÄTENARTEN", {{"DSN", S(Key(kArt, k + 1))}, {"Name", S(kinds[k])}});
  int akt = 0;
  for (int n = 1; n <= 3; ++n) {
    for (int k = 0; k < 2; ++k) {
      ++akt;
      b.Insert("AKT", {{"DSN", S(Key(kAkt, akt))},
                       {"DATUM", Date(2026, 11, 10 + akt, 10 + k, 0)},
                       {"DATUM_BIS", Date(2026, 11, 10 + akt, 11 + k, 0)},
                       {"OBJ_DSN", S(Key(kObj, n))},
                       {"ART_DSN", S(Key(kArt, k + 1))},
                       {"BETREFF", S(std::string(kinds[k]) + " FB-" + std::to_string(1000 + n))},
                       {"NOTIZ", S("<p>Interessent <b>sehr</b> angetan</p>")},
                       {"KENNUNG", S("A-" + std::to_string(akt))},
                       {"OBJTRACKINGSTATUS", L(1 + akt % 5)}});
    }
  }
  b.Insert("AKTFILES", {{"DSN", S(Key(kAktFile, 1))},
                        {"AKT_DSN", S(Key(kAkt, 2))},
                        {"FILENAME", S("expose_fb1001.txt")},
                        {"HASATTACH", L(1)},
                        {"BLOB_DSN", S(Key(kBlob, 1))}});
  std::string hex;
  for (unsigned char c : std::string("Exposé FB-1001\r\n")) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", c);
    hex += buf;
  }
  std::string picHex = QByteArray(contactPicture).toHex().toUpper().toStdString();
  b.Insert("KVBLOB",
           {{"DSN", S(Key(kBlob, 1))}, {"KIND", S("FILE")}, {"FILENAME", S("expose_fb1001.txt")}});
  b.Insert("KVBLOB", {{"DSN", S(Key(kBlob, 2))},
                      {"OWNER_DSN", S(Key(kAd, 1))},
                      {"KIND", S("CONTACTPICTURE")},
                      {"FILENAME", S("dana.jpg")}});
  // Blob literals (X'..') are no text a literal helper makes; both are plain hex digits.
  b.Raw("UPDATE KVBLOB SET DATA = X'" + hex + "' WHERE DSN = '" + Key(kBlob, 1) + "'");
  b.Raw("UPDATE KVBLOB SET DATA = X'" + picHex + "' WHERE DSN = '" + Key(kBlob, 2) + "'");
}

// Pictures under pic.obj with their titles, and the online picture rows of the REST transfer.
int Pictures(Batch& b, const std::filesystem::path& folder) {
  const char* heads[] = {"Titelbild", "Grundriss", "Ansicht"};
  b.Insert("Placeholder", {{"DSN", S(Key(kPlaceholder, 1))},
                           {"Name", S("Titelbild")},
                           {"Sorting", L(1)},
                           {"Online", L(1)}});
  b.Insert("Placeholder", {{"DSN", S(Key(kPlaceholder, 2))},
                           {"Name", S("Grundriss")},
                           {"Sorting", L(2)},
                           {"Online", L(1)}});
  b.Insert("Placeholder", {{"DSN", S(Key(kPlaceholder, 3))},
                           {"Name", S("Ansicht")},
                           {"Sorting", L(3)},
                           {"Online", L(0)}});
  int count = 0, row = 0;
  for (int n = 1; n <= kListings; ++n) {
    std::string base = "fb" + std::to_string(n);
    std::string titles;
    for (int i = 0; i < kPicturesPerListing; ++i) {
      std::string name = base + "_" + std::to_string(i) + ".jpg";
      WriteBytes(folder / "pic.obj" / "fb" / name,
                 Jpeg(DrawPicture(n, i, n % 4 == 0)).toStdString());
      ++count;
      titles += std::string(heads[i]) + " FB-" + std::to_string(1000 + n) + "\n";
      b.Insert("EstatePicture", {{"DSN", S(Key(kPicture, ++row))},
                                 {"Headline", S(heads[i])},
                                 {"FileName", S("fb\\" + name)},
                                 {"PlaceholderDSN", S(Key(kPlaceholder, i + 1))},
                                 {"EstateDSN", S(Key(kObj, n))}});
    }
    if (n % 5 == 1) {  // some listings have their own online title picture
      WriteBytes(folder / "pic.obj" / "fb" / (base + "_online.jpg"),
                 Jpeg(DrawPicture(n, 1, false)).toStdString());
      ++count;
      titles += "Online=Online-Titelbild FB-" + std::to_string(1000 + n) + "\n";
    }
    Text(folder / "pic.obj" / "fb" / (base + ".txt"), titles);
  }
  return count;
}

void SettingsAndPreferences(Batch& b) {
  struct Setting {
    const char* section;
    const char* key;
    const char* value;
  };
  const Setting settings[] = {
      {"JPGFrame", "OnlineFrameVisible", "1"},     {"JPGFrame", "OnlineFrameWidth", "6"},
      {"JPGFrame", "OnlineFrameColor", "#1F4E79"}, {"JPGFrame", "OnlineEyecatcherVisible", "1"},
      {"JPGFrame", "OnlineEyecatcherText", "NEU"}, {"JPGFrame", "OnlineFrameNegList", "Remax Demo"},
      {"JPGFrame", "OnlineRamaNegList", ""},       {"WebServer", "SHOWMEMBERBUTTON", "1"},
      {"WebServer", "SHOWPLEASBUTTON", "0"},       {"WebServer", "SHOWPARTNERLINKS", "1"},
  };
  for (const Setting& s : settings)
    b.Insert("DBINI", {{"SECTION", S(s.section)},
                       {"KEYNAME", S(s.key)},
                       {"USER_DSN", S("")},
                       {"VALUE", S(s.value)}});
  const Setting prefs[] = {
      // Nothing answers on the discard port; make-demo-host --rest-port names the stand-in.
      {"STD", "RESTAPI.URL", "http://127.0.0.1:9/api"},
      {"STD", "RESTAPI.PUBLIC.URL", "http://127.0.0.1:8090/public"},
      {"STD", "RESTAPI.MOBILEWEBAPP.URL", "http://127.0.0.1:8090/mobile"},
      {"STD", "RESTAPI.BASE.URL", "/rest"},
      {"STD", "RESTAPI.PUBLIC.BASE.URL", "/rest/public"},
  };
  for (const Setting& p : prefs)
    b.Insert("PREFERENCES",
             {{"SCOPE", S(p.section)}, {"PREFKEY", S(p.key)}, {"VALUE", S(p.value)}});
  b.Insert("PREFERENCES",
           {{"SCOPE", S(Key(kBen, 1))}, {"PREFKEY", S("ALLOWED_USE_RESTAPI")}, {"VALUE", S("1")}});
}

void Requests(Batch& b) {
  for (int a = 1; a <= 2; ++a) {
    b.Insert("ANF",
             {{"DSN", S(Key(kAnf, a))},
              {"KENNUNG", S("S-" + std::to_string(500 + a))},
              {"EART", L(a - 1)},
              {"TRANSFER", L(1)},
              {"FArchiv", L(0)},
              {"PROSPECTHEADLINE", S(a == 1 ? "Suche Wohnung in Berlin" : "Suche Haus zur Miete")},
              {"PROSPECTHEADLINE_LCID2057",
               S(a == 1 ? "Looking for a flat in Berlin" : "Looking for a house to rent")}});
    b.Insert("ANFDET", {{"DSN", S(Key(kAnfDet, a))},
                        {"anf_dsn", S(Key(kAnf, a))},
                        {"fldart_dsn", S(Key(kFldart, fOrt + 1))},
                        {"eingabe", S(a == 1 ? "D-10115 Berlin" : "D-80331 München")}});
  }
  b.Insert("detailsdet", {{"DSN", S(Key(kDetailsDet, 1))},
                          {"details_Dsn", S(Key(kDetails, 1))},
                          {"Fldart_Dsn", S(Key(kFldart, fOrt + 1))},
                          {"EINGABE", S("D-10115 Berlin")}});
}

}  // namespace

DemoHostSummary BuildDemoHost(const std::filesystem::path& folderIn) {
  std::filesystem::path folder = std::filesystem::absolute(folderIn);
  PrepareFolder(folder);
  WriteHostFiles(folder);

  DemoHostSummary sum;
  sum.folder = folder;
  std::filesystem::path dbFile = folder / "DAT" / "kavantor.db";
  {
    auto conn = db::Connection::Create(dbFile.string());
    CreateHostSchema(*conn);
    Batch b;
    CompanyAndUsers(b);
    FieldTypes(b);
    Listings(b, sum);
    Portals(b, sum);
    Tracking(b, Jpeg(DrawPicture(0, 0, true).scaledToWidth(120)));
    sum.pictures = Pictures(b, folder);
    SettingsAndPreferences(b);
    Requests(b);
    SiteListingData(b);
    SiteTextData(b);
    SiteMediaData(b, folder);
    SiteTrackingData(b, folder);
    b.Run(*conn);
  }
  sum.connect = MakeConnectString(dbFile.string());
  return sum;
}

int AddDemoUploadPortals(const std::filesystem::path& folderIn, const DemoUploadServers& servers) {
  const std::filesystem::path folder = std::filesystem::absolute(folderIn);
  struct Upload {
    const char* name;
    std::string host, login, password;
  };
  std::vector<Upload> uploads;
  const std::string loopback = "127.0.0.1:";
  if (servers.ftpPort > 0)
    uploads.push_back({"ImmoPortal FTP Demo", loopback + std::to_string(servers.ftpPort) + "/in",
                       "immo", "immo-demo"});
  if (servers.sftpPort > 0)
    uploads.push_back({"ImmoPortal SFTP Demo",
                       "sftp://" + loopback + std::to_string(servers.sftpPort) + "/upload",
                       servers.sftpUser, ""});
  if (servers.ftpsPort > 0)
    uploads.push_back({"ImmoPortal FTPS Demo",
                       "ftps://" + loopback + std::to_string(servers.ftpsPort) + "/in", "immo",
                       "immo-demo"});
  // After the portals BuildDemoHost made, so their keys and the tests' numbering stay.
  const int first = static_cast<int>(std::size(kPortals)) + 1;
  int boersenObj = 10000;
  Batch b;
  for (size_t u = 0; u < uploads.size(); ++u) {
    const Upload& p = uploads[u];
    const int portal = first + static_cast<int>(u);
    b.Insert("Boersen",
             {{"DSN", S(Key(kBoersen, portal))},
              {"boersen_name", S(p.name)},
              {"boersentyp", L(5)},
              {"teil_or_voll", L(0)},
              {"ftp_or_http", L(1)},
              {"notiz", S("OpenImmo per Upload")},
              {"strVersion", S("1.2.7")},
              {"LOGINNAME", S(p.login)},
              {"PASSWORD", S(p.password.empty() ? "" : Encipher(p.password, kPortalPasswordKey))},
              {"dortige_kundennr", S("K-" + std::to_string(4700 + portal))},
              {"zuordnungsdatei", S("immoportal.xml")},
              {"xmlns", L(1)},
              {"httpantwort", L(0)},
              {"zipping", L(1)},
              {"boersen_host", S(p.host)},
              {"lngMaxPicCount", L(0)}});
    for (int n = 1; n <= kListings; n += 4)
      b.Insert("boersenobj", {{"DSN", S(Key(kBoersenObj, ++boersenObj))},
                              {"boersen_dsn", S(Key(kBoersen, portal))},
                              {"obj_dsn", S(Key(kObj, n))},
                              {"kurz", L(1)},
                              {"lang", L(1)},
                              {"adresse_zeigen", L(1)},
                              {"status", L(0)},
                              {"letzte_uebertragung", kNull},
                              {"TransLang_LCID1031", L(1)},
                              {"TransLang_LCID2057", L(0)}});
  }
  if (!uploads.empty()) {
    auto conn = db::Connection::Open((folder / "DAT" / "kavantor.db").string());
    b.Run(*conn);
  }
  if (servers.sftpPort > 0) {
    const std::filesystem::path ini = folder / "sftp.ini";
    const std::string section = loopback + std::to_string(servers.sftpPort);
    std::string text = "; SFTP servers: host key fingerprint, key login, TLS switch\n[" + section +
                       "]\nprivateKeyfile=" + servers.sftpKey.string() + "\n";
    Text(ini, text);
  }
  return static_cast<int>(uploads.size());
}

// --- the REST transfer's service ---------------------------------------------------------

void SetDemoRestService(const std::filesystem::path& folder, int port) {
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/api";
  Batch b;
  b.Raw("UPDATE PREFERENCES SET VALUE = " + Literal(S(url)) +
        " WHERE SCOPE = 'STD' AND PREFKEY = 'RESTAPI.URL'");
  auto conn = db::Connection::Open((folder / "DAT" / "kavantor.db").string());
  b.Run(*conn);
}

}  // namespace fern::host
