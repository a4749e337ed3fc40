#include "website/site_transport.h"

#include "platform/cp1252.h"
#include "platform/utf8.h"
#include "services/cImmoHelperV2.h"
#include "services/http_get.h"

namespace fern::website {

bool SiteTransport::SendFolder(const std::string& host, const std::string& user,
                               const std::string& password, const std::string& local,
                               const std::string& remote, const std::string& extensions,
                               const std::string& proxyRule) {
  bool success = false;
  helper_.FtpSendFolder(host, user, password, local, remote, extensions, proxyRule, true, success);
  return success;
}

SiteTransport::Reply SiteTransport::Get(const std::string& address, const std::string& proxyRule,
                                        long totalMs) {
  const services::HttpGetResult r = services::HttpGet(address, proxyRule, totalMs, limits);
  Reply reply;
  reply.ok = r.Ok();
  reply.cancelled = r.cancelled;
  reply.status = r.status;
  // The site answers in its own character set, Windows-1252.
  reply.body = utf8::IsValid(r.body) ? r.body : cp1252::ToUtf8(r.body);
  reply.error = r.transportOk ? "HTTP " + std::to_string(r.status) : r.error;
  return reply;
}

}  // namespace fern::website
