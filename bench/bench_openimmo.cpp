// One collective OpenImmo document of many listings with 100 mapped values each, built, cleaned,
// saved, validated against the demo schema and marked sent ("DUMMY" host), through the
// exporter's portal document step. Listings per second must not fall as the document grows, and
// the peak memory (peak_rss_MB, the whole process) must stay near one document tree: the saved
// file is read back only after the built tree is gone, and files are streamed, never held as
// one text beside their tree (4,000 listings: at most 280 MB).
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

std::shared_ptr<db::Recordset> Details() {
  auto rs = db::Recordset::Create({{"KÜRZEL"},
                                   {"TYP"},
                                   {"EINGABE"},
                                   {"VON_STR"},
                                   {"BIS_STR"},
                                   {"VON_NUM"},
                                   {"BIS_NUM"},
                                   {"WERT"},
                                   {"BEZEICHNUNG"},
                                   {"LINK_DSN"}});
  for (int i = 1; i <= 100; ++i) {
    const std::string text = i == 3 ? "DEU-10115 Berlin" : "Wert " + std::to_string(i);
    rs->LoadRow({Variant("F" + std::to_string(i)), Variant(6), Variant(text), Variant(text),
                 Variant(""), Variant(10.0 + i), Variant(10.0 + i), Variant(i == 1 ? "W" : ""),
                 Variant(""), Variant::Null()});
  }
  return rs;
}

// The listings and their field values without a database.
class MemoryListings : public ListingData {
 public:
  explicit MemoryListings(int count) : count_(count), details_(Details()) {}
  std::shared_ptr<db::Recordset> GetBoersenObjekte(db::Recordset&, const std::string&) override {
    auto rs = db::Recordset::Create(
        {{"DSN"}, {"KENNUNG"}, {"LANG"}, {"TOUCH"}, {"immoxml_obid"}, {"OBJ_DSN"}, {"EART"}});
    for (int n = 1; n <= count_; ++n) {
      char dsn[48];
      std::snprintf(dsn, sizeof dsn, "{BE000000-0000-4000-8000-%012d}", n);
      rs->LoadRow({Variant(dsn), Variant("B-" + std::to_string(n)), Variant(0),
                   Variant::Date(46000), Variant("OKVA-BENCH-" + std::to_string(n)),
                   Variant::Null(), Variant(0)});
    }
    return rs;
  }
  std::array<bool, 5> GetBoersenObjStatus(db::Recordset&, db::Recordset&) override {
    return {true, false, true, true, true};
  }
  std::shared_ptr<db::Recordset> GetObjektDetails(db::Recordset&,
                                                  std::array<std::string, 4>& texts) override {
    texts = {"Lage", "Frei", "Ausstattung", "Beschreibung"};
    return details_;
  }
  std::vector<std::string> GetLKZPLZOrtFromString(const std::string&) override {
    return {"DEU", "10115", "Berlin"};
  }

 private:
  int count_;
  std::shared_ptr<db::Recordset> details_;
};

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
  for (const char* p : {"baujahr", "epart", "energieverbrauchkennwert", "endenergiebedarf"})
    m += e(p, f++, "special=\"VON\"");
  m += "</zuordnung></zustand_angaben><verwaltung_objekt><zuordnung>";
  m += e("verfuegbar_ab", f++, "special=\"VON\"");
  m += "</zuordnung></verwaltung_objekt><infrastruktur><zuordnung>";
  for (int i = 0; i < 50; ++i) m += e("distanzen", f++, "special=\"VALUE\"");
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
  rs->LoadRow({Variant("{BE000001-0000-4000-8000-000000000001}"), Variant("Bench"), Variant(5),
               Variant("bench.xml"), Variant(0), Variant(1), Variant("1.2.5"), Variant(1),
               Variant(0), Variant(0), Variant("DUMMY")});
  return rs;
}

void CollectiveDocument(benchmark::State& state) {
  static Host host;
  const int listings = static_cast<int>(state.range(0));
  int errors = 0;
  for (auto _ : state) {
    cFernDispatcher app;
    cImmoXmlV2 x;
    x.events.WorkState = [&](int16_t s, const std::string&) { errors += s >= 100; };
    x.Attach(&app, Session().g_strConnect, 5, std::make_unique<MemoryListings>(listings));
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
