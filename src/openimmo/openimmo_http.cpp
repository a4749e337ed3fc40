// The HTTP post of a document. It runs on the transfer layer's session (time-outs, window events
// pumped, Esc) through the proxy of [OPTIONS] HTTP_PROXY, but keeps the portal's HTTP status,
// which decides whether the listings count as delivered.
#include "host/LanguagePack.h"
#include "host/cUtil.h"
#include "openimmo/delivery.h"
#include "platform/waits.h"
#include "services/curl_session.h"

namespace fern::openimmo {

HttpPostOutcome Delivery::PostDocument(const std::string& url, const std::string& body,
                                       const std::string& user, const std::string& password) {
  services::CurlSession request;
  request.SetSecret(password);
  const services::HttpReply reply = request.PostXml(
      url, body, {user, password}, "POST", [] { return EscPressed(); }, run_.settings.httpProxy);
  HttpPostOutcome out;
  out.transportOk = reply.result.ok();
  out.status = reply.status;
  out.body = reply.body;
  out.stopped = reply.result.kind == services::TransferResult::Kind::kCancelled;
  if (!out.transportOk) {
    out.errorNumber = reply.result.wininetError;
    out.error = reply.result.message;
  }
  return out;
}

}  // namespace fern::openimmo
