#pragma once
// The QQ Connect service as the client reaches it: the authorisation page of the web login (a
// sign-in form that takes one test account and grants a token), the OpenAPI operations the client
// can call with that token (the open id, user information, add_share), and the CGIs beside them:
// the online policy, the numbered action reports and the analytics upload. It answers every
// policy fetch with the policy it was given and keeps the newest fetches, reports, uploaded events,
// sign-ins and shares it accepted, in arrival order, each record bounded by count and bytes.
//
// Independent of any transport: QQConnectServer puts it on a port, tests may put it behind
// their own loopback servers.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/core/Value.h"
#include "tools/common/NewestKept.h"

namespace qqconnectd {

struct ServiceRequest {
  std::string method;
  std::string path;
  std::multimap<std::string, std::string> query;  // the query's members and a posted form's fields
  std::string contentEncoding;  // the "Content-Encoding" header
  std::string body;
  std::string target;  // the path and query as sent: where a page's form posts back
};

struct ServiceAnswer {
  ServiceAnswer(int status = 200, std::string body = "", std::string contentType = "application/json;charset=UTF-8",
                std::string location = "")
      : status(status), body(std::move(body)), contentType(std::move(contentType)), location(std::move(location)) {}
  int status;
  std::string body;
  std::string contentType;
  std::string location;  // a redirect's target
};

// One accepted action report.
struct ActionReport {
  std::string appid;                  // "strValue"
  std::string action;                 // "nValue"
  std::string version;                // "qver"
  std::string tag;                    // "tag"
  std::optional<std::string> elapsed;  // "elt", timed reports only
};

// A token the authorisation page granted.
struct Grant {
  std::string token;   // "access_token"
  std::string appid;   // "client_id" of the authorisation
  std::string openid;  // the account's open id for that application
  std::string account;
  std::string scope;
};

// One share add_share accepted.
struct AddedShare {
  std::string appid;
  std::string openid;
  std::string title;
  std::string url;
  std::multimap<std::string, std::string> parameters;  // everything the call sent
};

std::size_t heldBytes(const ActionReport& report);
std::size_t heldBytes(const Grant& grant);
std::size_t heldBytes(const AddedShare& share);

class QQConnectService {
 public:
  static constexpr const char* kAuthorizePath = "/oauth2.0/m_authorize";
  static constexpr const char* kOpenIdPath = "/oauth2.0/m_me";
  static constexpr const char* kUserInfoPath = "/user/get_user_info";
  static constexpr const char* kAddSharePath = "/share/add_share";
  // The one account the authorisation page takes.
  static constexpr const char* kTestAccount = "10001";
  static constexpr const char* kTestPassword = "qq123456";
  static constexpr const char* kTestNickname = "QQ测试用户";
  // A granted token lasts 90 days ("expires_in"); past that it is refused and forgotten.
  static constexpr long kTokenLifetime = 7776000;
  // The live tokens kept at most, oldest revoked first: a service signed into again and again
  // within a token's lifetime would otherwise hold every one. A live token keeps only what a
  // look-up checks, each bounded (an application id of at most kAppIdDigits digits), so that this
  // many fit in a record's bytes whatever the sign-ins sent.
  static constexpr std::size_t kTokenLimit = tools::kRecordLimit;
  static constexpr std::size_t kAppIdDigits = 10;
  // The longest field a request may carry, plain or in parts (a picture's part aside), as the HTTP
  // layer holds a plain form to; a request with a longer one is refused whole.
  static constexpr std::size_t kFieldLimit = 8192;
  // The longest batch text an analytics upload may inflate to.
  static constexpr std::size_t kUploadLimit = std::size_t{16} << 20;
  // OpenAPI answers ("ret"): a token the service never granted, or granted to another application
  // or account; a parameter the operation needs is missing.
  static constexpr int kRetTokenInvalid = 100015;
  static constexpr int kRetParameterMissing = 100001;

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

  // Each record below keeps its newest entries, oldest first: at most kRecordLimit of them, holding
  // at most tools::kRecordByteLimit bytes (the newest whatever its size).
  static constexpr std::size_t kRecordLimit = tools::kRecordLimit;
  // The "client_id" of each accepted policy fetch, oldest first.
  std::vector<std::string> policyFetches() const;
  std::vector<ActionReport> actionReports() const;
  // The analytics events of every accepted upload (their JSON objects), oldest first.
  std::vector<os::Dictionary> analyticsEvents() const;
  std::vector<Grant> grants() const;
  std::vector<AddedShare> shares() const;
  // Every accepted request as "policy CLIENT_ID", "report ACTION" or "analytics EVENT_ID" (one
  // line per event, its "ei", or "et" when it has none), and what the pages and the OpenAPI did
  // ("sign-in page for CLIENT_ID", "signed in ACCOUNT for CLIENT_ID", "user info for ACCOUNT",
  // "add_share by ACCOUNT: TITLE URL" and their refusals), oldest first.
  std::vector<std::string> log() const;
  // What the records and the live tokens hold together, by the measure their bounds use.
  std::size_t keptBytes() const;
  // Told each log line as it is written (from the serving thread).
  void setLogListener(std::function<void(const std::string&)> listener);

 private:
  // An analytics upload: enciphered, compressed behind a length when long, a JSON array of events.
  ServiceAnswer upload(const ServiceRequest& request);
  ServiceAnswer authorize(const ServiceRequest& request);
  ServiceAnswer openId(const ServiceRequest& request);
  ServiceAnswer userInfo(const ServiceRequest& request);
  ServiceAnswer addShare(const ServiceRequest& request);
  // The grant an OpenAPI call's "access_token", "oauth_consumer_key" and "openid" name, or the
  // answer that refuses it (and "OPERATION refused" in the log). Under the lock.
  std::optional<Grant> grantFor(const ServiceRequest& request, const std::string& operation, ServiceAnswer& refusal);
  void note(std::string line);  // under the lock
  struct LiveToken;
  // The live token of that text, or null (one past its lifetime is forgotten). Under the lock.
  const LiveToken* liveToken(const std::string& token, double now);
  // Forgets the tokens past their lifetime. Under the lock.
  void forgetExpiredTokens(double now);
  void forgetToken(std::string token);  // a copy: it may name the token by an index it leaves

  mutable std::mutex mutex_;
  std::string policy_ = kDefaultPolicy;
  // The newest entries only: a service left running for weeks would otherwise keep every request
  // it heard. sharesAdded_ counts every share ever accepted, for the share ids.
  tools::NewestKept<std::string> fetches_;
  tools::NewestKept<ActionReport> reports_;
  tools::NewestKept<os::Dictionary> events_;
  tools::NewestKept<std::string> log_;
  // The live tokens by their text, by their order of grant (the oldest revoked past kTokenLimit)
  // and by their end of life (the expired forgotten first, in whatever order the clock gave them).
  struct LiveToken {
    Grant grant;  // its scope left out: the record of grants keeps it
    double expires = 0;
    std::uint64_t serial = 0;
  };
  std::unordered_map<std::string, LiveToken> tokens_;
  std::map<std::uint64_t, std::string> tokensByGrant_;
  std::set<std::pair<double, std::uint64_t>> tokensByExpiry_;
  std::uint64_t tokensGranted_ = 0;
  std::size_t tokenBytes_ = 0;  // by the measure the records' bounds use
  tools::NewestKept<Grant> grants_;
  tools::NewestKept<AddedShare> shares_;
  std::uint64_t sharesAdded_ = 0;
  std::function<void(const std::string&)> listener_;
};

}  // namespace qqconnectd
