#include "services/cImmoHelperV2.h"

#include <cctype>
#include <charconv>
#include <unordered_set>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/process.h"
#include "platform/vb.h"
#include "services/cFTPTransferV2.h"

namespace fern {

namespace {

// A department given as a whole number ("3", " 12 ", "-1"), normalised; nothing otherwise.
bool WholeNumber(const std::string& text, std::string& out) {
  std::string t = vb::Trim(text);
  if (t.empty()) return false;
  int64_t n = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), n);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
  out = std::to_string(n);
  return true;
}

// The field equals the whole number n (Null and text that is no number do not).
bool NumberIs(const Variant& v, double n) {
  if (v.IsNull() || v.IsEmpty()) return false;
  if (v.IsString()) {
    double d = 0;
    return vb::ParseNumber(vb::Trim(v.str()), d) && d == n;
  }
  try {
    return vb::CDbl(v) == n;
  } catch (const HostError&) {
    return false;
  }
}

bool IsNullDate(const Variant& v) {
  return v.IsNull() || v.IsEmpty() || (v.IsString() && vb::Trim(v.str()).empty());
}

int16_t Flag(bool b) { return b ? cImmoHelperV2::kTrue : cImmoHelperV2::kFalse; }

}  // namespace

cImmoHelperV2::cImmoHelperV2() = default;
cImmoHelperV2::~cImmoHelperV2() = default;

void cImmoHelperV2::CheckInit(const char* procedure) const {
  if (!KVApp_ || !dal_)
    throw HostError(err::kObjectNotSet, "cImmoHelperV2 ist nicht initialisiert", procedure);
}

cUtil& cImmoHelperV2::Util() const { return KVApp_->Util(); }

std::string cImmoHelperV2::HostIni() const { return folder_ + "\\kavantor.ini"; }

bool cImmoHelperV2::InheritanceOn() const {
  return cUtil::b(
      Variant(Util().IniGet("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "1", HostIni())));
}

std::shared_ptr<db::Recordset> cImmoHelperV2::Query(const std::string& sql) const {
  return dal_->GetRecordset(strConnect_, sql);
}

std::string cImmoHelperV2::DsnKey(const Variant& dsn) {
  std::string out;
  for (char c : cUtil::k(dsn))
    if (c != '{' && c != '}' && c != ' ')
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool cImmoHelperV2::NoParent(const Variant& dsn) { return DsnKey(dsn).empty(); }

// --- set-up ------------------------------------------------------------------------------------

void cImmoHelperV2::Init(const std::string& strConnect, cFernDispatcher& KVApp) {
  strConnect_ = strConnect;
  m_oFtpTrans = std::make_unique<cFTPTransferV2>();
  Relay(*m_oFtpTrans);
  KVApp_ = &KVApp;
  folder_ = KVApp.Folder();
  TransferHost transferHost;
  transferHost.Util = &KVApp.Util();
  transferHost.DBIni = &KVApp.DBIni();
  transferHost.Folder = folder_;
  m_oFtpTrans->Init(strConnect, transferHost);

  dal_ = Session().g_oDal ? Session().g_oDal : std::make_shared<cDal>();
  dal_->Init(folder_ + "\\sql\\sql.ini");
  kvUtil_ = Session().g_oKVUtil ? Session().g_oKVUtil : std::make_shared<cKVUtil>();

  stdRS_ = Query("Select * from STD");
  m_strMMDateiKurz = stdRS_->Eof() ? "" : cUtil::k(stdRS_->Value("MMDateiKurz"));
  m_strMMDateiLang = stdRS_->Eof() ? "" : cUtil::k(stdRS_->Value("MMDateiLang"));
}

cFTPTransferV2& cImmoHelperV2::FtpTransfer() {
  if (!m_oFtpTrans)
    throw HostError(err::kObjectNotSet, "Die Übertragungsschicht ist nicht initialisiert",
                    "cImmoHelperV2");
  return *m_oFtpTrans;
}

std::string cImmoHelperV2::strTransLang() const {
  return m_oFtpTrans ? m_oFtpTrans->m_strTransLang : std::string();
}

void cImmoHelperV2::strTransLang(const std::string& value) { FtpTransfer().m_strTransLang = value; }

// --- listing selection ----------------------------------------------------------------------

std::string cImmoHelperV2::BoersenObjekteSql(db::Recordset& rsBoersen,
                                             const std::string& strAbteilung) const {
  CheckInit("GetBoersenObjekte");
  std::string sql =
      " Select obj.*, boersenobj.kurz, boersenobj.lang, boersenobj.adresse_zeigen, "
      "boersenobj.status, boersenobj.letzte_uebertragung, boersenobj.boersen_exp_id";
  sql += ", boersenobj.TransLang ";
  for (const std::string& lcid : KVApp_->Language().ContentLangList())
    sql += ", boersenobj.TransLang_LCID" + lcid;
  sql += " FROM boersenobj inner join obj on boersenobj.obj_dsn = obj.dsn ";
  sql +=
      " WHERE obj.FArchiv<2 AND (boersenobj.kurz=1 or boersenobj.lang=1 or boersenobj.status=1 )"
      "AND boersenobj.boersen_dsn = " +
      cUtil::SqlUid(rsBoersen.Value("DSN"));
  if (!strAbteilung.empty()) {
    std::string number;
    sql += " AND obj.abteilung = " +
           (WholeNumber(strAbteilung, number) ? number : cUtil::SqlStr(Variant(strAbteilung)));
  }
  sql += " order by Kennung ";
  return sql;
}

std::shared_ptr<db::Recordset> cImmoHelperV2::GetBoersenObjekte(db::Recordset& rsBoersen,
                                                                const std::string& strAbteilung) {
  std::string sql = BoersenObjekteSql(rsBoersen, strAbteilung);
  std::string copyRoot = vb::UCase(vb::Trim(
      Util().IniGet("IS24Transfer", "CopyObjRootDetails", "", folder_ + "\\kavantor.INI")));
  double n = 0;
  if (vb::ParseNumber(copyRoot, n) && n == 1) {
    RaiseWorkState(state::kPerListing,
                   KVApp_->Language().TranslateString("Vorbereitung ProvVererbung"));
    return dal_->GetRecordset(strConnect_, sql, 4);
  }
  return dal_->GetRecordset(strConnect_, sql);
}

cImmoHelperV2::ListingState cImmoHelperV2::GetBoersenObjStatus(db::Recordset& rsBoersen,
                                                               db::Recordset& rsObj) {
  CheckInit("GetBoersenObjStatus");
  const bool S = cUtil::bln(rsObj.Value("status"));
  const bool KL = cUtil::bln(rsObj.Value("kurz")) || cUtil::bln(rsObj.Value("lang"));
  const bool T = cUtil::bln(rsObj.Value("transfer"));
  const Variant& lastTransfer = rsObj.Value("letzte_uebertragung");
  const Variant& touch = rsObj.Value("TOUCH");
  const bool FV =
      NumberIs(rsBoersen.Value("teil_or_voll"), 0) && NumberIs(rsBoersen.Value("ftp_or_http"), 1);

  // Never transferred (Null or the zero date) and an unknown change time both mean changed.
  const double L = IsNullDate(lastTransfer) ? 0 : cUtil::d(lastTransfer);
  bool C = L == 0 || IsNullDate(touch) || cUtil::d(touch) > L;

  Variant parent = rsObj.Value("OBJ_DSN");
  if (!FV && !C && !NoParent(parent) && InheritanceOn()) {
    std::unordered_set<std::string> visited{DsnKey(rsObj.Value("DSN"))};
    while (!C && !NoParent(parent) && visited.insert(DsnKey(parent)).second) {
      auto rs = Query(" Select * from obj where DSN = " + cUtil::SqlUid(parent));
      if (rs->Eof()) break;
      const Variant& parentTouch = rs->Value("TOUCH");
      C = IsNullDate(parentTouch) || cUtil::d(parentTouch) > L;
      parent = rs->Value("OBJ_DSN");
    }
  }

  bool send = false;
  if (!T) send = FV ? KL : (C && (KL || S));
  bool del = false;
  if (S) {
    if (KL)
      del = T && FV;
    else
      del = T ? (FV && C) : true;
  }
  return {Flag(send), Flag(del), Flag(!del), Flag(cUtil::bln(rsObj.Value("lang"))),
          Flag(cUtil::bln(rsObj.Value("adresse_zeigen")))};
}

// --- outside programs -------------------------------------------------------------------------

int32_t cImmoHelperV2::WaitForProcess(const std::string& strCommandLine, int32_t) {
  std::vector<std::string> argv = SplitCommandLine(strCommandLine);
  ProcessOptions options;
  options.cancelOnEsc = true;
  ProcessResult result = RunProcess(argv, options);
  switch (result.outcome) {
    case ProcessOutcome::kExited:
      return result.exitCode;
    case ProcessOutcome::kStartFailed:
      throw HostError(
          err::kFileNotFound,
          "Programm kann nicht gestartet werden: " + strCommandLine + " (" + result.error + ")",
          "WaitForProcess");
    default:
      return -1;
  }
}

// --- transfer layer ---------------------------------------------------------------------------

bool cImmoHelperV2::FtpSendFolder(const std::string& host, const std::string& user,
                                  const std::string& password, const std::string& localFolder,
                                  const std::string& remoteFolder, const std::string& extensions,
                                  const std::string& proxyRule, bool strict) {
  return FtpTransfer().FtpSendFolder(host, user, password, localFolder, remoteFolder, extensions,
                                     proxyRule, strict);
}

void cImmoHelperV2::FtpSendFolder(const std::string& host, const std::string& user,
                                  const std::string& password, const std::string& localFolder,
                                  const std::string& remoteFolder, const std::string& extensions,
                                  const std::string& proxyRule, bool strict, bool& success) {
  success =
      FtpSendFolder(host, user, password, localFolder, remoteFolder, extensions, proxyRule, strict);
}

bool cImmoHelperV2::HttpTransfer(const std::string& URL, const std::string& method,
                                 const std::string& proxyRule) {
  return FtpTransfer().HttpTransfer(URL, method, proxyRule);
}

void cImmoHelperV2::HttpTransfer(const std::string& URL, const std::string& method,
                                 const std::string& proxyRule, bool& success) {
  success = HttpTransfer(URL, method, proxyRule);
}

std::string cImmoHelperV2::GetResponseText() { return FtpTransfer().GetResponseText(); }

XmlDocumentPtr cImmoHelperV2::HTTPRequest(const std::string& method, const XmlDocumentPtr& body,
                                          const std::string& answerFolder,
                                          const std::string& fileName, const std::string& URL,
                                          std::string& user, const std::string& password) {
  return FtpTransfer().HTTPRequest(method, body, answerFolder, fileName, URL, user, password);
}

std::string cImmoHelperV2::EncodeFile(const std::string& path) {
  return cFTPTransferV2::EncodeFile(path);
}

std::string cImmoHelperV2::FormatDecimal(const std::string& format, const std::string& value) {
  if (value.empty()) return {};
  return cFTPTransferV2::FormatDecimal(format, value);
}

}  // namespace fern
