#include "db/connection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "db/german_text.h"
#include "db/host_functions.h"
#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern::db {

namespace {

constexpr int kDefaultBusyMs = 5000;

struct StmtGuard {
  sqlite3_stmt* s = nullptr;
  ~StmtGuard() { sqlite3_finalize(s); }
};

std::string QuoteIdent(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// --- values ---------------------------------------------------------------------------------

enum class Conv : uint8_t { Natural, Byte, Boolean, Long, Double, Currency, Date, Text };

Conv ConvFor(int type) {
  switch (type) {
    case adtype::kUnsignedTinyInt:
      return Conv::Byte;
    case adtype::kBoolean:
      return Conv::Boolean;
    case adtype::kInteger:
    case adtype::kSmallInt:
      return Conv::Long;
    case adtype::kDouble:
      return Conv::Double;
    case adtype::kCurrency:
      return Conv::Currency;
    case adtype::kDate:
    case adtype::kDBTimeStamp:
      return Conv::Date;
    case adtype::kVarWChar:
    case adtype::kLongVarWChar:
    case adtype::kGuid:
      return Conv::Text;
    default:
      return Conv::Natural;
  }
}

void LoadText(Recordset& rs, sqlite3_stmt* s, int i) {
  const char* t = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  rs.LoadText(std::string_view(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(s, i))));
}

void LoadNatural(Recordset& rs, sqlite3_stmt* s, int i, int storage) {
  switch (storage) {
    case SQLITE_INTEGER: {
      int64_t v = sqlite3_column_int64(s, i);
      if (v >= INT32_MIN && v <= INT32_MAX)
        rs.LoadLong(static_cast<int32_t>(v));
      else
        rs.LoadDouble(static_cast<double>(v));  // VB's promotion of large whole numbers
      return;
    }
    case SQLITE_FLOAT:
      return rs.LoadDouble(sqlite3_column_double(s, i));
    case SQLITE_BLOB: {
      const char* b = static_cast<const char*>(sqlite3_column_blob(s, i));
      return rs.LoadText(
          std::string_view(b ? b : "", static_cast<size_t>(sqlite3_column_bytes(s, i))));
    }
    default:
      return LoadText(rs, s, i);
  }
}

void LoadValue(Recordset& rs, sqlite3_stmt* s, int i, Conv conv) {
  int storage = sqlite3_column_type(s, i);
  if (storage == SQLITE_NULL) return rs.LoadNull();
  bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (conv) {
    case Conv::Byte:
      if (storage == SQLITE_INTEGER) {
        int64_t v = sqlite3_column_int64(s, i);
        if (v >= 0 && v <= 255) return rs.LoadByte(static_cast<uint8_t>(v));
      }
      break;
    case Conv::Boolean:
      if (number) return rs.LoadBool(sqlite3_column_double(s, i) != 0);
      break;
    case Conv::Double:
      if (number) return rs.LoadDouble(sqlite3_column_double(s, i));
      break;
    case Conv::Currency:
      if (number) return rs.LoadCurrency(std::llround(sqlite3_column_double(s, i) * 10000.0));
      break;
    case Conv::Date:
      if (storage == SQLITE_TEXT) {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        double d;
        if (IsoToDate(std::string_view(t, static_cast<size_t>(sqlite3_column_bytes(s, i))), d))
          return rs.LoadDate(d);
      } else if (number) {
        return rs.LoadDate(sqlite3_column_double(s, i));
      }
      break;
    case Conv::Text:
      if (storage == SQLITE_TEXT) return LoadText(rs, s, i);
      break;
    case Conv::Long:
    case Conv::Natural:
      break;
  }
  LoadNatural(rs, s, i, storage);
}

int TypeFromStorage(int storage) {
  switch (storage) {
    case SQLITE_INTEGER:
      return adtype::kInteger;
    case SQLITE_FLOAT:
      return adtype::kDouble;
    case SQLITE_BLOB:
      return adtype::kBinary;
    default:
      return adtype::kVarWChar;
  }
}

void Bind(sqlite3_stmt* s, int i, const Variant& v) {
  switch (v.type()) {
    case VType::Empty:
    case VType::Null:
    case VType::Error:
      sqlite3_bind_null(s, i);
      return;
    case VType::Boolean:
      sqlite3_bind_int(s, i, v.boolVal() ? 1 : 0);
      return;
    case VType::Integer:
      sqlite3_bind_int(s, i, v.intVal());
      return;
    case VType::Long:
      sqlite3_bind_int(s, i, v.longVal());
      return;
    case VType::Byte:
      sqlite3_bind_int(s, i, v.byteVal());
      return;
    case VType::Single:
      sqlite3_bind_double(s, i, v.singleVal());
      return;
    case VType::Double:
      sqlite3_bind_double(s, i, v.doubleVal());
      return;
    case VType::Currency:
      sqlite3_bind_double(s, i, static_cast<double>(v.currencyVal()) / 10000.0);
      return;
    case VType::Date: {
      std::string iso = DateToIso(v.dateVal());
      sqlite3_bind_text(s, i, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
      return;
    }
    case VType::String:
      sqlite3_bind_text(s, i, v.str().data(), static_cast<int>(v.str().size()), SQLITE_TRANSIENT);
      return;
    default:
      throw HostError(fern::err::kTypeMismatch,
                      "Type mismatch: an object or array cannot be stored",
                      "Connection.UpdateRecordset");
  }
}

bool SameValue(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return false;
  if (a.IsString()) return a.str() == b.str();
  if (a.IsNull() || a.IsEmpty()) return true;
  switch (a.type()) {
    case VType::Boolean:
      return a.boolVal() == b.boolVal();
    case VType::Integer:
      return a.intVal() == b.intVal();
    case VType::Long:
      return a.longVal() == b.longVal();
    case VType::Byte:
      return a.byteVal() == b.byteVal();
    case VType::Single:
      return a.singleVal() == b.singleVal();
    case VType::Double:
    case VType::Date:
      return a.doubleVal() == b.doubleVal();
    case VType::Currency:
      return a.currencyVal() == b.currencyVal();
    default:
      return false;
  }
}

}  // namespace

int FieldTypeFromDeclared(std::string_view declared, int32_t* definedSize) {
  std::string d = text::UpperAscii(declared);
  if (definedSize) {
    *definedSize = 0;
    size_t open = d.find('(');
    if (open != std::string::npos) *definedSize = std::atoi(d.c_str() + open + 1);
  }
  auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
  if (has("TINYINT")) return adtype::kUnsignedTinyInt;
  if (has("BOOL") || d == "BIT") return adtype::kBoolean;
  if (has("DATETIME") || has("TIMESTAMP")) return adtype::kDBTimeStamp;
  if (has("DATE")) return adtype::kDate;
  if (has("MONEY") || has("CURRENCY")) return adtype::kCurrency;
  if (has("GUID") || has("UNIQUEIDENTIFIER")) return adtype::kGuid;
  if (has("INT")) return adtype::kInteger;
  if (has("REAL") || has("FLOA") || has("DOUB") || has("DECIMAL") || has("NUMERIC"))
    return adtype::kDouble;
  if (has("MEMO") || has("NTEXT") || has("LONGTEXT") || has("CLOB")) {
    if (definedSize) *definedSize = 1073741823;
    return adtype::kLongVarWChar;
  }
  if (has("BLOB") || has("BINARY")) return adtype::kBinary;
  if (has("CHAR") || has("TEXT")) return adtype::kVarWChar;
  return adtype::kEmpty;
}

std::string DateToIso(double serial) {
  int y, m, d, hh, nn, ss, ms;
  vb::SplitDate(serial, y, m, d, hh, nn, ss, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, hh, nn, ss);
  return buf;
}

bool IsoToDate(std::string_view t, double& serial) {
  auto digits = [&](size_t at, size_t n, int& out) {
    if (at + n > t.size()) return false;
    out = 0;
    for (size_t k = at; k < at + n; ++k) {
      if (t[k] < '0' || t[k] > '9') return false;
      out = out * 10 + (t[k] - '0');
    }
    return true;
  };
  int y, m, d, hh = 0, nn = 0, ss = 0;
  if (!digits(0, 4, y) || t.size() < 10 || t[4] != '-' || !digits(5, 2, m) || t[7] != '-' ||
      !digits(8, 2, d))
    return false;
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  if (t.size() > 10) {
    if ((t[10] != ' ' && t[10] != 'T') || !digits(11, 2, hh) || t.size() < 16 || t[13] != ':' ||
        !digits(14, 2, nn))
      return false;
    size_t end = 16;
    if (t.size() > 16) {
      if (t[16] != ':' || !digits(17, 2, ss)) return false;
      end = 19;
      if (t.size() > 19 && t[19] == '.') {  // fractions of a second are dropped
        end = 20;
        while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
      }
    }
    if (end != t.size() || hh > 23 || nn > 59 || ss > 59) return false;
  }
  double day = vb::DateSerial(y, m, d);
  double time = vb::TimeSerial(hh, nn, ss);
  serial = day >= 0 ? day + time : day - time;
  return true;
}

// --- opening ------------------------------------------------------------------------------

Connection::Connection(std::string path, sqlite3* db) : path_(std::move(path)), db_(db) {}

Connection::~Connection() { sqlite3_close_v2(db_); }

std::unique_ptr<Connection> Connection::Open(const std::string& path) {
  return OpenImpl(path, false);
}
std::unique_ptr<Connection> Connection::Create(const std::string& path) {
  return OpenImpl(path, true);
}

std::unique_ptr<Connection> Connection::OpenImpl(const std::string& path, bool create) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<Connection> {
    throw HostError(kDatabaseError,
                    "Die Datenbank \"" + path + "\" kann nicht geöffnet werden: " + why,
                    "Connection.Open");
  };
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && !create) fail("die Datei fehlt");
  if (exists && !S_ISREG(st.st_mode)) fail("das ist keine Datei");
  // The write-protect bits count even where the process could write anyway (root).
  if (exists && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    fail("die Datei ist schreibgeschützt");
  sqlite3* raw = nullptr;
  // One thread uses a connection, so SQLite need not lock around every column read.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  std::unique_ptr<Connection> conn(new Connection(path, raw));
  if (rc != SQLITE_OK) fail(raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
  if (sqlite3_db_readonly(raw, "main") == 1) fail("die Datei ist schreibgeschützt");
  sqlite3_extended_result_codes(raw, 0);
  sqlite3_busy_timeout(raw, kDefaultBusyMs);
  if (RegisterHostFunctions(raw) != SQLITE_OK) fail(sqlite3_errmsg(raw));
  // SQLite reads the header lazily: touch the schema so that a foreign file fails here.
  rc = sqlite3_exec(raw, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(sqlite3_errmsg(raw));
  return conn;
}

void Connection::SetBusyTimeout(int milliseconds) { sqlite3_busy_timeout(db_, milliseconds); }

void Connection::RegisterProcedure(const std::string& name, Procedure proc) {
  procedures_[FoldKey(name)] = std::move(proc);
}

void Connection::Fail(std::string_view what, std::string_view statement, int rc) {
  std::string msg(what);
  msg += ": ";
  msg += (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) ? "the database is locked by another user"
                                                    : sqlite3_errmsg(db_);
  msg += " -- statement: ";
  msg += statement;
  throw HostError(kDatabaseError, msg, "Connection");
}

// --- running ------------------------------------------------------------------------------

void Connection::InTransaction(std::string_view firstStatement, const std::function<void()>& body) {
  bool outer = sqlite3_get_autocommit(db_) != 0;
  std::string sp = "fern_sp" + std::to_string(savepointDepth_);
  std::string begin = outer ? "BEGIN IMMEDIATE" : "SAVEPOINT " + sp;
  int rc = sqlite3_exec(db_, begin.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail("Cannot start a transaction", firstStatement, rc);
  ++savepointDepth_;
  try {
    body();
  } catch (...) {
    --savepointDepth_;
    if (outer)
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    else
      sqlite3_exec(db_, ("ROLLBACK TO " + sp + "; RELEASE " + sp).c_str(), nullptr, nullptr,
                   nullptr);
    throw;
  }
  --savepointDepth_;
  std::string end = outer ? "COMMIT" : "RELEASE " + sp;
  rc = sqlite3_exec(db_, end.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    // Read the reason before the rollback replaces it.
    std::string why =
        rc == SQLITE_BUSY ? "the database is locked by another user" : sqlite3_errmsg(db_);
    if (outer) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw HostError(kDatabaseError,
                    "Cannot commit: " + why + " -- statement: " + std::string(firstStatement),
                    "Connection");
  }
}

void Connection::RunStatement(const SqlStatement& st) {
  if (st.isExec) {
    CallProcedure(st);
    return;
  }
  StmtGuard g;
  int rc =
      sqlite3_prepare_v2(db_, st.text.c_str(), static_cast<int>(st.text.size()), &g.s, nullptr);
  if (rc != SQLITE_OK) Fail("SQL error", st.original, rc);
  while ((rc = sqlite3_step(g.s)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) Fail("SQL error", st.original, rc);
}

std::shared_ptr<Recordset> Connection::CallProcedure(const SqlStatement& st) {
  auto it = procedures_.find(FoldKey(st.procedure));
  if (it == procedures_.end())
    throw HostError(kDatabaseError,
                    "Unknown procedure \"" + st.procedure + "\" -- statement: " + st.original,
                    "Connection");
  std::shared_ptr<Recordset> rs = it->second(*this, st.args);
  return rs ? rs : Recordset::Create({});
}

std::shared_ptr<Recordset> Connection::QueryStatement(const SqlStatement& st) {
  if (st.isExec) return CallProcedure(st);
  StmtGuard g;
  int rc =
      sqlite3_prepare_v2(db_, st.text.c_str(), static_cast<int>(st.text.size()), &g.s, nullptr);
  if (rc != SQLITE_OK) Fail("SQL error", st.original, rc);
  int n = sqlite3_column_count(g.s);
  std::vector<FieldInfo> fields(static_cast<size_t>(n));
  std::vector<Conv> conv(static_cast<size_t>(n));
  std::vector<bool> undecided(static_cast<size_t>(n), false);
  for (int i = 0; i < n; ++i) {
    FieldInfo& f = fields[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(g.s, i);
    f.name = name ? name : "";
    std::string declared;
    if (const char* d = sqlite3_column_decltype(g.s, i)) {
      declared = d;
    } else {
      std::string key = FoldKey(f.name);
      for (auto& [col, type] : st.castTypes)
        if (col == key) declared = type;
    }
    f.type = FieldTypeFromDeclared(declared, &f.definedSize);
    if (const char* t = sqlite3_column_table_name(g.s, i)) {
      f.table = t;
      const char* origin = sqlite3_column_origin_name(g.s, i);
      f.baseColumn = origin ? origin : "";
      const char* dbName = sqlite3_column_database_name(g.s, i);
      const char* collation = nullptr;
      int pk = 0;
      if (sqlite3_table_column_metadata(db_, dbName, t, f.baseColumn.c_str(), nullptr, &collation,
                                        nullptr, &pk, nullptr) == SQLITE_OK) {
        f.key = pk != 0;
        f.guidKey = (collation && text::EqualsNoCaseAscii(collation, kGuidCollation)) ||
                    f.type == adtype::kGuid;
      }
    }
    undecided[static_cast<size_t>(i)] = f.type == adtype::kEmpty;
    conv[static_cast<size_t>(i)] = ConvFor(f.type);
  }
  auto rs = Recordset::Create(std::move(fields));
  if (st.joined) rs->MarkJoined();
  while ((rc = sqlite3_step(g.s)) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) {
      if (undecided[static_cast<size_t>(i)]) {
        int storage = sqlite3_column_type(g.s, i);
        if (storage != SQLITE_NULL) {
          rs->SetFieldType(static_cast<size_t>(i), TypeFromStorage(storage));
          undecided[static_cast<size_t>(i)] = false;
        }
      }
      LoadValue(*rs, g.s, i, conv[static_cast<size_t>(i)]);
    }
    rs->EndLoadedRow();
  }
  if (rc != SQLITE_DONE) Fail("SQL error", st.original, rc);
  for (int i = 0; i < n; ++i)
    if (undecided[static_cast<size_t>(i)])
      rs->SetFieldType(static_cast<size_t>(i), adtype::kVarWChar);
  return rs;
}

std::shared_ptr<Recordset> Connection::Query(std::string_view sql) {
  std::vector<SqlStatement> stmts = RewriteBatch(sql);
  if (stmts.empty()) throw HostError(kDatabaseError, "No SQL statement given", "Connection.Query");
  if (stmts.size() > 1) {
    InTransaction(stmts.front().original, [&] {
      for (size_t i = 0; i + 1 < stmts.size(); ++i) RunStatement(stmts[i]);
    });
  }
  return QueryStatement(stmts.back());
}

void Connection::Execute(std::string_view batch) {
  std::vector<SqlStatement> stmts = RewriteBatch(batch);
  if (stmts.empty()) return;
  InTransaction(stmts.front().original, [&] {
    for (const SqlStatement& st : stmts) RunStatement(st);
  });
}

// --- write-back ---------------------------------------------------------------------------

void Connection::UpdateRecordset(Recordset& rs) {
  const char* where = "Connection.UpdateRecordset";
  std::vector<Recordset::Change> changes = rs.PendingChanges();
  if (changes.empty()) return;
  auto refuse = [&](const std::string& why) {
    throw HostError(kDatabaseError, "The recordset cannot be written back: " + why, where);
  };

  // A join repeats a table row once per partner row: its edits could contradict each other.
  if (rs.IsJoined()) refuse("its rows come from a join or union of tables");
  std::string table;
  for (size_t i = 0; i < rs.FieldCount(); ++i) {
    const FieldInfo& f = rs.Info(i);
    if (f.table.empty()) continue;
    if (table.empty())
      table = f.table;
    else if (!text::EqualsNoCaseAscii(table, f.table))
      refuse("its columns come from more than one table (" + table + ", " + f.table + ")");
  }
  if (table.empty()) refuse("its columns come from no table");

  // Key columns in key order.
  std::vector<std::string> keyCols;
  bool integerKey = false;
  {
    StmtGuard g;
    std::string sql = "PRAGMA table_info(" + QuoteIdent(table) + ")";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &g.s, nullptr) != SQLITE_OK)
      Fail("SQL error", sql, 0);
    std::vector<std::pair<int, std::string>> pk;
    std::string firstType;
    while (sqlite3_step(g.s) == SQLITE_ROW) {
      int order = sqlite3_column_int(g.s, 5);
      if (order > 0) {
        pk.emplace_back(order, reinterpret_cast<const char*>(sqlite3_column_text(g.s, 1)));
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(g.s, 2));
        if (order == 1) firstType = t ? t : "";
      }
    }
    std::sort(pk.begin(), pk.end());
    for (auto& p : pk) keyCols.push_back(p.second);
    integerKey = pk.size() == 1 && text::UpperAscii(firstType) == "INTEGER";
  }
  if (keyCols.empty()) refuse("table " + table + " has no primary key");

  // Fields that map to the table's columns; the first of duplicate columns counts.
  std::vector<size_t> writable;
  std::vector<std::string> seen;
  std::vector<size_t> keyField(keyCols.size(), SIZE_MAX);
  for (size_t i = 0; i < rs.FieldCount(); ++i) {
    const FieldInfo& f = rs.Info(i);
    if (f.table.empty() || f.baseColumn.empty()) continue;
    std::string col = FoldKey(f.baseColumn);
    if (std::find(seen.begin(), seen.end(), col) != seen.end()) continue;
    seen.push_back(col);
    writable.push_back(i);
    for (size_t k = 0; k < keyCols.size(); ++k)
      if (FoldKey(keyCols[k]) == col) keyField[k] = i;
  }
  for (size_t k = 0; k < keyCols.size(); ++k)
    if (keyField[k] == SIZE_MAX)
      refuse("the key column " + keyCols[k] + " of " + table + " is not in it");

  auto run = [&](const std::string& sql, const std::vector<const Variant*>& values) {
    StmtGuard g;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &g.s, nullptr);
    if (rc != SQLITE_OK) Fail("SQL error", sql, rc);
    for (size_t i = 0; i < values.size(); ++i) Bind(g.s, static_cast<int>(i + 1), *values[i]);
    rc = sqlite3_step(g.s);
    if (rc != SQLITE_DONE) Fail("SQL error", sql, rc);
    return sqlite3_changes(db_);
  };
  auto keyWhere = [&](const std::vector<Variant>& keyValues, std::vector<const Variant*>& binds) {
    std::string w;
    for (size_t k = 0; k < keyCols.size(); ++k) {
      const Variant& v = keyValues[keyField[k]];
      if (v.IsNull() || v.IsEmpty()) refuse("a row has no value in key column " + keyCols[k]);
      w += (k ? " AND " : " WHERE ") + QuoteIdent(keyCols[k]) + " = ?";
      if (rs.Info(keyField[k]).guidKey) w += std::string(" COLLATE ") + kGuidCollation;
      binds.push_back(&v);
    }
    return w;
  };

  InTransaction("UPDATE " + table, [&] {
    for (const Recordset::Change& ch : changes) {
      const std::vector<Variant>& values = *ch.values;
      const std::vector<Variant>& before = ch.original ? *ch.original : values;
      std::vector<const Variant*> binds;
      if (ch.state == RowState::New) {
        std::string cols, marks;
        for (size_t f : writable) {
          if (values[f].IsEmpty()) continue;  // never assigned: the column default applies
          cols += (cols.empty() ? "" : ", ") + QuoteIdent(rs.Info(f).baseColumn);
          marks += marks.empty() ? "?" : ", ?";
          binds.push_back(&values[f]);
        }
        std::string sql = cols.empty() ? "INSERT INTO " + QuoteIdent(table) + " DEFAULT VALUES"
                                       : "INSERT INTO " + QuoteIdent(table) + " (" + cols +
                                             ") VALUES (" + marks + ")";
        run(sql, binds);
        if (integerKey && values[keyField[0]].IsEmpty())
          rs.SetRowValue(ch.row, keyField[0], Variant::Whole(sqlite3_last_insert_rowid(db_)));
      } else if (ch.state == RowState::Modified) {
        std::string set;
        for (size_t f : writable) {
          if (SameValue(values[f], before[f])) continue;
          set += (set.empty() ? " SET " : ", ") + QuoteIdent(rs.Info(f).baseColumn) + " = ?";
          binds.push_back(&values[f]);
        }
        if (set.empty()) continue;
        std::string sql = "UPDATE " + QuoteIdent(table) + set + keyWhere(before, binds);
        if (run(sql, binds) == 0) refuse("a changed row is no longer in table " + table);
      } else if (ch.state == RowState::Deleted) {
        std::string sql = "DELETE FROM " + QuoteIdent(table) + keyWhere(before, binds);
        if (run(sql, binds) == 0) refuse("a deleted row is no longer in table " + table);
      }
    }
    // Read the written rows back: the recordset then holds what the database made of them
    // (column defaults, numbers from text, 1 for True), as a new query would show it.
    std::string cols;
    std::vector<FieldInfo> infos;
    for (size_t f : writable) {
      cols += (cols.empty() ? "" : ", ") + QuoteIdent(rs.Info(f).baseColumn);
      infos.push_back(rs.Info(f));
    }
    for (const Recordset::Change& ch : changes) {
      if (ch.state != RowState::New && ch.state != RowState::Modified) continue;
      std::vector<const Variant*> binds;
      std::string sql =
          "SELECT " + cols + " FROM " + QuoteIdent(table) + keyWhere(*ch.values, binds);
      StmtGuard g;
      int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &g.s, nullptr);
      if (rc != SQLITE_OK) Fail("SQL error", sql, rc);
      for (size_t i = 0; i < binds.size(); ++i) Bind(g.s, static_cast<int>(i + 1), *binds[i]);
      rc = sqlite3_step(g.s);
      if (rc != SQLITE_ROW) Fail("SQL error", sql, rc);
      auto row = Recordset::Create(infos);
      for (size_t i = 0; i < infos.size(); ++i)
        LoadValue(*row, g.s, static_cast<int>(i), ConvFor(infos[i].type));
      row->EndLoadedRow();
      for (size_t i = 0; i < infos.size(); ++i) rs.SetRowValue(ch.row, writable[i], row->Value(i));
    }
  });
  rs.AcceptChanges();
}

}  // namespace fern::db
