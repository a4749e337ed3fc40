// The HTTP post of a document. Kept apart from the transfer layer's request because the portal's
// HTTP status decides whether the listings count as delivered.
#include <curl/curl.h>

#include <mutex>

#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "platform/vb.h"

namespace fern {

namespace {

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

int Progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return cUtil::WaitIsEsc() ? 1 : 0;
}

}  // namespace

HttpPostOutcome cImmoXmlV2::PostDocument(const std::string& urlIn, const std::string& body,
                                         const std::string& user, const std::string& password) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  HttpPostOutcome out;
  std::string url = vb::Trim(urlIn);
  if (url.find("://") == std::string::npos) url = "http://" + url;
  CURL* easy = curl_easy_init();
  if (!easy) {
    out.error = "libcurl could not start";
    return out;
  }
  char errorText[CURL_ERROR_SIZE] = {};
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=UTF-8");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 120L);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Progress);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &out.body);
  if (!user.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
  }
  const CURLcode rc = curl_easy_perform(easy);
  if (rc == CURLE_OK) {
    out.transportOk = true;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &out.status);
  } else {
    out.error = errorText[0] ? errorText : curl_easy_strerror(rc);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  return out;
}

}  // namespace fern
