#include "host/cUtil.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "host/host_args.h"
#include "host/host_cipher.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/msgbox.h"
#include "platform/private_temp.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "platform/utf8.h"
#include "platform/vb.h"
#include "platform/waits.h"

namespace fern {
namespace {

using host::ValueOf;

std::filesystem::path Real(const std::string& hostPath) { return ResolveHostPath(hostPath); }

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in upper case, or "" when `s` is no key.
std::string NormalGuid(std::string_view s) {
  s = text::TrimBlanks(s);
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = s.substr(1, s.size() - 2);
  std::string hex;
  if (s.size() == 36) {
    for (size_t i = 0; i < 36; ++i) {
      bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash ? s[i] != '-' : !IsHex(s[i])) return {};
      if (!dash) hex += s[i];
    }
  } else if (s.size() == 32) {
    for (char c : s) {
      if (!IsHex(c)) return {};
      hex += c;
    }
  } else {
    return {};
  }
  hex = text::UpperAscii(hex);
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20) + "}";
}

std::string Quoted(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

}  // namespace

// --- INI ------------------------------------------------------------------------------------

std::string cUtil::IniGet(const std::string& section, const std::string& key,
                          const std::string& def, const std::string& file) const {
  return fern::IniGet(section, key, def, Real(file));
}

void cUtil::IniWrite(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) const {
  fern::IniWrite(section, key, value, Real(file));
}

void cUtil::IniCacheReset() const { fern::IniCacheReset(); }

// --- conversions ----------------------------------------------------------------------------

std::string cUtil::k(const Variant& v) { return host::TextOf(ValueOf(v)); }

bool cUtil::b(const Variant& raw) {
  Variant v = ValueOf(raw);
  switch (v.type()) {
    case VType::Empty:
    case VType::Null:
      return false;
    case VType::Boolean:
      return v.boolVal();
    case VType::String: {
      std::string t(text::TrimBlanks(v.str()));
      if (t.empty()) return false;
      if (text::EqualsNoCase(t, "True") || text::EqualsNoCase(t, "Wahr")) return true;
      double n = 0;
      if (vb::ParseNumber(t, n)) return n != 0;
      return false;
    }
    default:
      try {
        return vb::CDbl(v) != 0;
      } catch (const HostError&) {
        return false;
      }
  }
}

double cUtil::d(const Variant& raw) {
  Variant v = ValueOf(raw);
  if (v.IsNull() || v.IsEmpty()) return 0;
  if (v.type() == VType::Date) return v.dateVal();
  if (v.IsString()) {
    double serial = 0;
    return vb::ParseDate(v.str(), serial) ? serial : 0;
  }
  try {
    return vb::CDate(v);
  } catch (const HostError&) {
    return 0;
  }
}

double cUtil::my_val(const std::string& textIn) {
  std::string_view t = text::TrimBlanks(textIn);
  size_t i = 0;
  std::string num;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) num += t[i++];
  size_t start = i;
  while (i < t.size() &&
         (std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == '.' || t[i] == ','))
    ++i;
  std::string body(t.substr(start, i - start));
  while (!body.empty() && (body.back() == '.' || body.back() == ',')) body.pop_back();
  if (body.empty()) return 0;

  size_t lastDot = body.rfind('.'), lastComma = body.rfind(',');
  char decimal = 0;
  if (lastDot != std::string::npos && lastComma != std::string::npos) {
    decimal = lastDot > lastComma ? '.' : ',';
  } else if (lastComma != std::string::npos) {
    decimal = body.find(',') == lastComma ? ',' : 0;  // "1,234,567" groups thousands
  } else if (lastDot != std::string::npos) {
    // A single point with other than three digits behind it is a decimal point ("12.5");
    // "1.234" and "1.234.567" group thousands, as the host's German texts write them.
    bool single = body.find('.') == lastDot;
    decimal = single && body.size() - lastDot - 1 != 3 ? '.' : 0;
  }
  for (char c : body) {
    if (c == decimal)
      num += '.';
    else if (c != '.' && c != ',')
      num += c;
  }
  return std::strtod(num.c_str(), nullptr);
}

double cUtil::RoundKorrekt(double value, int32_t places) {
  places = std::clamp(places, 0, 15);
  double f = std::pow(10.0, places);
  double y = std::fabs(value) * f;
  // Binary fractions such as 2.675 * 100 = 267.49999... are meant as the decimal they print as.
  double r = std::floor(y + 0.5 + y * 1e-14);
  return std::copysign(r / f, value);
}

std::string cUtil::SqlStr(const Variant& raw) {
  Variant v = ValueOf(raw);
  if (v.IsNull()) return "NULL";
  return Quoted(host::TextOf(v));
}

std::string cUtil::SqlUid(const Variant& raw) {
  Variant v = ValueOf(raw);
  std::string t = host::TextOf(v);
  if (text::TrimBlanks(t).empty()) return "NULL";
  std::string g = NormalGuid(t);
  return g.empty() ? Quoted(t) : "'" + g + "'";
}

std::string cUtil::SQLDate(const Variant& raw) {
  Variant v = ValueOf(raw);
  if (v.IsNull() || v.IsEmpty() || (v.IsString() && text::TrimBlanks(v.str()).empty()))
    return "NULL";
  double serial = vb::CDate(v);
  int y, mo, dd, h, mi, s, ms;
  vb::SplitDate(serial, y, mo, dd, h, mi, s, ms);
  char buf[40];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d'", y, mo, dd, h, mi, s);
  return buf;
}

// --- lists and text -------------------------------------------------------------------------

std::string cUtil::StrListNr(const std::string& list, const std::string& sep, int32_t n) {
  if (n < 1 || list.empty()) return {};
  if (sep.empty()) return n == 1 ? list : std::string();
  size_t start = 0;
  for (int32_t i = 1;; ++i) {
    size_t end = list.find(sep, start);
    if (i == n) return list.substr(start, end == std::string::npos ? end : end - start);
    if (end == std::string::npos) return {};
    start = end + sep.size();
  }
}

int32_t cUtil::StrListCount(const std::string& list, const std::string& sep) {
  if (list.empty()) return 0;
  if (sep.empty()) return 1;
  int32_t count = 1;
  for (size_t p = list.find(sep); p != std::string::npos; p = list.find(sep, p + sep.size()))
    ++count;
  return count;
}

std::string cUtil::StrList_DeleteFirst(std::string& list, const std::string& sep) {
  size_t p = sep.empty() ? std::string::npos : list.find(sep);
  std::string first;
  if (p == std::string::npos) {
    first = list;
    list.clear();
  } else {
    first = list.substr(0, p);
    list.erase(0, p + sep.size());
  }
  return first;
}

bool cUtil::beg(const std::string& textIn, const std::string& start) {
  return text::FoldCase(textIn).rfind(text::FoldCase(start), 0) == 0;
}

std::string cUtil::CutRight(std::string& textIn, const std::string& ending) {
  if (!ending.empty() && textIn.size() >= ending.size() &&
      textIn.compare(textIn.size() - ending.size(), ending.size(), ending) == 0)
    textIn.erase(textIn.size() - ending.size());
  return textIn;
}

std::string cUtil::Quote(const std::string& textIn) { return "\"" + textIn + "\""; }

std::string cUtil::OnlyAlphaChars(const std::string& textIn, const std::string& keep) {
  std::string out;
  for (size_t i = 0; i < textIn.size();) {
    size_t start = i;
    char32_t c = utf8::Next(textIn, i);
    std::string ch = textIn.substr(start, i - start);
    bool alnum = c < 128 && std::isalnum(static_cast<int>(c));
    if (alnum || (!ch.empty() && keep.find(ch) != std::string::npos)) out += ch;
  }
  return out;
}

std::string cUtil::Replace_GermSonderzeichen(const std::string& textIn) {
  static const std::pair<const char*, const char*> map[] = {
      {"ä", "ae"}, {"ö", "oe"}, {"ü", "ue"}, {"Ä", "Ae"}, {"Ö", "Oe"}, {"Ü", "Ue"}, {"ß", "ss"}};
  std::string out = textIn;
  for (auto [from, to] : map) out = vb::Replace(out, from, to);
  return out;
}

bool cUtil::isGuid(const std::string& textIn) { return !NormalGuid(textIn).empty(); }

std::string cUtil::removeBrace(std::string& dsn) {
  std::string_view t = text::TrimBlanks(dsn);
  if (!t.empty() && t.front() == '{') t.remove_prefix(1);
  if (!t.empty() && t.back() == '}') t.remove_suffix(1);
  dsn = std::string(t);
  return dsn;
}

// --- files ----------------------------------------------------------------------------------

std::string cUtil::GetFileName(const std::string& path) {
  size_t p = path.find_last_of("\\/");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string cUtil::GetFileExtender(const std::string& path) {
  std::string name = GetFileName(path);
  size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p + 1);
}

std::string cUtil::GetTempPath() {
  std::string t = PrivateTempFolder().string();
  if (t.back() != '/') t += '/';
  return t;
}

std::string cUtil::GetTempFile(const std::string& extension) {
  static std::atomic<unsigned> counter{0};
  std::string ext = extension;
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  for (;;) {
    std::string p = GetTempPath() + "fern" + std::to_string(::getpid()) + "_" +
                    std::to_string(++counter) + (ext.empty() ? "" : "." + ext);
    std::error_code ec;
    if (!std::filesystem::exists(p, ec)) return p;
  }
}

bool cUtil::Exist(const std::string& path) {
  if (text::TrimBlanks(path).empty()) return false;
  std::error_code ec;
  try {
    return std::filesystem::exists(Real(path), ec);
  } catch (const HostError&) {
    return false;  // an unmapped drive or a network path does not exist here
  }
}

void cUtil::Kill(const std::string& pathOrMask) {
  std::filesystem::path real = Real(pathOrMask);
  std::string name = real.filename().string();
  std::error_code ec;
  if (name.find_first_of("*?") == std::string::npos) {
    if (std::filesystem::is_regular_file(real, ec)) std::filesystem::remove(real, ec);
  } else {
    for (const auto& f : FindFiles(real.parent_path(), name)) std::filesystem::remove(f, ec);
  }
  if (ec)
    throw HostError(err::kPathFileAccess, "Datei kann nicht gelöscht werden: " + real.string(),
                    "Kill");
}

std::string cUtil::File2Str(const std::string& path) { return ReadText(Real(path)); }

void cUtil::MyChdir(const std::string& path) {
  std::error_code ec;
  std::filesystem::current_path(Real(path), ec);
  if (ec) throw HostError(76, "Pfad nicht gefunden: " + path, "MyChdir");
}

int64_t cUtil::FileLen(const std::string& path) {
  std::error_code ec;
  std::filesystem::path real = Real(path);
  auto size = std::filesystem::file_size(real, ec);
  if (ec) throw HostError(err::kFileNotFound, "Datei nicht gefunden: " + path, "FileLen");
  return static_cast<int64_t>(size);
}

void cUtil::MkFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::path real = Real(path);
  std::filesystem::create_directories(real, ec);
  if (ec || !std::filesystem::is_directory(real, ec))
    throw HostError(err::kPathFileAccess, "Ordner kann nicht angelegt werden: " + path, "MkFolder");
}

void cUtil::LogFile(const std::string& path, const std::string& line) {
  AppendLine(Real(path), line);
}

// --- outside programs -----------------------------------------------------------------------

void cUtil::StartApplication(const std::string& program, const std::string& arguments) {
  std::vector<std::string> argv{Real(program).string()};
  for (auto& a : SplitCommandLine(arguments)) argv.push_back(std::move(a));
  std::string failure = StartDetached(argv);
  if (!failure.empty())
    throw HostError(err::kFileNotFound,
                    "Programm kann nicht gestartet werden: " + program + " (" + failure + ")",
                    "StartApplication");
}

void cUtil::StartDoc(const std::string& pathOrAddress) {
  bool address =
      pathOrAddress.find("://") != std::string::npos || pathOrAddress.rfind("mailto:", 0) == 0;
  std::string target = address ? pathOrAddress : Real(pathOrAddress).string();
  // xdg-open without a viewer for the file ends at once with a code of its own.
  std::string failure = StartDetached({"xdg-open", target}, {}, std::chrono::milliseconds(1500));
  if (!failure.empty())
    throw HostError(err::kFileNotFound,
                    "Kann nicht geöffnet werden: " + pathOrAddress + " (" + failure + ")",
                    "StartDoc");
}

int32_t cUtil::RunAndWait(const std::string& commandLine) {
  std::vector<std::string> argv = SplitCommandLine(commandLine);
  if (argv.empty()) return -1;
  if (argv[0].find_first_of("\\/") != std::string::npos) argv[0] = Real(argv[0]).string();
  ProcessResult r = RunProcess(argv);
  if (r.outcome == ProcessOutcome::kStartFailed)
    throw HostError(err::kFileNotFound,
                    "Programm kann nicht gestartet werden: " + argv[0] + " (" + r.error + ")",
                    "RunAndWait");
  return r.outcome == ProcessOutcome::kExited ? r.exitCode : -1;
}

void cUtil::Sleep(int32_t ms) { fern::Sleep(ms); }
void cUtil::Wait(bool busy) { fern::Wait(busy); }
bool cUtil::WaitIsEsc() { return EscPressed(); }

// --- cipher ---------------------------------------------------------------------------------

std::string cUtil::Decrypt(const std::string& stored, int32_t key) {
  return host::Decipher(stored, key);
}

std::string cUtil::Encrypt(const std::string& plain, int32_t key) {
  return host::Encipher(plain, key);
}

}  // namespace fern

namespace fern {

// --- message boxes --------------------------------------------------------------------------

int16_t cUtil::MessageBox(const std::string& text, int32_t flags, const std::string& title) const {
  return static_cast<int16_t>(Answerer().MessageBox(text, flags, title));
}

bool cUtil::MsgAsk(const std::string& question, bool defaultAnswer) const {
  return Answerer().MsgAsk(question, defaultAnswer);
}

void cUtil::msgstop(const std::string& text) const {
  Answerer().MessageBox(text, mb::kOkOnly | mb::kCritical, {});
}

}  // namespace fern
