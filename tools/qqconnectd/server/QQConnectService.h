#pragma once
// The QQ Connect CGIs the client reaches beside the OpenAPI: the online policy, the numbered
// action reports and the analytics upload. It answers every policy fetch with the policy it was
// given and keeps each fetch, each report and each uploaded event it accepted, in arrival order.
//
// Independent of any transport: QQConnectServer puts it on a port, tests may put it behind
// their own loopback servers.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"

namespace qqconnectd {

struct ServiceRequest {
  std::string method;
  std::string path;
  std::multimap<std::string, std::string> query;
  std::string contentEncoding;  // the "Content-Encoding" header
  std::string body;
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
  static constexpr const char* kAnalyticsPath = "/qqconnectutil/sdk";
  // The upload cipher's key: these 32 ASCII bytes, not the 16 their digits spell.
  static constexpr const char* kAnalyticsKey = "4b7e0c9a2f5d8e1b6a3c7f0e9d2b5a48";
  // Reports on, a day between fetches, single sign-on on.
  static constexpr const char* kDefaultPolicy =
      "{\"ret\":0,\"Common_ta_enable\":1,\"Common_frequency\":24,\"Common_SSO\":1}";

  // The JSON text every later policy fetch is answered with.
  void setPolicy(std::string json);
  ServiceAnswer handle(const ServiceRequest& request);

  // The "client_id" of each accepted policy fetch, oldest first.
  std::vector<std::string> policyFetches() const;
  std::vector<ActionReport> actionReports() const;
  // The analytics events of every accepted upload (their JSON objects), oldest first.
  std::vector<os::Dictionary> analyticsEvents() const;
  // Every accepted request as "policy CLIENT_ID", "report ACTION" or "analytics EVENT_ID" (one
  // line per event, its "ei", or "et" when it has none), oldest first.
  std::vector<std::string> log() const;

 private:
  // An analytics upload: enciphered, compressed behind a length when long, a JSON array of events.
  ServiceAnswer upload(const ServiceRequest& request);

  mutable std::mutex mutex_;
  std::string policy_ = kDefaultPolicy;
  std::vector<std::string> fetches_;
  std::vector<ActionReport> reports_;
  std::vector<os::Dictionary> events_;
  std::vector<std::string> log_;
};

}  // namespace qqconnectd
