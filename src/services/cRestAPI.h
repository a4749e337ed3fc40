// The HTTP client of the host's REST service: one synchronous request at a time, with basic
// credentials, four time-outs and checked certificates, keeping the answer's status, text and
// Content-Type for its owner (cKavantorAPIMini), plus the URL coders the owner may use.
//
// Requests go through the program's network door (CurlSession): while one runs, window events
// are pumped, and Esc or SIGTERM/SIGINT (EscPressed) end it within a polling step.
// Requests carry, after libcurl's own lines, "Content-Type: application/xml", "Charset" and
// "Content-Length" in that order. Credentials are sent at once (Basic) and only as options,
// never inside the address. Proxy variables of the environment are ignored: only the proxy the
// host's settings name (cUtil::setPostWebserviceProxy) is used, so a loopback service is never
// routed elsewhere. Redirects are answers, not followed (RedirectTarget names where to).
//
// Time-outs in milliseconds, as the host's request object takes them:
//  - resolve and connect: together the limit for reaching the server (TLS handshake included);
//    0 or less is no limit (libcurl itself would read 0 as 300 s);
//  - send and receive: the longest stall while the body goes out or the answer comes in; 0 or
//    less is no limit of its own for that direction.
// Besides, the door's low-speed limit (Limits()) ends a request that moves fewer bytes a second
// than it allows for longer than its time, or than the longer of send and receive time-out: so
// an answer that trickles in ends too, and no request hangs for good.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "services/curl_session.h"

namespace fern {

class cUtil;
class cDal;

class cRestAPI {
 public:
  cRestAPI();
  ~cRestAPI();
  cRestAPI(const cRestAPI&) = delete;
  cRestAPI& operator=(const cRestAPI&) = delete;

  // The longest address `url` takes, in characters before escaping.
  static constexpr size_t kMaxUrlLength = 2048;

  int32_t ResolveTimeout = 0;
  int32_t ConnectTimeout = 60000;
  int32_t SendTimeout = 30000;
  int32_t ReceiveTimeout = 30000;
  int32_t Synchronous = 0;   // kept for the owner; every request is synchronous
  int32_t Encoding = 0;      // 2: "ISO-8859-1" in the Charset line, else "UTF-8"
  int32_t CallMethod = 0;    // 1 GET, 2 POST, 3 PUT, anything else GET
  int32_t ProxyMode = 0;     // kept for the owner; no effect
  std::string AuthUsername;  // empty: no credentials, whatever AuthPassword holds
  std::string AuthPassword;
  // Certificates of https addresses are checked against the system's authorities, or against
  // this PEM file when it is set. Switching the check off is the owner's decision to report.
  std::string TrustedCertificateFile;
  bool VerifyCertificates = true;

  // Stores the address escaped (URLEncodeANSI with blanks as "+"); the HostError of
  // URLEncodeANSI for a too long address.
  void Seturl(const std::string& value);
  const std::string& url() const { return url_; }

  int32_t ContentType() const { return 0; }  // always application/xml
  int32_t ContentLength() const { return contentLength_; }
  int32_t ResponseCode() const { return responseCode_; }
  const std::string& ResponseText() const { return responseText_; }
  // The last answer's Content-Type ("" without one); a failed request leaves the one before.
  const std::string& ResponseContentType() const { return responseContentType_; }
  // Where the last answer, a redirect (3xx), points to; "" for any other answer. Redirects are
  // not followed: the credentials and the body stay with the address the owner chose.
  const std::string& RedirectTarget() const { return redirectTarget_; }

  // The transfer limits of the program's network door; of them the low-speed limit applies.
  services::TransferLimits& Limits() { return session_->limits; }

  // Keeps the connection string and folder, takes the host objects of the session, binds the
  // database object to "<folder>\sql\sql.ini" and sets the time-outs to 0, 60000, 30000, 30000.
  void Init(const std::string& strConnectionString, const std::string& strKavantorFolder);
  void SetTimeouts(int32_t lngResolveTimeout, int32_t lngConnectTimeout, int32_t lngSendTimeout,
                   int32_t lngReceiveTimeout);

  // One request with the body. A failure (no connection, time-out, certificate, protocol) sets
  // ResponseCode 0 and ResponseText "Err.Description: <why> (Code: <n>)" and throws HostError
  // n, source "cRestAPI.load", "Fehler beim Zugriff auf die KAVANTOR-RestAPI. " + that text.
  // Any HTTP status is an answer, not a failure.
  void load(const std::string& strBody);
  std::string GetCallMethodStr() const;

  // Escapes controls, bytes above 127, the characters "<>\^`{|} and "%" as %XX and keeps the
  // rest of the address (blanks too); with `SpacePlus` "+" then becomes "%2B" and a blank "+".
  // Blank-only text gives "". Over kMaxUrlLength characters: HostError 0x8004D700.
  static std::string URLEncodeANSI(const std::string& text, bool SpacePlus);
  static std::string URLDecodeANSI(const std::string& text, bool PlusSpace);
  // Letters and digits stay, a blank is "+", every other UTF-8 byte %XX (upper case). More than
  // 32767 bytes: HostError 6 (the host's 16-bit counter).
  static std::string URLEncodeUTF8(const std::string& StringToEncode);

 private:
  void Send(const std::string& body);

  std::string url_;
  int32_t contentLength_ = 0;
  int32_t responseCode_ = 0;
  std::string responseText_;
  std::string responseContentType_;
  std::string redirectTarget_;
  std::unique_ptr<services::CurlSession> session_;
  bool sending_ = false;
  std::string connect_;
  std::string folder_;
  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
};

}  // namespace fern
