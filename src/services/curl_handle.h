// The raw handle of a CurlSession, for the transfer controls of this folder that set their own
// libcurl options. Never included outside src/services.
#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

#include "services/curl_session.h"

namespace fern::services {

struct CurlAccess {
  // A fresh set of options on the kept handle (the open connection survives): limits, the
  // dialogue recorder, no signals. Set the transfer's own options on it, then Start or Run.
  static CURL* Prepare(CurlSession& session);
  // FTP commands sent before the transfer ("*" in front: a refusal is no failure); the list
  // lives until the next Prepare.
  static void SetQuote(CurlSession& session, const std::vector<std::string>& commands);
  // The settings' proxy rule on a prepared handle: "" direct (Prepare's default), "USEDEFAULT"
  // the proxy variables of the environment, anything else the proxy's "host:port".
  static void ApplyProxyRule(CURL* easy, const std::string& rule);
  // The TLS versions of every FTP handle of the session (prepared): 1.2 only, and 1.3 too once a
  // server refused 1.2. A plain FTP connection is not changed by it.
  static void LimitFtpTls(CurlSession& session);
  // After an FTP transfer whose TLS handshake failed at 1.2 before any of the file went: true
  // when the session now allows TLS 1.3 and the same transfer is to run again. After the second
  // failure the error names both versions.
  static bool RetryWithTls13(CurlSession& session);
  // FTP: SIZE of `path` once the upload is done ("*": a refusal is no failure). The transfer may
  // end well while the server keeps less than was sent (a data connection reset under TLS), so
  // HeldOtherThanSent then compares: only a whole file counts.
  static void AskSizeAfter(CurlSession& session, const std::string& path);
  // True when the server's SIZE answer names another count than `sent`, or, over TLS 1.3, when
  // it names none: the file is not known to be whole. The session's result is then a partial
  // file, with the counts in its error text.
  static bool HeldOtherThanSent(CurlSession& session, long long sent, const std::string& name);

  // The session's own parts, for its implementation.
  static void EnsureHandles(CurlSession::Impl& impl);
  static void Record(CurlSession& session, curl_infotype type, const char* data, size_t size);
  static TransferResult ResultOf(const CurlSession& session, CURLcode code);
  // libcurl's own result of the last transfer.
  static CURLcode LastCode(const CurlSession& session);
};

}  // namespace fern::services
