#include "services/cRestAPI.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>

#include "core/host_session.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/curl_handle.h"

namespace fern {

namespace {

using Clock = std::chrono::steady_clock;

// The host's request object reports its failures with WinHTTP's numbers (0x80070000 + code).
constexpr int32_t WinHttpError(int32_t code) { return -2147024896 + code; }
constexpr int32_t kTimeout = WinHttpError(12002);
constexpr int32_t kNameNotResolved = WinHttpError(12007);
constexpr int32_t kCannotConnect = WinHttpError(12029);
constexpr int32_t kConnectionError = WinHttpError(12030);
constexpr int32_t kSecureFailure = WinHttpError(12175);
constexpr int32_t kCancelled = WinHttpError(12017);
constexpr int32_t kUrlTooLong = static_cast<int32_t>(0x8004D700u);

constexpr long kNoLimitMs = INT_MAX;

// What setPostWebserviceProxy hands over: setProxy(2, server, bypass).
class ProxyRequest : public Dispatch {
 public:
  std::string server;
  std::string bypass;
  Variant Invoke(std::string_view name, unsigned, std::span<Variant> args) override {
    if (!NameIs(name, "setProxy")) ThrowNoMember(name);
    CheckArgCount(args, 1, 3, name);
    if (args.size() > 1) server = args[1].IsNull() ? "" : vb::CStr(args[1]);
    if (args.size() > 2) bypass = args[2].IsNull() ? "" : vb::CStr(args[2]);
    return {};
  }
  std::string TypeName() const override { return "ServerXMLHTTP"; }
};

// Windows lists bypassed hosts with ";" and "<local>" for plain names; libcurl takes ",".
std::string NoProxyList(const std::string& bypass) {
  std::string out, item;
  auto flush = [&] {
    if (item == "<local>") item = "localhost,127.0.0.1,::1";
    if (!item.empty()) out += (out.empty() ? "" : ",") + item;
    item.clear();
  };
  for (char c : bypass) {
    if (c == ';' || c == ',' || c == ' ')
      flush();
    else
      item += c;
  }
  flush();
  return out;
}

// Stalls while sending or receiving end the request; reaching the server is curl's own limit.
struct StallWatch {
  long sendMs = 0;
  long receiveMs = 0;
  Clock::time_point last = Clock::now();
  curl_off_t lastUp = -1, lastDown = -1;
  bool stalled = false;
  bool sending = false;
  bool reached = false;  // connected (and the TLS handshake done)
  // The low-speed limit: fewer than slowBytes a second over slowSeconds ends the call. A phase
  // without a time-out (0) waits as long as nothing comes; once its data has begun, a trickle
  // still ends it.
  long slowBytes = 1;
  long slowSeconds = 60;
  bool slowWatching = false;
  Clock::time_point slowSince = Clock::now();
  curl_off_t slowFrom = 0;
  bool slow = false;
};

// True when the call has moved fewer bytes than the low-speed limit allows over its time.
bool TooSlow(StallWatch& w, Clock::time_point now, curl_off_t moved, bool phaseStarted) {
  const long limit = w.sending ? w.sendMs : w.receiveMs;
  if (!(limit > 0 || phaseStarted)) {
    w.slowWatching = false;
    return false;
  }
  if (!w.slowWatching) {
    w.slowWatching = true;
    w.slowSince = now;
    w.slowFrom = moved;
    return false;
  }
  if (now - w.slowSince < std::chrono::seconds(w.slowSeconds)) return false;
  if (moved - w.slowFrom < w.slowBytes * w.slowSeconds) return true;
  w.slowSince = now;
  w.slowFrom = moved;
  return false;
}

// libcurl calls this once the connection is up, handshake included, or a kept-alive one was
// taken: the connect and handshake times stay 0 on a reused connection, so they can't tell.
int OnConnectionReady(void* p, char*, char*, int, int) {
  static_cast<StallWatch*>(p)->reached = true;
  return CURL_PREREQFUNC_OK;
}

int OnProgress(void* p, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
  auto* w = static_cast<StallWatch*>(p);
  const auto now = Clock::now();
  if (w->reached) {
    w->sending = ultotal > 0 && ulnow < ultotal;
    if (TooSlow(*w, now, ulnow + dlnow, w->sending ? ulnow > 0 : dlnow > 0)) {
      w->slow = true;
      return 1;
    }
  }
  if (!w->reached || ulnow != w->lastUp || dlnow != w->lastDown) {
    w->last = now;
    w->lastUp = ulnow;
    w->lastDown = dlnow;
    return 0;
  }
  const long limit = w->sending ? w->sendMs : w->receiveMs;
  if (limit <= 0) return 0;
  if (now - w->last > std::chrono::milliseconds(limit)) {
    w->stalled = true;
    return 1;
  }
  return 0;
}

size_t OnBody(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

std::string Hex(unsigned char c) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%%%02X", c);
  return buf;
}

using ::fern::text::HexValue;

struct CurlDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

cRestAPI::cRestAPI()
    : session_(std::make_unique<services::CurlSession>()),
      util_(Session().g_oUtil),
      dal_(Session().g_oDal) {}

cRestAPI::~cRestAPI() = default;

void cRestAPI::Init(const std::string& strConnectionString, const std::string& strKavantorFolder) {
  util_ = Session().g_oUtil;
  dal_ = Session().g_oDal;
  connect_ = strConnectionString;
  folder_ = strKavantorFolder;
  SetTimeouts(0, 60000, 30000, 30000);
  if (dal_) dal_->Init(strKavantorFolder + "\\sql\\sql.ini");
}

void cRestAPI::SetTimeouts(int32_t lngResolveTimeout, int32_t lngConnectTimeout,
                           int32_t lngSendTimeout, int32_t lngReceiveTimeout) {
  ResolveTimeout = lngResolveTimeout;
  ConnectTimeout = lngConnectTimeout;
  SendTimeout = lngSendTimeout;
  ReceiveTimeout = lngReceiveTimeout;
}

void cRestAPI::Seturl(const std::string& value) { url_ = URLEncodeANSI(value, true); }

std::string cRestAPI::GetCallMethodStr() const {
  switch (CallMethod) {
    case 2:
      return "POST";
    case 3:
      return "PUT";
    default:
      return "GET";
  }
}

void cRestAPI::load(const std::string& strBody) {
  try {
    // Window events go on while a request runs; one of them asking again is refused, and the
    // running request goes on undisturbed.
    if (sending_)
      throw HostError(kConnectionError, "Eine Anfrage an die KAVANTOR-RestAPI läuft bereits.",
                      "load");
    sending_ = true;
    struct Done {
      bool& sending;
      ~Done() { sending = false; }
    } done{sending_};
    Send(strBody);
  } catch (const HostError& e) {
    responseCode_ = 0;
    responseText_ =
        "Err.Description: " + e.description() + " (Code: " + std::to_string(e.number()) + ")";
    throw HostError(e.number(), "Fehler beim Zugriff auf die KAVANTOR-RestAPI. " + responseText_,
                    "cRestAPI.load");
  }
}

void cRestAPI::Send(const std::string& body) {
  services::CurlSession& session = *session_;
  CURL* c = services::CurlAccess::Prepare(session);
  const std::string method = GetCallMethodStr();
  const std::string charset = Encoding == 2 ? "ISO-8859-1" : "UTF-8";
  contentLength_ = static_cast<int32_t>(body.size());
  redirectTarget_.clear();

  std::string answer;
  curl_easy_setopt(c, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
  if (method == "GET" && body.empty()) {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  std::unique_ptr<curl_slist, CurlDeleter> headers;
  for (const std::string& line :
       {std::string("Content-Type: application/xml"), "Charset: " + charset,
        "Content-Length: " + std::to_string(body.size()), std::string("Expect:")})
    headers.reset(curl_slist_append(headers.release(), line.c_str()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

  session.SetSecret(AuthUsername.empty() ? std::string() : AuthPassword);
  if (!AuthUsername.empty()) {
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(c, CURLOPT_USERNAME, AuthUsername.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, AuthPassword.c_str());
  }

  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, VerifyCertificates ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, VerifyCertificates ? 2L : 0L);
  if (!TrustedCertificateFile.empty())
    curl_easy_setopt(c, CURLOPT_CAINFO, TrustedCertificateFile.c_str());

  // The host's proxy or none; "" keeps libcurl from reading http_proxy and its kin.
  ProxyRequest proxy;
  if (util_) util_->setPostWebserviceProxy(connect_, proxy);
  curl_easy_setopt(c, CURLOPT_PROXY, proxy.server.c_str());
  const std::string noProxy = NoProxyList(proxy.bypass);
  if (!noProxy.empty()) curl_easy_setopt(c, CURLOPT_NOPROXY, noProxy.c_str());

  long reach = ConnectTimeout > 0 ? ConnectTimeout : kNoLimitMs;
  if (ConnectTimeout > 0 && ResolveTimeout > 0) reach += ResolveTimeout;
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, reach);
  // The door's low-speed limit ends an answer that trickles in; a longer stall the owner allows
  // stretches it, so a set time-out keeps its meaning. It is watched here rather than by
  // libcurl, which can't tell a phase without a time-out.
  const long stallSeconds = (std::max(SendTimeout, ReceiveTimeout) + 999L) / 1000L;
  const long slowSeconds = std::max(session.limits.lowSpeedSeconds, stallSeconds);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 0L);
  StallWatch watch;
  watch.sendMs = SendTimeout;
  watch.receiveMs = ReceiveTimeout;
  watch.slowBytes = session.limits.lowSpeedBytes;
  watch.slowSeconds = slowSeconds;
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, OnConnectionReady);
  curl_easy_setopt(c, CURLOPT_PREREQDATA, &watch);

  const services::TransferResult result = session.Run([] { return EscPressed(); });
  if (!result.ok()) {
    const CURLcode rc = services::CurlAccess::LastCode(session);
    std::string why = result.message;
    int32_t number = kConnectionError;
    if (watch.stalled) {
      number = kTimeout;
      why = "Zeitüberschreitung: keine Daten " +
            std::string(watch.sending ? "gesendet" : "empfangen") + " binnen " +
            std::to_string(watch.sending ? SendTimeout : ReceiveTimeout) + " ms";
    } else if (watch.slow) {
      number = kTimeout;
      why = "Zeitüberschreitung: weniger als " + std::to_string(session.limits.lowSpeedBytes) +
            " Byte/s in " + std::to_string(slowSeconds) + " s übertragen";
    } else if (result.kind == services::TransferResult::Kind::kCancelled) {
      number = kCancelled;
      why = "Die Anfrage wurde abgebrochen.";
    } else if (rc == CURLE_OPERATION_TIMEDOUT) {
      number = kTimeout;
      why = "Zeitüberschreitung beim Verbindungsaufbau: " + why;
    } else if (rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_RESOLVE_PROXY) {
      number = kNameNotResolved;
    } else if (rc == CURLE_COULDNT_CONNECT) {
      number = kCannotConnect;
    } else if (rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE ||
               rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_SSL_CERTPROBLEM) {
      number = kSecureFailure;
      why = "Zertifikat nicht anerkannt: " + why;
    }
    throw HostError(number, why, "load");
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status <= 0) throw HostError(kConnectionError, "Kein HTTP-Status in der Antwort", "load");
  char* type = nullptr;
  curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type);
  char* target = nullptr;
  if (status >= 300 && status < 400) curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &target);
  responseCode_ = static_cast<int32_t>(status);
  responseText_ = std::move(answer);
  responseContentType_ = type ? type : "";
  redirectTarget_ = target ? target : "";
}

std::string cRestAPI::URLEncodeANSI(const std::string& text, bool SpacePlus) {
  if (text.find_first_not_of(' ') == std::string::npos) return {};
  if (text.size() > kMaxUrlLength)
    throw HostError(kUrlTooLong, "Error in URLEncodeANSI. URL parameter too long",
                    "cRestAPI.URLEncodeANSI");
  static const std::string kUnsafe = "\"<>\\^`{|}%";
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F || kUnsafe.find(ch) != std::string::npos)
      out += Hex(c);
    else
      out += ch;
  }
  if (SpacePlus)
    out = ::fern::text::ReplaceAll(::fern::text::ReplaceAll(out, "+", "%2B"), " ", "+");
  return out;
}

std::string cRestAPI::URLDecodeANSI(const std::string& text, bool PlusSpace) {
  const std::string in = PlusSpace ? ::fern::text::ReplaceAll(text, "+", " ") : text;
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

std::string cRestAPI::URLEncodeUTF8(const std::string& StringToEncode) {
  if (StringToEncode.size() > 32767) throw HostError(err::kOverflow, "Overflow", "URLEncodeUTF8");
  std::string out;
  for (char ch : StringToEncode) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ')
      out += '+';
    else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
      out += ch;
    else
      out += Hex(c);
  }
  return out;
}

}  // namespace fern
