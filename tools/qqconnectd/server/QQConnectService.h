#pragma once
// The QQ Connect CGIs the client reaches beside the OpenAPI: the online policy and the numbered
// action reports. It answers every policy fetch with the policy it was given and keeps each
// fetch and each report it accepted, in arrival order.
//
// Independent of any transport: QQConnectServer puts it on a port, tests may put it behind
// their own loopback servers.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qqconnectd {

struct ServiceRequest {
  std::string method;
  std::string path;
  std::multimap<std::string, std::string> query;
};

struct ServiceAnswer {
  int status = 200;
  std::string body;
};

// One accepted action report.
struct ActionReport {
  std::string appid;                  // "strValue"
  std::string action;                 // "nValue"
  std::string version;                // "qver"
  std::string tag;                    // "tag"
  std::optional<std::string> elapsed;  // "elt", timed reports only
};

class QQConnectService {
 public:
  static constexpr const char* kPolicyPath = "/qqconnectopen/openapi/policy_conf";
  static constexpr const char* kReportPath = "/report/report";
  // Reports on, a day between fetches, single sign-on on.
  static constexpr const char* kDefaultPolicy =
      "{\"ret\":0,\"Common_ta_enable\":1,\"Common_frequency\":24,\"Common_SSO\":1}";

  // The JSON text every later policy fetch is answered with.
  void setPolicy(std::string json);
  ServiceAnswer handle(const ServiceRequest& request);

  // The "client_id" of each accepted policy fetch, oldest first.
  std::vector<std::string> policyFetches() const;
  std::vector<ActionReport> actionReports() const;
  // Every accepted request as "policy CLIENT_ID" or "report ACTION", oldest first.
  std::vector<std::string> log() const;

 private:
  mutable std::mutex mutex_;
  std::string policy_ = kDefaultPolicy;
  std::vector<std::string> fetches_;
  std::vector<ActionReport> reports_;
  std::vector<std::string> log_;
};

}  // namespace qqconnectd
