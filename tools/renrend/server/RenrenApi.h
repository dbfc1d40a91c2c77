#pragma once
// The Renren REST API as a local service: its own table of calls (path, method, parameters),
// the tokens it has issued, and the check of every request's authorization (a bearer token,
// accepted only over https, or a MAC signature over the request). Answers are the API's JSON:
// {"response": ...} or {"error": {"code": ..., "message": ...}}.
//
// Independent of any transport: RenrenServer puts it on a port, tests put it behind their own
// loopback servers (plain and TLS).
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/NewestKept.h"

namespace renrend {

// What a call's parameter holds, and so the form its value arrives in: text as it is; an integer
// as its decimal text (-1 stands for unset and is never sent); a list as its members joined with
// "," (an empty list is not sent); data (the photo) as the multipart body, never in the query.
enum class ParamKind { Text, Integer, List, Data };

struct ApiCall {
  std::string path;
  std::string method;
  std::vector<std::string> parameters;
  std::vector<ParamKind> kinds;  // one for each parameter
};

// Every call the service answers.
const std::vector<ApiCall>& apiTable();
// A query's pairs, values unescaped; absent for an escape that does not decode.
std::optional<std::multimap<std::string, std::string>> parseQuery(const std::string& rawQuery);
const ApiCall* findCall(const std::string& path);

struct ApiRequest {
  std::string method;
  std::string path;
  std::string rawQuery;  // as sent, after "?"
  std::multimap<std::string, std::string> query;
  std::string authorization;
  std::string host;  // the Host header
  bool secure = false;
  std::optional<std::string> uploadedFile;  // the "file" part of a multipart body
  bool queryMalformed = false;              // an escape in the query that does not decode
  bool formBody = false;                    // a body other than the multipart upload
};

struct ApiAnswer {
  int status = 200;
  std::string body;
};

class RenrenApi {
 public:
  // MAC timestamps further than this from the service's clock are refused.
  static constexpr double kTimestampWindow = 300;
  // The port every MAC signature names, whatever the connection's.
  static constexpr const char* kSignedPort = "80";

  void addBearerToken(const std::string& token, const std::string& userId);
  void addMacToken(const std::string& token, const std::string& macKey, const std::string& userId);
  ApiAnswer handle(const ApiRequest& request);
  // Each accepted call as "METHOD path user", oldest first: the newest only, within the bounds
  // every local service's record keeps to.
  std::vector<std::string> acceptedCalls() const;
  // The MAC nonces remembered against replays: only those whose time stamp is still in the window,
  // at most kNonceLimit of them holding at most kNonceByteLimit bytes. A request that would take
  // them past either bound is answered 503 until the oldest leave the window.
  static constexpr std::size_t kNonceLimit = tools::kRecordLimit;
  static constexpr std::size_t kNonceByteLimit = tools::kRecordByteLimit;
  std::size_t rememberedNonces() const;

 private:
  struct Token {
    std::string userId;
    std::optional<std::string> macKey;
  };
  // `busy` is set when the request is refused for the bounds on the nonces only.
  std::optional<std::string> authorize(const ApiRequest& request, std::string* failure, bool* busy);
  // What one remembered nonce holds, by the measure its byte bound uses.
  static std::size_t nonceBytes(const std::string& used);

  mutable std::mutex mutex_;
  std::map<std::string, Token> tokens_;
  // (time stamp, "id/nonce"), oldest first: one whose time stamp left the window is refused as
  // stale before its nonce is looked at, so it is forgotten then.
  std::set<std::pair<long long, std::string>> usedNonces_;
  std::size_t nonceBytes_ = 0;  // what usedNonces_ holds
  tools::NewestKept<std::string> accepted_;
};

// The MAC over a request as client and service compute it.
std::string macSignature(const std::string& macKey, const std::string& ts, const std::string& nonce,
                         const std::string& method, const std::string& uri, const std::string& host);

}  // namespace renrend
