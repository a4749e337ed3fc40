// The HTTP post of a document. It runs on the transfer layer's session (time-outs, window events
// pumped, Esc), but keeps the portal's HTTP status, which decides whether the listings count as
// delivered.
#include <curl/curl.h>

#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/curl_session.h"

namespace fern {

HttpPostOutcome cImmoXmlV2::PostDocument(const std::string& urlIn, const std::string& body,
                                         const std::string& user, const std::string& password) {
  HttpPostOutcome out;
  std::string url = vb::Trim(urlIn);
  if (url.find("://") == std::string::npos) url = "http://" + url;
  services::CurlSession request;
  request.SetSecret(password);
  CURL* easy = request.Prepare();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=UTF-8");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(
      easy, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* sink) {
        static_cast<std::string*>(sink)->append(d, s * n);
        return s * n;
      });
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &out.body);
  if (!user.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
  }
  const CURLcode rc = request.Run([] { return EscPressed(); });
  curl_slist_free_all(headers);
  if (rc == CURLE_OK) {
    out.transportOk = true;
    out.status = request.ResponseCode();
  } else {
    out.error = request.ErrorText();
  }
  return out;
}

}  // namespace fern
