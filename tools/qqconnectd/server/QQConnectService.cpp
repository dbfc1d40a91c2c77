#include "tools/qqconnectd/server/QQConnectService.h"

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
