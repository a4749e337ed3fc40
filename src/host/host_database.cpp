#include "host/host_database.h"

#include <map>

#include "host/cUtil.h"
#include "host/schema_sql.h"
#include "platform/host_error.h"
#include "platform/text.h"

namespace fern::host {
namespace {

std::map<std::string, std::unique_ptr<db::Connection>>& Open() {
  static std::map<std::string, std::unique_ptr<db::Connection>> open;
  return open;
}

}  // namespace

std::string MakeConnectString(const std::string& databasePath) {
  std::string escaped;
  for (char c : databasePath) {
    escaped += c;
    if (c == '}') escaped += '}';
  }
  return "Provider=FernSQLite;Data Source={" + escaped + "}";
}

std::string DatabasePathOf(std::string_view connect) {
  size_t i = 0;
  while (i < connect.size()) {
    size_t eq = connect.find('=', i);
    if (eq == std::string_view::npos) break;
    std::string key(text::TrimBlanks(connect.substr(i, eq - i)));
    size_t v = eq + 1;
    std::string value;
    if (v < connect.size() && connect[v] == '{') {
      size_t j = v + 1;
      for (; j < connect.size(); ++j) {
        if (connect[j] == '}') {
          if (j + 1 < connect.size() && connect[j + 1] == '}') {
            value += '}';
            ++j;
            continue;
          }
          break;
        }
        value += connect[j];
      }
      i = connect.find(';', j);
    } else {
      size_t semi = connect.find(';', v);
      value = std::string(
          text::TrimBlanks(connect.substr(v, semi == std::string_view::npos ? semi : semi - v)));
      i = semi;
    }
    if (text::EqualsNoCase(key, "Data Source") && !value.empty()) return value;
    if (i == std::string_view::npos) break;
    ++i;
  }
  throw HostError(err::kInvalidValue,
                  "Verbindungszeichenfolge ohne Datenbank: " + std::string(connect), "cDal");
}

db::Connection& Database(std::string_view connect) {
  std::string path = DatabasePathOf(connect);
  auto& open = Open();
  auto it = open.find(path);
  if (it != open.end()) return *it->second;
  std::unique_ptr<db::Connection> conn = db::Connection::Open(path);
  RegisterHostProcedures(*conn);
  return *open.emplace(path, std::move(conn)).first->second;
}

void CloseDatabases() { Open().clear(); }

std::string SchemaSql() {
  std::string out;
  for (const std::string& line : text::SplitLines(kSchemaSql)) {
    if (text::TrimBlanks(line).substr(0, 2) == "--") continue;
    out += line;
    out += '\n';
  }
  return out;
}

void CreateHostSchema(db::Connection& conn) {
  conn.Execute(SchemaSql());
  RegisterHostProcedures(conn);
}

void RegisterHostProcedures(db::Connection& conn) {
  // Activities of a listing, oldest first; the key comes without braces.
  conn.RegisterProcedure("ObjTracking", [](db::Connection& c, const std::vector<std::string>& a) {
    std::string key = a.empty() ? std::string() : a[0];
    return c.Query(
        "SELECT AKT.DSN AS DSN, AKT.DATUM AS DATUM, AKT.OBJTRACKINGSTATUS AS OBJTRACKINGSTATUS, "
        "AKTIVITÄTENARTEN.Name AS Name, AKT.BETREFF AS Subject, AKT.NOTIZ AS Notiz, "
        "AKT.KENNUNG AS Kennung FROM AKT LEFT JOIN AKTIVITÄTENARTEN ON "
        "AKT.ART_DSN = AKTIVITÄTENARTEN.DSN WHERE AKT.OBJ_DSN = " +
        cUtil::SqlStr(Variant(key)) + " ORDER BY AKT.DATUM, AKT.DSN");
  });
  // Files of one activity; the portal argument does not narrow them.
  conn.RegisterProcedure("TrackingFiles", [](db::Connection& c, const std::vector<std::string>& a) {
    std::string akt = a.size() > 1 ? a[1] : std::string();
    return c.Query(
        "SELECT FILENAME AS TRACKFILENAME, HASATTACH, AKT_DSN AS AKTDSN, BLOB_DSN AS FILEDSN "
        "FROM AKTFILES WHERE AKT_DSN = " +
        cUtil::SqlStr(Variant(akt)) + " ORDER BY FILENAME");
  });
}

}  // namespace fern::host
