// Listing selection plus one details record per listing, 2,000 and 4,000 listings with 100 field
// values each; nine in ten listings have a parent that lends them ten fields. The time should
// grow linearly with the listing count.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "demo/demo_host.h"
#include "host/cDal.h"
#include "host/host_database.h"
#include "services/cImmoHelperV2.h"

using namespace fern;

namespace {

constexpr int kFields = 100;
constexpr int kOwnFieldsOfChild = 90;

std::string KeyExpr(const char* table, const std::string& n) {
  return std::string("printf('{BE0000") + table + "-0000-4000-8000-%012X}', " + n + ")";
}

// A demo host with `listings` more listings on a portal of their own; the session is opened on it.
void PrepareHost(int listings) {
  host::CloseDatabases();
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("fern-bench-listing-" + std::to_string(listings));
  host::DemoHostSummary sum = host::BuildDemoHost(dir);
  const std::string n = std::to_string(listings);
  const std::string count =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < ";
  db::Connection& conn = host::Database(sum.connect);
  conn.Execute(
      "INSERT INTO Boersen (DSN, boersen_name, boersentyp, teil_or_voll, ftp_or_http) VALUES "
      "('{BE000001-0000-4000-8000-000000000001}', 'Bench', 5, 1, 0)");
  conn.Execute("INSERT INTO FLDART (DSN, KÜRZEL, TYP, SORTIERUNG) " + count +
               std::to_string(kFields) + ") SELECT " + KeyExpr("03", "x") +
               ", 'Feld ' || x, x % 7 + 1, 1000 + x FROM c");
  conn.Execute("INSERT INTO obj (DSN, OBJ_DSN, KENNUNG, TOUCH, FArchiv, transfer, TEXTFREI) " +
               count + n + ") SELECT " + KeyExpr("02", "x") +
               ", CASE WHEN x % 10 = 0 OR x < 10 THEN NULL ELSE " + KeyExpr("02", "x - x % 10") +
               " END, printf('B-%06d', x), '2026-11-01 09:00:00', 0, 0, "
               "CASE WHEN x % 10 = 0 THEN 'frei' END FROM c");
  conn.Execute("INSERT INTO boersenobj (DSN, boersen_dsn, obj_dsn, kurz, lang, status) " + count +
               n + ") SELECT " + KeyExpr("09", "x") +
               ", '{BE000001-0000-4000-8000-000000000001}', " + KeyExpr("02", "x") +
               ", 1, 1, 0 FROM c");
  conn.Execute("INSERT INTO ObjDet (DSN, Obj_Dsn, Fldart_Dsn, EINGABE, VON_NUM, BIS_NUM) " + count +
               n + "), f(y) AS (SELECT 1 UNION ALL SELECT y + 1 FROM f WHERE y < " +
               std::to_string(kFields) + ") SELECT " + KeyExpr("05", "x * 1000 + y") + ", " +
               KeyExpr("02", "x") + ", " + KeyExpr("03", "y") +
               ", 'Wert ' || y, y, y FROM c, f WHERE x % 10 = 0 OR x < 10 OR y <= " +
               std::to_string(kOwnFieldsOfChild));

  ResetSession(CommandLine::FromArgs({"/PATHKV", sum.folder.string(), "/USERKV", host::kDemoUser}),
               dir);
  InitHostSession();
}

void BM_SelectionAndDetails(benchmark::State& state) {
  const int listings = static_cast<int>(state.range(0));
  PrepareHost(listings);
  cFernDispatcher app;
  cImmoHelperV2 helper;
  helper.Init(Session().g_strConnect, app);
  auto portal = Session().g_oDal->GetRecordset(
      Session().g_strConnect,
      "select * from Boersen where DSN = '{BE000001-0000-4000-8000-000000000001}'");
  int64_t rows = 0;
  for (auto _ : state) {
    std::string department;
    auto rs = helper.GetBoersenObjekte(*portal, department);
    std::vector<std::string> texts;
    for (; !rs->Eof(); rs->MoveNext()) {
      auto details =
          helper.GetObjektDetails(*rs, "", " order by OBJ.KENNUNG, FLDART.SORTIERUNG", texts);
      rows += details->RecordCount();
    }
    benchmark::DoNotOptimize(rows);
  }
  state.counters["listings"] = listings;
  state.counters["field_rows"] =
      static_cast<double>(rows) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_SelectionAndDetails)
    ->Arg(2000)
    ->Arg(4000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
