#include "tools/renrend/server/RenrenApi.h"

#include "foundation/formats/Base64.h"
#include "foundation/formats/JTSerializer.h"
#include "os/core/String.h"
#include "os/core/Value.h"
#include "os/crypto/Digest.h"
#include "os/runtime/Clock.h"

namespace renrend {

namespace {

std::string json(const os::Value& value) {
  auto text = JTSerializer::serializeObject(value, JTSerializeCompact, JTEncodeAsString);
  return text && text->string() ? *text->string() : "{}";
}

ApiAnswer failure(int status, const std::string& code, const std::string& message) {
  return {status,
          json(os::Value(os::Dictionary{
              {"error", os::Value(os::Dictionary{{"code", os::Value(code)}, {"message", os::Value(message)}})}}))};
}

// MAC id="...",ts="...",nonce="...",mac="..."
std::map<std::string, std::string> macFields(std::string_view header) {
  std::map<std::string, std::string> fields;
  for (const std::string& piece : os::split(header, ",")) {
    auto eq = piece.find('=');
    if (eq == std::string::npos) continue;
    std::string value = piece.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    fields[os::trimWhitespace(piece.substr(0, eq))] = value;
  }
  return fields;
}

}  // namespace

const std::vector<ApiCall>& apiTable() {
  static const std::vector<ApiCall> calls = {
      {"/v2/album/get", "GET", {"albumId", "ownerId"}},
      {"/v2/album/put", "POST", {"location", "description", "name", "accessControl", "password"}},
      {"/v2/album/list", "GET", {"ownerId", "pageSize", "pageNumber"}},
      {"/v2/blog/get", "GET", {"blogId", "ownerId", "password"}},
      {"/v2/blog/put", "POST", {"title", "accessControl", "password", "content"}},
      {"/v2/blog/list", "GET", {"ownerId", "pageSize", "pageNumber"}},
      {"/v2/comment/put", "POST", {"entryOwnerId", "entryId", "commentType", "targetUserId", "content"}},
      {"/v2/comment/list", "GET", {"entryOwnerId", "entryId", "commentType", "pageSize", "pageNumber"}},
      {"/v2/feed/put",
       "POST",
       {"message", "title", "actionTargetUrl", "imageUrl", "description", "subtitle", "actionName", "targetUrl"}},
      {"/v2/feed/list", "GET", {"feedType", "userId", "pageSize", "pageNumber"}},
      {"/v2/notification/user/put", "POST", {"content", "userIds"}},
      {"/v2/notification/app/put", "POST", {"content", "userIds"}},
      {"/v2/invitation/put", "POST", {"invitationType", "userId", "img", "giftName", "url"}},
      {"/v2/photo/get", "GET", {"albumId", "photoId", "ownerId", "password"}},
      {"/v2/photo/upload", "POST", {"albumId", "description", "file"}},
      {"/v2/photo/list", "GET", {"albumId", "ownerId", "password", "pageSize", "pageNumber"}},
      {"/v2/profile/get", "GET", {"userId"}},
      {"/v2/share/get", "GET", {"shareId", "ownerId"}},
      {"/v2/share/ugc/put", "POST", {"ugcOwnerId", "comment", "ugcId", "ugcType"}},
      {"/v2/share/url/put", "POST", {"comment", "url"}},
      {"/v2/share/list", "GET", {"ownerId", "pageSize", "pageNumber"}},
      {"/v2/share/hot/list", "GET", {"shareType", "pageSize", "pageNumber"}},
      {"/v2/status/get", "GET", {"statusId", "ownerId"}},
      {"/v2/status/put", "POST", {"content"}},
      {"/v2/status/list", "GET", {"ownerId", "pageSize", "pageNumber"}},
      {"/v2/status/share", "POST", {"content", "statusId", "ownerId"}},
      {"/v2/ubb/list", "GET", {}},
      {"/v2/user/get", "GET", {"userId"}},
      {"/v2/user/batch", "GET", {"userIds"}},
      {"/v2/user/friend/mutual/list", "GET", {"userId"}},
      {"/v2/user/friend/list", "GET", {"userId", "pageSize", "pageNumber"}},
      {"/v2/user/friend/app/list", "GET", {}},
      {"/v2/user/friend/uninstall/list", "GET", {}},
      {"/v2/user/login/get", "GET", {}},
      {"/v2/like/ugc/put", "POST", {"ugcOwnerId", "likeUGCType", "ugcId"}},
      {"/v2/like/ugc/remove", "POST", {"ugcOwnerId", "likeUGCType", "ugcId"}},
      {"/v2/like/ugc/info/get", "GET", {"limit", "withLikeUsers", "likeUGCType", "ugcId"}},
      {"/v2/app/get", "GET", {}},
      {"/v2/location/get", "GET", {"deflection", "longitude", "latitude"}},
      {"/v2/location/feed/list",
       "GET",
       {"pageSize", "pageNumber", "locationFeedType", "radius", "longitude", "latitude"}},
      {"/v2/place/list",
       "GET",
       {"pageSize", "pageNumber", "placeName", "radius", "longitude", "latitude", "deflection"}},
      {"/v2/place/feed/list", "GET", {"pageSize", "pageNumber", "placeId", "locationFeedType"}},
      {"/v2/photo/head/set", "POST", {"photoId"}},
      {"/v2/news/counts/get", "GET", {"newTypes"}},
      {"/v2/news/count/clear", "GET", {"newType"}},
      {"/v2/friend/list", "GET", {"userId", "pageSize", "pageNumber"}},
  };
  return calls;
}

const ApiCall* findCall(const std::string& path) {
  for (const ApiCall& call : apiTable())
    if (call.path == path) return &call;
  return nullptr;
}

std::string macSignature(const std::string& macKey, const std::string& ts, const std::string& nonce,
                         const std::string& method, const std::string& uri, const std::string& host) {
  const std::string text =
      ts + "\n" + nonce + "\n" + method + "\n" + uri + "\n" + host + "\n" + RenrenApi::kSignedPort + "\n\n";
  return base64EncodedString(os::hmacSHA1(os::dataFromString(macKey), os::dataFromString(text))).value_or("");
}

void RenrenApi::addBearerToken(const std::string& token, const std::string& userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  tokens_[token] = Token{userId, std::nullopt};
}

void RenrenApi::addMacToken(const std::string& token, const std::string& macKey, const std::string& userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  tokens_[token] = Token{userId, macKey};
}

std::vector<std::string> RenrenApi::acceptedCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

// The user the request speaks for, or none with the reason.
std::optional<std::string> RenrenApi::authorize(const ApiRequest& request, std::string* why) {
  const std::string& header = request.authorization;
  if (os::hasPrefix(header, "Bearer ")) {
    auto token = tokens_.find(header.substr(7));
    if (token == tokens_.end() || token->second.macKey) return *why = "unknown bearer token", std::nullopt;
    if (!request.secure) return *why = "bearer tokens only over https", std::nullopt;
    return token->second.userId;
  }
  if (os::hasPrefix(header, "MAC ")) {
    auto fields = macFields(std::string_view(header).substr(4));
    auto token = tokens_.find(fields["id"]);
    if (token == tokens_.end() || !token->second.macKey) return *why = "unknown mac token", std::nullopt;
    const std::string& ts = fields["ts"];
    if (ts.empty() || std::abs(static_cast<double>(os::longLongValue(ts)) - os::Clock::now()) > kTimestampWindow)
      return *why = "stale timestamp", std::nullopt;
    const std::string uri = request.path + (request.rawQuery.empty() ? "" : "?" + request.rawQuery);
    const std::string expected =
        macSignature(*token->second.macKey, ts, fields["nonce"], request.method, uri, request.host);
    if (fields["mac"] != expected) return *why = "bad signature", std::nullopt;
    if (!usedNonces_.insert(fields["id"] + "/" + ts + "/" + fields["nonce"]).second)
      return *why = "nonce used before", std::nullopt;
    return token->second.userId;
  }
  *why = "no authorization";
  return std::nullopt;
}

ApiAnswer RenrenApi::handle(const ApiRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ApiCall* call = findCall(request.path);
  if (!call) return failure(404, "NOT_FOUND", "no such call: " + request.path);
  if (request.method != call->method) return failure(405, "METHOD_NOT_ALLOWED", call->path + " takes " + call->method);
  std::string why;
  auto user = authorize(request, &why);
  if (!user) return failure(401, "INVALID_AUTHORIZATION", why);

  os::Dictionary parameters;
  for (const auto& [key, value] : request.query) {
    bool known = false;
    for (const std::string& name : call->parameters) known = known || name == key;
    if (!known) return failure(400, "INVALID_PARAMETER", "unknown parameter " + key);
    parameters.set(key, os::Value(value));
  }
  accepted_.push_back(request.method + " " + request.path + " " + *user);

  os::Value response;
  if (call->path == "/v2/user/get") {
    std::string id = parameters["userId"].stringOr(*user);
    response = os::Value(os::Dictionary{{"id", os::Value(id)}, {"name", os::Value("user " + id)}});
  } else if (call->path == "/v2/user/batch") {
    os::Array users;
    for (const std::string& id : os::split(parameters["userIds"].stringOr(""), ","))
      if (!id.empty()) users.push_back(os::Value(os::Dictionary{{"id", os::Value(id)}}));
    response = os::Value(users);
  } else if (call->path == "/v2/photo/upload") {
    if (!request.uploadedFile) return failure(400, "INVALID_PARAMETER", "no file");
    response = os::Value(os::Dictionary{{"albumId", parameters["albumId"]},
                                        {"size", os::Value(static_cast<long long>(request.uploadedFile->size()))}});
  } else {
    response = os::Value(os::Dictionary{
        {"path", os::Value(call->path)}, {"user", os::Value(*user)}, {"parameters", os::Value(parameters)}});
  }
  return {200, json(os::Value(os::Dictionary{{"response", response}}))};
}

}  // namespace renrend
