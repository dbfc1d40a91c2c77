#include "tools/qqconnectd/server/QQConnectService.h"

#include "foundation/formats/JSONDecoder.h"
#include "os/core/Compression.h"
#include "os/crypto/Cipher.h"

namespace qqconnectd {

namespace {

std::optional<std::string> member(const ServiceRequest& request, const std::string& name) {
  auto found = request.query.find(name);
  if (found == request.query.end()) return std::nullopt;
  return found->second;
}

ServiceAnswer refused(const std::string& message) {
  return {400, "{\"ret\":-1,\"msg\":\"" + message + "\"}"};
}

}  // namespace

void QQConnectService::setPolicy(std::string json) {
  std::lock_guard lock(mutex_);
  policy_ = std::move(json);
}

ServiceAnswer QQConnectService::handle(const ServiceRequest& request) {
  if (request.path == kAnalyticsPath) {
    if (request.method != "POST") return {405, "{\"ret\":-1,\"msg\":\"POST only\"}"};
    return upload(request);
  }
  if (request.method != "GET") return {405, "{\"ret\":-1,\"msg\":\"GET only\"}"};
  if (request.path == kPolicyPath) {
    auto client = member(request, "client_id");
    if (!client || client->empty()) return refused("client_id missing");
    std::lock_guard lock(mutex_);
    fetches_.push_back(*client);
    log_.push_back("policy " + *client);
    return {200, policy_};
  }
  if (request.path == kReportPath) {
    auto appid = member(request, "strValue");
    auto action = member(request, "nValue");
    if (!appid || !action || action->empty()) return refused("strValue and nValue required");
    ActionReport report{*appid, *action, member(request, "qver").value_or(""), member(request, "tag").value_or(""),
                        member(request, "elt")};
    std::lock_guard lock(mutex_);
    reports_.push_back(std::move(report));
    log_.push_back("report " + *action);
    return {200, "{\"ret\":0}"};
  }
  return {404, "{\"ret\":-1,\"msg\":\"not found\"}"};
}

ServiceAnswer QQConnectService::upload(const ServiceRequest& request) {
  const std::string key = kAnalyticsKey;
  os::Data body = os::rc4(os::Data(request.body.begin(), request.body.end()), os::Data(key.begin(), key.end()));
  if (request.contentEncoding.find("gzip") != std::string::npos) {
    // The uncompressed length, big-endian, then the gzip stream.
    if (body.size() < 4) return refused("short body");
    const std::size_t length = (std::size_t{body[0]} << 24) | (std::size_t{body[1]} << 16) | (std::size_t{body[2]} << 8) | body[3];
    auto text = os::inflateData(os::Data(body.begin() + 4, body.end()), length, os::InflateFormat::Gzip);
    if (!text || text->size() != length) return refused("bad gzip");
    body = std::move(*text);
  } else if (request.contentEncoding != "rc4") {
    return refused("unknown encoding");
  }
  auto batch = JSONDecoder::decoder()->objectWithUTF8String(reinterpret_cast<const char*>(body.data()), body.size());
  if (!batch || !batch->array()) return refused("not a JSON array");
  std::lock_guard lock(mutex_);
  for (const os::Value& event : *batch->array()) {
    const os::Dictionary* fields = event.dictionary();
    if (!fields) continue;
    events_.push_back(*fields);
    const os::Value& id = (*fields)["ei"];
    log_.push_back("analytics " + (id.string() ? *id.string() : (*fields)["et"].description()));
  }
  return {200, ""};
}

std::vector<os::Dictionary> QQConnectService::analyticsEvents() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<std::string> QQConnectService::policyFetches() const {
  std::lock_guard lock(mutex_);
  return fetches_;
}

std::vector<ActionReport> QQConnectService::actionReports() const {
  std::lock_guard lock(mutex_);
  return reports_;
}

std::vector<std::string> QQConnectService::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

}  // namespace qqconnectd
