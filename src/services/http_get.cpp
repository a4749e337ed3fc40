#include "services/http_get.h"

#include <algorithm>
#include <cctype>

#include "platform/waits.h"
#include "services/curl_handle.h"

namespace fern::services {

namespace {

size_t Collect(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

}  // namespace

HttpGetResult HttpGet(const std::string& url, const std::string& proxyRule, long totalMs,
                      const TransferLimits& limits) {
  HttpGetResult result;
  std::string full = url;
  while (!full.empty() && full.front() == ' ') full.erase(0, 1);
  if (full.find("://") == std::string::npos) full = "http://" + full;
  CurlSession session;
  session.limits = limits;
  CURL* easy = CurlAccess::Prepare(session);
  curl_easy_setopt(easy, CURLOPT_URL, full.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &result.body);
  if (totalMs > 0) curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, totalMs);
  const std::string rule = Upper(proxyRule);
  if (rule.empty())
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  else if (rule != "USEDEFAULT")
    curl_easy_setopt(easy, CURLOPT_PROXY, proxyRule.c_str());
  const TransferResult rc = session.Run([] { return EscPressed(); });
  if (rc.kind == TransferResult::Kind::kCancelled) {
    result.cancelled = true;
    result.error = "abgebrochen";
    return result;
  }
  if (!rc.ok()) {
    result.error = rc.message.empty() ? session.ErrorText() : rc.message;
    return result;
  }
  result.transportOk = true;
  result.status = session.ResponseCode();
  return result;
}

}  // namespace fern::services
