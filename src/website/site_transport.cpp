#include "website/site_transport.h"

#include "platform/cp1252.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/variant.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "services/cFTPTransferV2.h"
#include "services/cImmoHelperV2.h"
#include "services/cWinINetV2.h"
#include "services/curl_session.h"
#include "services/transfer_states.h"

namespace fern::website {

bool SiteTransport::SendFolder(const std::string& host, const std::string& user,
                               const std::string& password, const std::string& local,
                               const std::string& remote, const std::string& extensions,
                               const std::string& proxyRule) {
  bool success = false;
  helper_.FtpSendFolder(host, user, password, local, remote, extensions, proxyRule, true, success);
  return success;
}

namespace {

// The proxy text the passive upload layer is handed for a rule: none for the system's proxy.
std::string PassiveProxy(const std::string& rule) {
  return vb::UCase(rule) == "USEDEFAULT" ? std::string() : rule;
}

}  // namespace

bool SiteTransport::ReachesLikeUpload(const std::string& proxyRule) {
  // The system's proxy may name none: only a named one is known to stand in the way.
  return PassiveProxy(proxyRule).empty() || helper_.FtpTransfer().Passive();
}

bool SiteTransport::CleanUpOver() {
  // One budget with the removal of a file the stop cut short: both count from the stop.
  return EscPressed() &&
         std::chrono::steady_clock::now() - StopTime() >= std::chrono::seconds(cleanUpSeconds);
}

bool SiteTransport::ListFiles(const std::string& host, const std::string& user,
                              const std::string& password, const std::string& folder,
                              const std::string& proxyRule, std::vector<std::string>& names) {
  names.clear();
  cWinINetV2 ftp;
  ftp.Limits() = limits;
  ftp.StopCommandsWhen([this] { return CleanUpOver(); });
  bool failed = false;
  ftp.InternalState = [&](int16_t state, const std::string&) {
    if (state == services::istate::kFailure) failed = true;
  };
  const Variant listing =
      ftp.FtpCommand(host, user, password, "DIR " + (folder.empty() ? "" : folder + "/") + "*",
                     false, PassiveProxy(proxyRule));
  if (failed || !listing.IsString()) return false;
  // One line per file: the name, a blank and its date; the names looked for hold no blank.
  for (const std::string& line : text::SplitLines(listing.str()))
    if (!line.empty()) names.push_back(line.substr(0, line.find(' ')));
  return true;
}

std::string SiteTransport::RemoveFile(const std::string& host, const std::string& user,
                                      const std::string& password, const std::string& path,
                                      const std::string& proxyRule) {
  const services::FtpEndpoint endpoint =
      services::FtpEndpointOf(host, cWinINetV2::GetPortPart(PassiveProxy(proxyRule), 0));
  const std::string timeUp = "keine Zeit mehr nach dem Abbruch";
  if (CleanUpOver()) return timeUp;
  removals_.limits = limits;
  removals_.SetSecret(password);
  services::PeerPolicy policy;
  policy.tls = endpoint.explicitTls;
  const services::TransferResult r =
      removals_.RemoveFile(endpoint.base + "/" + services::EscapeUrlPath(path), {user, password},
                           policy, [this] { return CleanUpOver(); });
  if (r.ok()) return {};
  if (r.kind == services::TransferResult::Kind::kCancelled) return timeUp;
  return r.message.empty() ? std::string("?") : r.message;
}

bool SiteTransport::FileMissing(const std::string& host, const std::string& user,
                                const std::string& password, const std::string& path,
                                const std::string& proxyRule) {
  if (CleanUpOver()) return false;
  cWinINetV2 ftp;
  ftp.Limits() = limits;
  ftp.StopCommandsWhen([this] { return CleanUpOver(); });
  ftp.FtpCommand(host, user, password, "SIZE " + path, false, PassiveProxy(proxyRule));
  // An unknown text keeps the error, as a leftover may hold the password.
  return services::FtpSaysMissing(ftp.Reply());
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
