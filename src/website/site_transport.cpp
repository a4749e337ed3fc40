#include "website/site_transport.h"

#include "platform/cp1252.h"
#include "platform/utf8.h"
#include "platform/waits.h"
#include "services/cImmoHelperV2.h"

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
  services::CurlSession session;
  session.limits = limits;
  const long seconds = totalMs > 0 ? (totalMs + 999) / 1000 : 0;
  const services::HttpReply r = session.Get(
      address, seconds, [] { return EscPressed(); }, proxyRule);
  Reply reply;
  reply.cancelled = r.result.kind == services::TransferResult::Kind::kCancelled;
  reply.status = r.status;
  reply.ok = r.result.ok() && r.status > 0 && r.status < 400;
  // The site answers in its own character set, Windows-1252.
  reply.body = utf8::IsValid(r.body) ? r.body : cp1252::ToUtf8(r.body);
  reply.error = r.result.ok() ? "HTTP " + std::to_string(r.status) : r.result.message;
  return reply;
}

}  // namespace fern::website
