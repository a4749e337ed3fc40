#include "restportal/cKavantorAPIMini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "core/host_session.h"
#include "host/cCryptUtil.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "restportal/secret_mask.h"

namespace fern {

namespace {

constexpr const char* kBenPlaceholder = "{BEN.DSN}";
constexpr const char* kPortalPlaceholder = "{Portal.DSN}";

std::string JoinPath(std::string folder, std::string name) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  while (!name.empty() && (name.front() == '\\' || name.front() == '/')) name.erase(0, 1);
  return folder + "\\" + name;
}

// Every CR LF pair dropped in one pass; a lone CR or LF stays.
std::string WithoutLineEnds(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
      ++i;
    else
      out += s[i];
  }
  return out;
}

std::string WithoutBraces(std::string dsn) { return cUtil::removeBrace(dsn); }

int32_t LongOf(const std::string& text) {
  const double v = vb::Val(vb::Trim(text));
  if (v > 2147483647.0 || v < -2147483648.0)
    throw HostError(err::kOverflow, "Überlauf: " + text, "RefreshValues");
  return vb::CLng(Variant(v));
}

// Appends one line (Windows-1252, CR LF) to a file only this user may read; a link in its
// place or anything but a plain file is left alone.
void AppendPrivateLine(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
    if ((st.st_mode & 077) != 0) ::fchmod(fd, 0600);
    const std::string bytes = cp1252::FromUtf8(line) + "\r\n";
    if (::write(fd, bytes.data(), bytes.size()) < 0) {
      // A log line lost is no reason to fail the request.
    }
  }
  ::close(fd);
}

}  // namespace

cKavantorAPIMini::cKavantorAPIMini() = default;
cKavantorAPIMini::~cKavantorAPIMini() = default;

void cKavantorAPIMini::Init(const std::string& strKavantorPath,
                            const std::string& strConnectionString, const std::string& strUserDSN) {
  if (strConnectionString.empty()) return;
  HostSession& s = Session();
  util_ = s.g_oUtil;
  dal_ = s.g_oDal;
  crypt_ = s.g_oCryptUtil;
  if (!util_ || !dal_ || !crypt_)
    throw HostError(err::kObjectNotSet, "Keine Host-Sitzung", "cKavantorAPIMini.Init");
  m_oRestAPI = std::make_unique<cRestAPI>();
  connect_ = strConnectionString;
  kvPath_ = strKavantorPath;
  hostIni_ = JoinPath(strKavantorPath, "kavantor.ini");
  dbIni_ = JoinPath(strKavantorPath, "\\sql\\sql.ini");
  LoadUserCredentials(strUserDSN);
  Debug("m_oRestAPI.Init in cKavantorAPIMini");
  m_oRestAPI->Init(strConnectionString, strKavantorPath);
  RefreshValues();
}

void cKavantorAPIMini::LoadUserCredentials(const std::string& strUserDSN) {
  if (!cUtil::isGuid(strUserDSN)) return;
  benDsn_ = strUserDSN;
  Debug("m_strBenDSN:" + strUserDSN);
  auto rs = dal_->GetRecordset(
      connect_, "Select DSN,Login_Name,Paßwort FROM BEN WHERE DSN = '" + strUserDSN + "'");
  if (rs->Eof()) return;
  login_ = cUtil::k(rs->Value("LOGIN_NAME"));
  const std::string stored = cUtil::k(rs->Value("Paßwort"));
  if (stored.empty() || stored == "C") {
    password_.clear();
    return;
  }
  password_ = crypt_->dechiffre(stored, host::kUserPasswordKey);
  if (password_.empty()) password_ = cUtil::Decrypt(stored, host::kPortalPasswordKey);
}

void cKavantorAPIMini::RefreshValues() {
  if (!util_) throw HostError(err::kObjectNotSet, "Keine Host-Sitzung", "RefreshValues");
  try {
    util_->ResetPreferenceCache();
    auto pref = [&](const char* key) { return util_->GetPreferenceSTDEntry(connect_, key); };
    apiUrl_ = pref("RESTAPI.URL");
    publicUrl_ = pref("RESTAPI.PUBLIC.URL");
    mobileUrl_ = pref("RESTAPI.MOBILEWEBAPP.URL");
    restBaseUrl_ = pref("RESTAPI.BASE.URL");
    restPublicBaseUrl_ = pref("RESTAPI.PUBLIC.BASE.URL");
    auto rs = dal_->GetRecordset(connect_, "Select FIRMEN_NR FROM STD");
    companyId_ =
        rs->Eof() || rs->Value("FIRMEN_NR").IsNull() ? 0 : vb::CLng(rs->Value("FIRMEN_NR"));
    apiUrl_ = ReplaceCompanySegments(apiUrl_, companyId_);
    Debug("RefreshValues: KavantorApiUrl: " + apiUrl_);

    // Read into a fresh table, so a failure leaves the previous one whole.
    std::vector<std::pair<std::string, std::string>> table;
    auto read = [&](const char* key, const std::string& def) -> const std::string& {
      table.emplace_back(key, util_->GetPreferenceOrDefault(connect_, key, def));
      return table.back().second;
    };
    const std::string u = "users/{BEN.DSN}";
    read("KavantorAPICreateInvitation", u + "/activities/{AKT.DSN}/transformToICal");
    read("KavantorAPIReceivedNewMail", u + "/activities/{AKT.DSN}/iCal");
    read("KavantorAPIMeetingCancelWithMail",
         u + "/activities/{AKT.DSN}/cancelAppointment?sendMail=true");
    read("KavantorAPIMeetingCancelWithoutMail",
         u + "/activities/{AKT.DSN}/cancelAppointment?sendMail=false");
    read("KavantorAPIMeetingCheckEveryAttendeeInvited",
         u + "/activities/{AKT.DSN}/getNotInvitedAttendees");
    read("KavantorAPISendMeetingInvitations",
         u + "/activities/{AKT.DSN}/inviteNotInvitedAttendees");
    read("KavantorAPIReSendInvitations", u + "/activities/{AKT.DSN}/reinviteAttendees");
    read("KavantorAPIMeetingCheckIsMeetingInvitation", u + "/activities/{AKT.DSN}/iCalEvent");
    read(kTransferStartKey, "portals/publish");
    read(kAuthStartKey, "portals/{Portal.DSN}/authenticationStart");
    read(kAuthEndKey, "portals/{Portal.DSN}/authenticationEnd");
    read(kIsAuthenticatedKey, "portals/{Portal.DSN}/isAuthenticatedWithOAuth");
    read("KavantorAPIPublicRegisteredConfirmationLink",
         "email/{AKT.AKT_DSN}/confirmation?contractId={STD.Firmen_NR}&owner={BEN.CryptedDSN}");
    read("KavantorAPICompanyGeneraltermsAndConditions", "company/generaltermsandconditions");
    read("KavantorAPICompanyGeneraltermsAndConditionsPublic",
         "email/generaltermsandconditions?contractId={STD.Firmen_NR}");
    read("KavantorAPISendMeetingAnswer", u + "/activities/{AKT.DSN}/answer/{ParticipationStatus}");
    read(kAvailabilityKey, u);
    read("KavantorAPIPublicAvailabilityTestURL", "v1.0/sysinfo");
    read("KavantorAPIInitializeTagnamesURL", "properties/initialize");
    read("KavantorRestAPIDeleteCacheUrl", "properties/clearCache");
    read("KavantorAPISynchronizeDestinations", "portals/synchronizeDestinations");
    const std::string ical = read("KavantorAPIICalUpdate", u + "/activities/icals/{id_ical}");
    read("KavantorAPIICalNewOrganzier", ical + "/changeOrganisator/{newOrganizerContactId}");
    read("KavantorAPIICalDeletedAttendees",
         ical + "/attendees/{id_attendee}/removeAttendee?sendNotification={notify}");
    const std::string resource = read("KavantorMobileMeetingResource", "quorvelloui/");
    const std::string parameters =
        read("KavantorMobileMeetingParameters",
             "?password={BEN.PasswordEncrypted}&customerId={STD.Firmen_NR}&username={BEN.LOGIN_"
             "NAME}&activityId={AKT.DSN}&editMode={EditMode}");
    read("KavantorMobileShowMeeting", resource + parameters);
    endpoints_ = std::move(table);

    windowsAuth_ = !Ini(dbIni_, "USER", "WINDOWSAUTHENTIFICATION", "").empty();
    int32_t t[4] = {LongOf(Ini(hostIni_, "KAVANTORAPI", "ResolveTimeout", "0")),
                    LongOf(Ini(hostIni_, "KAVANTORAPI", "ConnectTimeout", "60000")),
                    LongOf(Ini(hostIni_, "KAVANTORAPI", "SendTimeout", "30000")),
                    LongOf(Ini(hostIni_, "KAVANTORAPI", "ReceiveTimeout", "30000"))};
    std::copy(t, t + 4, timeouts_);
    verifyCertificates_ = vb::Trim(Ini(hostIni_, "KAVANTORAPI", "VerifyCertificate", "1")) != "0";
    const std::string trusted =
        vb::Trim(Ini(hostIni_, "KAVANTORAPI", "TrustedCertificateFile", ""));
    trustedFile_ =
        trusted.empty() ? "" : ResolveHostPath(trusted, ResolveHostPath(kvPath_)).string();
    IsKavantorAPIAvailable = true;
    IsKavantorQuorvelloUIAvailable = true;
    Debug(std::string("RefreshValues: IsKavantorQuorvelloUIAvailable: true Win Auth: ") +
          (windowsAuth_ ? "True" : "False"));
  } catch (const HostError& e) {
    throw HostError(e.number(), "RefreshValues: " + e.description(), "RefreshValues");
  }
}

std::string cKavantorAPIMini::Endpoint(const std::string& key) const {
  for (const auto& [k, v] : endpoints_)
    if (k == key) return v;
  return {};
}

std::string cKavantorAPIMini::ReplaceCompanySegments(const std::string& url, int32_t company) {
  const std::string number = std::to_string(company);
  size_t pathStart = 0;
  if (size_t scheme = url.find("://"); scheme != std::string::npos) {
    pathStart = url.find('/', scheme + 3);
    if (pathStart == std::string::npos) return url;
  }
  size_t pathEnd = url.find_first_of("?#", pathStart);
  if (pathEnd == std::string::npos) pathEnd = url.size();
  std::string out = url.substr(0, pathStart);
  size_t pos = pathStart;
  while (pos < pathEnd) {
    size_t next = url.find('/', pos);
    if (next == std::string::npos || next > pathEnd) next = pathEnd;
    const std::string segment = url.substr(pos, next - pos);
    out += segment == number ? "local" : segment;
    if (next < pathEnd) out += '/';
    pos = next + 1;
  }
  return out + url.substr(pathEnd);
}

std::string cKavantorAPIMini::MaskSecrets(const std::string& text) {
  return restportal::MaskSecrets(text, EscPressed);
}

std::string cKavantorAPIMini::LogPath() { return cUtil::GetTempPath() + kLogName; }

std::string cKavantorAPIMini::BuildApiUrl(const std::string& path) const {
  if (path.empty() || apiUrl_.empty()) return {};
  std::string base = apiUrl_;
  cUtil::CutRight(base, "/");
  std::string url = base + "/" + path;
  if (url.find(kBenPlaceholder) != std::string::npos)
    url = text::ReplaceAll(url, kBenPlaceholder, WithoutBraces(benDsn_));
  return url;
}

void cKavantorAPIMini::Call(const std::string& key, const std::string& portalDsn,
                            const std::string& body, Login login, const char* name) {
  if (!m_oRestAPI)
    throw HostError(err::kObjectNotSet, "Der REST-Client ist nicht initialisiert.", name);
  std::string path = Endpoint(key);
  if (apiUrl_.empty())
    return Refuse(path, body,
                  "Die Adresse der KAVANTOR-API ist nicht eingestellt (Einstellung "
                  "\"RESTAPI.URL\").");
  if (path.empty())
    return Refuse(
        apiUrl_, body,
        "Der Pfad der KAVANTOR-API ist nicht eingestellt (Einstellung \"" + vb::Trim(key) + "\").");
  if (path.find(kPortalPlaceholder) != std::string::npos) {
    if (!cUtil::isGuid(portalDsn))
      return Refuse(path, body, "Ungültiger Börsenschlüssel: '" + portalDsn + "'");
    path = text::ReplaceAll(path, kPortalPlaceholder, WithoutBraces(portalDsn));
  }
  if (path.find(kBenPlaceholder) != std::string::npos && benDsn_.empty())
    return Refuse(path, body, "Kein gültiger KAVANTOR-Benutzer für die KAVANTOR-API.");
  const std::string url = BuildApiUrl(path);
  const std::string company = std::to_string(companyId_);
  bool sent = false;
  try {
    m_oRestAPI->Seturl(url);
    bool super = false;
    if (login == Login::kCustom) {
      Debug("CallCustom RestUrl:" + url);
      super = vb::Val(vb::Trim(Ini(dbIni_, "USER", "ApiSuperAD", ""))) == 1;
    }
    if (super) {
      Debug("CallCustom Login:" + company + " SuperUser");
      m_oRestAPI->AuthUsername = "local/superAdmin";
      m_oRestAPI->AuthPassword.clear();
    } else {
      Debug(std::string(name) + " Login:" + company + "/" + login_);
      m_oRestAPI->AuthUsername = company + "/" + login_;
      m_oRestAPI->AuthPassword = password_;
    }
    m_oRestAPI->SetTimeouts(timeouts_[0], timeouts_[1], timeouts_[2], timeouts_[3]);
    m_oRestAPI->VerifyCertificates = verifyCertificates_;
    m_oRestAPI->TrustedCertificateFile = trustedFile_;
    sent = true;
    m_oRestAPI->load(body);
    Keep();
    Debug(std::string(name) + " Usr:" + m_oRestAPI->AuthUsername +
          " Meth:" + m_oRestAPI->GetCallMethodStr() + " Url:" + url +
          " Resp:" + std::to_string(status_) + " " + answer_ + " " + body);
    if (Ini(hostIni_, "options", "DebugMode", "0") == "1") LogApiCall(url, false, body);
  } catch (const HostError& e) {
    if (sent) {
      Keep();
    } else {
      status_ = 0;
      answer_ =
          "Err.Description: " + e.description() + " (Code: " + std::to_string(e.number()) + ")";
    }
    Debug(std::string(name) + " " + answer_);
    LogApiCall(url, true, body);
  }
}

void cKavantorAPIMini::Refuse(const std::string& url, const std::string& body,
                              const std::string& why) {
  status_ = 0;
  answer_ = why;
  redirect_.clear();
  Debug(why);
  LogApiCall(url, true, body);
}

void cKavantorAPIMini::Keep() {
  status_ = m_oRestAPI->ResponseCode();
  answer_ = m_oRestAPI->ResponseText();
  contentType_ = m_oRestAPI->ResponseContentType();
  redirect_ = m_oRestAPI->RedirectTarget();
  // A redirect's own text rarely says where to; whoever shows the answer shows the address.
  if (!redirect_.empty()) answer_ = RedirectNote() + (answer_.empty() ? "" : "\r\n" + answer_);
}

std::string cKavantorAPIMini::RedirectNote() const {
  return redirect_.empty() ? "" : "Weiterleitung nach " + MaskSecrets(redirect_) + " nicht gefolgt";
}

void cKavantorAPIMini::LogApiCall(const std::string& url, bool error,
                                  const std::string& body) const {
  try {
    const std::string user = m_oRestAPI ? m_oRestAPI->AuthUsername : "";
    const std::string method = m_oRestAPI ? m_oRestAPI->GetCallMethodStr() : "";
    const std::string answer = WithoutLineEnds(answer_);
    const std::string line = vb::CStr(Variant::Date(vb::Now())) + ";" + user + ";" + method + ";" +
                             MaskSecrets(url) + ";" + std::to_string(status_) + ";" +
                             (error ? "ERROR" : "OK") + ";" + MaskSecrets(answer) + ";" +
                             MaskSecrets(body);
    AppendPrivateLine(LogPath(), line);
  } catch (const std::exception&) {
    // The call log never fails a request.
  }
}

void cKavantorAPIMini::Debug(const std::string& text) const {
  if (Session().g_blnDebugLog) WriteDebugLog(MaskSecrets(text));
}

std::string cKavantorAPIMini::Ini(const std::string& file, const std::string& section,
                                  const std::string& key, const std::string& def) const {
  return util_->IniGet(section, key, def, file);
}

// --- the operations ------------------------------------------------------------------------

bool cKavantorAPIMini::CheckIfKavantorAPIAvailable() {
  bool result = false;
  try {
    if (m_oRestAPI) m_oRestAPI->CallMethod = 1;
    Call(kAvailabilityKey, "", "", Login::kCustom, "CallCustom");
    const std::string type = vb::LCase(contentType_);
    result = status_ == 200 &&
             (type.find("/xml") != std::string::npos || type.find("/json") != std::string::npos);
  } catch (const std::exception& e) {
    const HostError* h = dynamic_cast<const HostError*>(&e);
    status_ = 0;
    answer_ = answer_ + " " + (h ? h->description() : std::string(e.what()));
    LogApiCall(Endpoint(kAvailabilityKey), true, "");
    result = false;
  }
  IsKavantorAPIAvailable = result;
  return result;
}

int32_t cKavantorAPIMini::CallIS24RestApiTransferStart(const std::string& strBody) {
  try {
    Debug("CallIS24RestApiTransferStart " + Endpoint(kTransferStartKey) + " " + strBody);
    if (m_oRestAPI) m_oRestAPI->CallMethod = 2;
    Call(kTransferStartKey, "", strBody, Login::kCustom, "CallCustom");
    Debug("CallIS24RestApiTransferStart Response: " + std::to_string(status_));
    return status_;
  } catch (const std::exception& e) {
    const HostError* h = dynamic_cast<const HostError*>(&e);
    const std::string text = "There was an error in CallIS24RestApiTransferStart.\n" +
                             std::to_string(h ? h->number() : 0) + "\n" +
                             (h ? h->description() : std::string(e.what()));
    if (util_) util_->MessageBox(text, 16, "Error: CallIS24RestApiTransferStart");
    status_ = 0;
    return 0;
  }
}

std::string cKavantorAPIMini::CallIS24RestApiStartCreateLogin(const std::string& strPortalDsn) {
  Debug("CallIS24RestApiStartCreateLogin " + Endpoint(kAuthStartKey));
  if (m_oRestAPI) m_oRestAPI->CallMethod = 1;
  Call(kAuthStartKey, strPortalDsn, "", Login::kHostUser, "CallCustom_Orginal");
  Debug("CallIS24RestApiStartCreateLogin Response: " + answer_);
  return answer_;
}

std::string cKavantorAPIMini::CallIS24RestApiEndCreateLogin(const std::string& strPortalDsn,
                                                            const std::string& strBody) {
  Debug("CallIS24RestApiEndCreateLogin " + Endpoint(kAuthEndKey));
  if (m_oRestAPI) m_oRestAPI->CallMethod = 2;
  Call(kAuthEndKey, strPortalDsn, strBody, Login::kHostUser, "CallCustom_Orginal");
  Debug("CallIS24RestApiEndCreateLogin Response: " + answer_);
  return answer_;
}

std::string cKavantorAPIMini::CallIS24RestApiCheckLogin(const std::string& strPortalDsn) {
  if (m_oRestAPI) m_oRestAPI->CallMethod = 1;
  Call(kIsAuthenticatedKey, strPortalDsn, "", Login::kCustom, "CallCustom");
  return answer_;
}

}  // namespace fern
