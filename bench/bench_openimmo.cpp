// One collective OpenImmo document of many listings with 100 mapped values each, read from the
// host database through the listing-data service, built, cleaned, saved, validated against the demo
// schema and marked sent ("DUMMY" host), through the exporter's portal document step. Listings per
// second must not fall as the document grows, and the peak memory (peak_rss_MB, the whole process)
// must stay near one document tree: the saved file is read back only after the built tree is gone,
// and files are streamed, never held as one text beside their tree (4,000 listings, each with 50
// distances carrying their kind: at most 330 MB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "core/cFernDispatcher.h"
#include "core/command_line.h"
#include "core/host_session.h"
#include "demo/demo_host.h"
#include "host/cDal.h"
#include "host/host_database.h"
#include "openimmo/cImmoXmlV2.h"
#include "platform/ini_file.h"

namespace {

using namespace fern;
namespace fs = std::filesystem;

constexpr const char* kPortal = "{BE000001-0000-4000-8000-000000000001}";

// `count` listings at the bench portal, each with the same 100 field values, in the host
// database, so the run reads them through the listing-data service as a real one does.
void SeedListings(int count) {
  auto exec = [](const std::string& sql) {
    Session().g_oDal->ExecQuery(Session().g_strConnect, sql);
  };
  const std::string numbers =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(count) + ") ";
  const std::string fields =
      "WITH RECURSIVE f(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM f WHERE i < 100) ";
  // F1 is an option field (value "W") that selects the use, the marketing and the kind.
  exec("INSERT INTO FLDART (DSN, KÜRZEL, TYP, SORTIERUNG) " + fields +
       "SELECT printf('{BF000000-0000-4000-8000-%012d}', i), 'F' || i, "
       "CASE i WHEN 1 THEN 0 ELSE 6 END, i FROM f");
  exec(
      "INSERT INTO FLDARTOP (DSN, FLDART_DSN, WERT, BEZEICHNUNG) VALUES "
      "('{BF000001-0000-4000-8000-000000000001}', '{BF000000-0000-4000-8000-000000000001}', "
      "'W', 'W')");
  exec(
      "INSERT INTO obj (DSN, KENNUNG, EART, TOUCH, immoxml_obid, TEXTLAGE, TEXTFREI, "
      "TEXTAUSSTATTUNG, TEXTOBJEKT) " +
      numbers +
      "SELECT printf('{BE000000-0000-4000-8000-%012d}', i), 'B-' || i, 0, '2025-12-09', "
      "'OKVA-BENCH-' || i, 'Lage', 'Frei', 'Ausstattung', 'Beschreibung' FROM n");
  exec("INSERT INTO boersenobj (DSN, boersen_dsn, obj_dsn, kurz, lang, adresse_zeigen) " + numbers +
       "SELECT printf('{BE000002-0000-4000-8000-%012d}', i), '" + kPortal +
       "', printf('{BE000000-0000-4000-8000-%012d}', i), 1, 1, 1 FROM n");
  exec(
      "INSERT INTO ObjDet (DSN, Obj_Dsn, Fldart_Dsn, Fldartop_DSN, EINGABE, VON_STR, BIS_STR, "
      "VON_NUM, BIS_NUM) " +
      numbers + ", " + fields.substr(15) +
      "SELECT printf('{BE000003-0000-4000-%04d-%012d}', f.i, n.i), "
      "printf('{BE000000-0000-4000-8000-%012d}', n.i), "
      "printf('{BF000000-0000-4000-8000-%012d}', f.i), "
      "CASE f.i WHEN 1 THEN '{BF000001-0000-4000-8000-000000000001}' END, "
      "CASE f.i WHEN 3 THEN 'DEU-10115 Berlin' ELSE 'Wert ' || f.i END, "
      "CASE f.i WHEN 3 THEN 'DEU-10115 Berlin' ELSE 'Wert ' || f.i END, '', 10 + f.i, 10 + f.i "
      "FROM n, f");
}

std::string Mapping() {
  auto e = [](const std::string& element, int field, const std::string& more = {},
              const std::string& inner = {}) {
    return "<element element=\"" + element + "\" quelle=\"F" + std::to_string(field) +
           "\" quelltyp=\"FELDART\" " + more + ">" + inner + "</element>";
  };
  std::string m = "<zuordnungen><objektkategorie><zuordnung>";
  m += e("nutzungsart", 1, "", "<attribut attribut=\"WOHNEN\" quelle=\"W\" quelltyp=\"OPTION\"/>");
  m +=
      e("vermarktungsart", 1, "", "<attribut attribut=\"KAUF\" quelle=\"W\" quelltyp=\"OPTION\"/>");
  m += e("wohnung", 1, "",
         "<attribut attribut=\"wohnungtyp\"><option quelle=\"W\" quelltyp=\"OPTION\" "
         "option=\"ETAGE\"/></attribut>");
  m += "</zuordnung></objektkategorie><geo><zuordnung>";
  m += e("plz", 3) + e("ort", 3) + e("strasse", 4);
  m += "</zuordnung></geo><freitexte><zuordnung>";
  m += e("objekttitel", 5, "special=\"VON\"");
  m += "</zuordnung></freitexte><preise><zuordnung>";
  int f = 6;
  for (const char* p : {"kaufpreis", "kaltmiete", "nebenkosten"})
    m += e(p, f++, "special=\"VALUE\"");
  m += "</zuordnung></preise><flaechen><zuordnung>";
  for (const char* p : {"wohnflaeche", "nutzflaeche", "anzahl_zimmer", "anzahl_balkone"})
    m += e(p, f++, "special=\"VALUE\"");
  m += "</zuordnung></flaechen><zustand_angaben><zuordnung>";
  for (const char* p : {"baujahr", "energieverbrauchkennwert", "endenergiebedarf"})
    m += e(p, f++, "special=\"VON\"");
  m += "</zuordnung></zustand_angaben><verwaltung_objekt><zuordnung>";
  m += e("verfuegbar_ab", f++, "special=\"VON\"");
  m += "</zuordnung></verwaltung_objekt><infrastruktur><zuordnung>";
  for (int i = 0; i < 50; ++i, ++f)
    m += e("distanzen", f, "special=\"VALUE\"",
           "<attribut attribut=\"distanz_zu\"><option quelle=\"Wert " + std::to_string(f) +
               "\" quelltyp=\"OPTION\" option=\"BUS\"/></attribut>");
  m += "</zuordnung></infrastruktur><zustand_angaben><zuordnung>";
  while (f <= 100) m += e("user_defined_simplefield", f++, "special=\"VON\" enumElementType=\"1\"");
  m += "</zuordnung></zustand_angaben></zuordnungen>";
  return m;
}

struct Host {
  Host() {
    folder = fs::temp_directory_path() / ("fern-bench-openimmo-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    host::BuildDemoHost(folder / "host");
    ResetSession(CommandLine::FromArgs({"/PATHKV", (folder / "host").string(), "/USERKV", "DEMO"}),
                 folder);
    InitHostSession();
    fs::create_directories(folder / "work");
    IniWrite("OPTIONS", "TRANSFERPATH", (folder / "work").string(),
             folder / "host" / "Kavantor.INI");
    std::ofstream(folder / "host" / "System" / "XML" / "bench.xml") << Mapping();
  }
  ~Host() {
    ResetSession();
    host::CloseDatabases();
    fs::remove_all(folder);
  }
  fs::path folder;
};

std::shared_ptr<db::Recordset> PortalRow() {
  auto rs = db::Recordset::Create({{"DSN"},
                                   {"boersen_name"},
                                   {"boersentyp"},
                                   {"zuordnungsdatei"},
                                   {"teil_or_voll"},
                                   {"ftp_or_http"},
                                   {"strVersion"},
                                   {"xmlns"},
                                   {"httpantwort"},
                                   {"zipping"},
                                   {"boersen_host"}});
  rs->LoadRow({Variant(kPortal), Variant("Bench"), Variant(5), Variant("bench.xml"), Variant(0),
               Variant(1), Variant("1.2.5"), Variant(1), Variant(0), Variant(0), Variant("DUMMY")});
  return rs;
}

void CollectiveDocument(benchmark::State& state) {
  static Host host;
  const int listings = static_cast<int>(state.range(0));
  static int seeded = 0;
  if (listings > seeded) {
    Session().g_oDal->ExecQuery(Session().g_strConnect, "DELETE FROM ObjDet WHERE DSN LIKE '{BE%'");
    Session().g_oDal->ExecQuery(Session().g_strConnect,
                                "DELETE FROM boersenobj WHERE DSN LIKE '{BE%'");
    Session().g_oDal->ExecQuery(Session().g_strConnect, "DELETE FROM obj WHERE DSN LIKE '{BE%'");
    Session().g_oDal->ExecQuery(Session().g_strConnect,
                                "DELETE FROM FLDARTOP WHERE DSN LIKE '{BF%'");
    Session().g_oDal->ExecQuery(Session().g_strConnect, "DELETE FROM FLDART WHERE DSN LIKE '{BF%'");
    SeedListings(listings);
    seeded = listings;
  }
  int errors = 0;
  for (auto _ : state) {
    cFernDispatcher app;
    cImmoXmlV2 x;
    x.events.WorkState = [&](int16_t s, const std::string&) { errors += s >= 100; };
    x.Attach(app, Session().g_strConnect, 5);
    auto schema = x.OpenXMLFile(GetHostPath("System\\XML\\openimmo.xsd"));
    auto tmpl = x.CreateEmtpyXML(schema, 5);
    x.SetPortalSchema(HostFile("System\\XML\\openimmo.xsd").string());
    tMandant m;
    m.FirmaName = "Bench GmbH";
    m.FirmaTel = "030 1";
    m.Anid = "AKVA-BENCH";
    m.KundenNr = "1";
    auto portal = PortalRow();
    x.MakeAndSendOpenImmoLoop(*portal, tmpl, schema, m, 125);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["listings_per_s"] = benchmark::Counter(
      static_cast<double>(listings), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["errors"] = errors;
}
BENCHMARK(CollectiveDocument)->Arg(2000)->Arg(4000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
