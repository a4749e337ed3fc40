// What the demo host's data files share: the fixed keys, SQL literals and the statement batch.
// The web-site data (demo_site_*.cpp) adds its rows through these to the same batch.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "db/connection.h"
#include "host/cUtil.h"
#include "platform/variant.h"
#include "platform/vb.h"

namespace fern::host::demo_data {

// --- keys and literals ------------------------------------------------------------------------

enum Table : uint32_t {
  kBoersen = 1,
  kObj,
  kFldart,
  kFldartop,
  kObjDet,
  kBen,
  kStd,
  kAd,
  kBoersenObj,
  kArt,
  kAkt,
  kAktFile,
  kBlob,
  kProjekt,
  kPlaceholder,
  kPicture,
  kDetails,
  kDetailsDet,
  kAnf,
  kAnfDet,
};

inline std::string Key(Table t, int n) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "{%08X-0000-4000-8000-%012X}", 0xDE000000u + t,
                static_cast<unsigned>(n));
  return buf;
}

inline std::string Literal(const Variant& v) {
  switch (v.type()) {
    case VType::Null:
    case VType::Empty:
      return "NULL";
    case VType::Boolean:
      return v.boolVal() ? "1" : "0";
    case VType::Integer:
    case VType::Long:
      return std::to_string(vb::CLng(v));
    case VType::Double: {
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, v.doubleVal());
      return std::string(buf, r.ptr);
    }
    case VType::Date:
      return cUtil::SQLDate(v);
    default:
      return cUtil::SqlStr(v);
  }
}

// Collects INSERT statements and runs them as one transaction.
class Batch {
 public:
  void Insert(const char* table, const std::vector<std::pair<const char*, Variant>>& cols) {
    std::string names, values;
    for (const auto& [name, value] : cols) {
      if (!names.empty()) {
        names += ", ";
        values += ", ";
      }
      names += name;
      values += Literal(value);
    }
    sql_ += std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + values + ");\n";
    ++rows_;
  }
  void Raw(const std::string& statement) { sql_ += statement + ";\n"; }
  void Run(db::Connection& conn) { conn.Execute(sql_); }
  int rows() const { return rows_; }

 private:
  std::string sql_;
  int rows_ = 0;
};

inline Variant Date(int y, int m, int d, int h = 0, int mi = 0) {
  return Variant::Date(vb::DateSerial(y, m, d) + vb::TimeSerial(h, mi, 0));
}
inline Variant L(int32_t v) { return Variant(v); }
inline Variant D(double v) { return Variant(v); }
inline Variant S(const std::string& v) { return Variant(v); }
inline const Variant kNull = Variant::Null();

constexpr int kListings = 30;
constexpr int kFirstChild = 26;  // listings 26..30 are units of listings 1 and 2
constexpr int kPicturesPerListing = 3;

inline int ParentOf(int n) { return n >= kFirstChild ? 1 + (n % 2) : 0; }
inline bool Rent(int n) { return n % 3 == 0; }

// The web site's share of the demo: listings' texts, field values, requests and members;
// appointments, pictures and documents; tracked listings and activities.
void SiteListingData(Batch& b);
void SiteTextData(Batch& b);
void SiteMediaData(Batch& b, const std::filesystem::path& folder);
void SiteTrackingData(Batch& b, const std::filesystem::path& folder);

}  // namespace fern::host::demo_data
