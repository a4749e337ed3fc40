#include "db/host_functions.h"

#include <memory>
#include <string_view>

#include "db/german_text.h"
#include "db/sqlite_api.h"

namespace fern::db {

namespace {

int CollateGerman(void*, int n1, const void* p1, int n2, const void* p2) {
  return CompareGerman(std::string_view(static_cast<const char*>(p1), static_cast<size_t>(n1)),
                       std::string_view(static_cast<const char*>(p2), static_cast<size_t>(n2)));
}

int CollateGuid(void*, int n1, const void* p1, int n2, const void* p2) {
  const char* a = static_cast<const char*>(p1);
  const char* b = static_cast<const char*>(p2);
  int i = 0, j = 0;
  auto skip = [](const char* s, int& k, int n) {
    while (k < n && (s[k] == '{' || s[k] == '}' || s[k] == ' ')) ++k;
  };
  for (;;) {
    skip(a, i, n1);
    skip(b, j, n2);
    if (i >= n1 || j >= n2) return (i >= n1) == (j >= n2) ? 0 : (i >= n1 ? -1 : 1);
    // Keys are ASCII hex; folding without the locale keeps the join hot path cheap.
    auto up = [](char c) {
      unsigned char u = static_cast<unsigned char>(c);
      return u >= 'a' && u <= 'z' ? u - 32 : u;
    };
    int x = up(a[i++]);
    int y = up(b[j++]);
    if (x != y) return x < y ? -1 : 1;
  }
}

// X LIKE Y [ESCAPE Z] arrives as like(Y, X[, Z]).
void LikeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  auto text = [](sqlite3_value* v) {
    const unsigned char* t = sqlite3_value_text(v);
    return std::string_view(reinterpret_cast<const char*>(t),
                            static_cast<size_t>(sqlite3_value_bytes(v)));
  };
  char32_t escape = 0;
  if (argc == 3) {
    std::string_view e = text(argv[2]);
    size_t i = 0;
    if (e.empty())
      return sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
    escape = NextCodePoint(e, i);
    if (i != e.size())
      return sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
  }
  // The pattern is parsed once per statement, not once per row.
  if (auto* cached = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, 0)); cached && argc == 2)
    return sqlite3_result_int(ctx, cached->Matches(text(argv[1])) ? 1 : 0);
  auto pattern = std::make_unique<LikePattern>(text(argv[0]), LikeSyntax::Sql, escape);
  sqlite3_result_int(ctx, pattern->Matches(text(argv[1])) ? 1 : 0);
  if (argc == 2)
    sqlite3_set_auxdata(ctx, 0, pattern.release(),
                        [](void* p) { delete static_cast<LikePattern*>(p); });
}

// T-SQL LEN: characters without the trailing blanks.
void LenFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const char* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  std::string_view s(t ? t : "", static_cast<size_t>(sqlite3_value_bytes(argv[0])));
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  int64_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  sqlite3_result_int64(ctx, n);
}

}  // namespace

int RegisterHostFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc =
      sqlite3_create_collation_v2(db, kTextCollation, SQLITE_UTF8, nullptr, CollateGerman, nullptr);
  if (rc == SQLITE_OK)
    rc =
        sqlite3_create_collation_v2(db, kGuidCollation, SQLITE_UTF8, nullptr, CollateGuid, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function_v2(db, "like", 2, flags, nullptr, LikeFunction, nullptr, nullptr,
                                    nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function_v2(db, "like", 3, flags, nullptr, LikeFunction, nullptr, nullptr,
                                    nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function_v2(db, "len", 1, flags, nullptr, LenFunction, nullptr, nullptr,
                                    nullptr);
  return rc;
}

}  // namespace fern::db
