// Recordset cost against a bare SQLite step loop, and Filter/Find growth with the row count.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "db/connection.h"
#include "platform/vb.h"

using namespace fern;
using namespace fern::db;

namespace {

constexpr int kRows = 10000;
constexpr int kCols = 100;

// 10,000 rows x 100 columns: 30 integers, 20 reals, 40 texts, 10 dates.
const std::string& WideDb() {
  static std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "fern-bench-recordset.db").string();
    std::filesystem::remove(p);
    auto conn = Connection::Create(p);
    std::string create = "CREATE TABLE T (ID INTEGER PRIMARY KEY";
    std::string insert = "INSERT INTO T VALUES (?";
    for (int c = 1; c < kCols; ++c) {
      const char* type = c < 30   ? "INTEGER"
                         : c < 50 ? "REAL"
                         : c < 90 ? "TEXT COLLATE DE_CI"
                                  : "DATETIME";
      create += ", C" + std::to_string(c) + " " + type;
      insert += ", ?";
    }
    conn->Execute(create + ")");
    sqlite3* db = conn->Handle();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    insert += ")";
    sqlite3_prepare_v2(db, insert.c_str(), -1, &st, nullptr);
    for (int r = 0; r < kRows; ++r) {
      sqlite3_bind_int(st, 1, r);
      for (int c = 1; c < kCols; ++c) {
        if (c < 30) {
          sqlite3_bind_int(st, c + 1, r * c);
        } else if (c < 50) {
          sqlite3_bind_double(st, c + 1, r * 0.25 + c);
        } else if (c < 90) {
          std::string t = "Wert " + std::to_string(r) + "/" + std::to_string(c);
          sqlite3_bind_text(st, c + 1, t.c_str(), -1, SQLITE_TRANSIENT);
        } else {
          sqlite3_bind_text(st, c + 1, "2024-05-01 13:05:00", -1, SQLITE_STATIC);
        }
      }
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return p;
  }();
  return path;
}

void BM_BareStepLoop(benchmark::State& state) {
  auto conn = Connection::Open(WideDb());
  for (auto _ : state) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(conn->Handle(), "SELECT * FROM T", -1, &st, nullptr);
    int64_t sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < kCols; ++c) {
        switch (sqlite3_column_type(st, c)) {
          case SQLITE_INTEGER:
            sum += sqlite3_column_int64(st, c);
            break;
          case SQLITE_FLOAT:
            sum += static_cast<int64_t>(sqlite3_column_double(st, c));
            break;
          default:
            sqlite3_column_text(st, c);
            sum += sqlite3_column_bytes(st, c);
        }
      }
    }
    sqlite3_finalize(st);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_BareStepLoop)->Unit(benchmark::kMillisecond);

void BM_RecordsetLoadAndWalk(benchmark::State& state) {
  auto conn = Connection::Open(WideDb());
  for (auto _ : state) {
    auto rs = conn->Query("SELECT * FROM T");
    int64_t sum = 0;
    size_t n = rs->FieldCount();
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
      for (size_t c = 0; c < n; ++c) {
        const Variant& v = rs->Value(c);
        sum += v.IsString() ? static_cast<int64_t>(v.str().size()) : static_cast<int64_t>(v.type());
      }
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_RecordsetLoadAndWalk)->Unit(benchmark::kMillisecond);

std::shared_ptr<Recordset> Rows(int n) {
  auto rs =
      Recordset::Create({{"Kürzel"}, {"Zahl", adtype::kInteger}, {"Datum", adtype::kDBTimeStamp}});
  for (int i = 0; i < n; ++i)
    rs->LoadRow({Variant("Kürzel " + std::to_string(i)), Variant(int32_t{i}),
                 Variant::Date(45000.0 + i % 365)});
  return rs;
}

void BM_Filter(benchmark::State& state) {
  auto rs = Rows(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    rs->SetFilter("(kürzel LIKE 'KÜRZEL 1*' OR Zahl < 100) AND Datum >= #2023-03-01#");
    benchmark::DoNotOptimize(rs->RecordCount());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Filter)
    ->Arg(10000)
    ->Arg(20000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

void BM_Find(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  auto rs = Rows(n);
  std::string last = "Kürzel = 'KÜRZEL " + std::to_string(n - 1) + "'";
  for (auto _ : state) {
    benchmark::DoNotOptimize(rs->Find(last, 0, SearchDirection::Forward, FindStart::First));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Find)
    ->Arg(10000)
    ->Arg(20000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
