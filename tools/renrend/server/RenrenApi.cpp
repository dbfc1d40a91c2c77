#include "tools/renrend/server/RenrenApi.h"

#include <algorithm>

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

// Why a value is not in the form its kind arrives in, or nothing.
std::optional<std::string> wrongForm(ParamKind kind, const std::string& value) {
  switch (kind) {
    case ParamKind::Text:
      return std::nullopt;
    case ParamKind::Integer: {
      // An integer's decimal text; -1 means unset and is left out.
      const std::string_view digits = std::string_view(value).substr(value.starts_with('-') ? 1 : 0);
      const bool decimal = !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos &&
                           (digits == "0" || digits.front() != '0') && value != "-0";
      if (!decimal) return "must be a whole number";
      if (value == "-1") return "is -1, which stands for unset and is not sent";
      return std::nullopt;
    }
    case ParamKind::List:
      if (value.empty()) return "is an empty list, which is not sent";
      return std::nullopt;
    case ParamKind::Data:
      return "travels as the multipart body, not in the query";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::multimap<std::string, std::string>> parseQuery(const std::string& rawQuery) {
  std::multimap<std::string, std::string> pairs;
  for (const std::string& piece : os::split(rawQuery, "&")) {
    if (piece.empty()) continue;
    const auto equals = piece.find('=');
    auto value = os::percentUnescape(equals == std::string::npos ? "" : piece.substr(equals + 1));
    if (!value) return std::nullopt;
    pairs.emplace(piece.substr(0, equals), std::move(*value));
  }
  return pairs;
}

const std::vector<ApiCall>& apiTable() {
  constexpr ParamKind I = ParamKind::Integer, L = ParamKind::List, D = ParamKind::Data;
  struct Param {
    const char* name;
    ParamKind kind = ParamKind::Text;
  };
  auto row = [](const char* path, const char* method, std::initializer_list<Param> parameters) {
    ApiCall call{path, method, {}, {}};
    for (const Param& p : parameters) {
      call.parameters.emplace_back(p.name);
      call.kinds.push_back(p.kind);
    }
    return call;
  };
  static const std::vector<ApiCall> calls = {
      row("/v2/album/get", "GET", {{"albumId"}, {"ownerId"}}),
      row("/v2/album/put", "POST", {{"location"}, {"description"}, {"name"}, {"accessControl"}, {"password"}}),
      row("/v2/album/list", "GET", {{"ownerId"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/blog/get", "GET", {{"blogId"}, {"ownerId"}, {"password"}}),
      row("/v2/blog/put", "POST", {{"title"}, {"accessControl"}, {"password"}, {"content"}}),
      row("/v2/blog/list", "GET", {{"ownerId"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/comment/put", "POST", {{"entryOwnerId"}, {"entryId"}, {"commentType"}, {"targetUserId"}, {"content"}}),
      row("/v2/comment/list", "GET",
          {{"entryOwnerId"}, {"entryId"}, {"commentType"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/feed/put", "POST",
          {{"message"}, {"title"}, {"actionTargetUrl"}, {"imageUrl"}, {"description"}, {"subtitle"}, {"actionName"},
           {"targetUrl"}}),
      row("/v2/feed/list", "GET", {{"feedType"}, {"userId"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/notification/user/put", "POST", {{"content"}, {"userIds", L}}),
      row("/v2/notification/app/put", "POST", {{"content"}, {"userIds", L}}),
      row("/v2/invitation/put", "POST", {{"invitationType"}, {"userId"}, {"img"}, {"giftName"}, {"url"}}),
      row("/v2/photo/get", "GET", {{"albumId"}, {"photoId"}, {"ownerId"}, {"password"}}),
      row("/v2/photo/upload", "POST", {{"albumId"}, {"description"}, {"file", D}}),
      row("/v2/photo/list", "GET", {{"albumId"}, {"ownerId"}, {"password"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/profile/get", "GET", {{"userId"}}),
      row("/v2/share/get", "GET", {{"shareId"}, {"ownerId"}}),
      row("/v2/share/ugc/put", "POST", {{"ugcOwnerId"}, {"comment"}, {"ugcId"}, {"ugcType"}}),
      row("/v2/share/url/put", "POST", {{"comment"}, {"url"}}),
      row("/v2/share/list", "GET", {{"ownerId"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/share/hot/list", "GET", {{"shareType"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/status/get", "GET", {{"statusId"}, {"ownerId"}}),
      row("/v2/status/put", "POST", {{"content"}}),
      row("/v2/status/list", "GET", {{"ownerId"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/status/share", "POST", {{"content"}, {"statusId"}, {"ownerId"}}),
      row("/v2/ubb/list", "GET", {}),
      row("/v2/user/get", "GET", {{"userId"}}),
      row("/v2/user/batch", "GET", {{"userIds", L}}),
      row("/v2/user/friend/mutual/list", "GET", {{"userId"}}),
      row("/v2/user/friend/list", "GET", {{"userId"}, {"pageSize", I}, {"pageNumber", I}}),
      row("/v2/user/friend/app/list", "GET", {}),
      row("/v2/user/friend/uninstall/list", "GET", {}),
      row("/v2/user/login/get", "GET", {}),
      row("/v2/like/ugc/put", "POST", {{"ugcOwnerId"}, {"likeUGCType"}, {"ugcId"}}),
      row("/v2/like/ugc/remove", "POST", {{"ugcOwnerId"}, {"likeUGCType"}, {"ugcId"}}),
      row("/v2/like/ugc/info/get", "GET", {{"limit"}, {"withLikeUsers"}, {"likeUGCType"}, {"ugcId"}}),
      row("/v2/app/get", "GET", {}),
      row("/v2/location/get", "GET", {{"deflection"}, {"longitude"}, {"latitude"}}),
      row("/v2/location/feed/list", "GET",
          {{"pageSize", I}, {"pageNumber", I}, {"locationFeedType"}, {"radius"}, {"longitude"}, {"latitude"}}),
      row("/v2/place/list", "GET",
          {{"pageSize", I}, {"pageNumber", I}, {"placeName"}, {"radius"}, {"longitude"}, {"latitude"}, {"deflection"}}),
      row("/v2/place/feed/list", "GET", {{"pageSize", I}, {"pageNumber", I}, {"placeId"}, {"locationFeedType"}}),
      row("/v2/photo/head/set", "POST", {{"photoId"}}),
      row("/v2/news/counts/get", "GET", {{"newTypes"}}),
      row("/v2/news/count/clear", "GET", {{"newType"}}),
      row("/v2/friend/list", "GET", {{"userId"}, {"pageSize", I}, {"pageNumber", I}}),
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
  return accepted_.entries();
}

std::size_t RenrenApi::nonceBytes(const std::string& used) {
  // A tree node's links and colour besides its pair.
  return 4 * sizeof(void*) + sizeof(std::pair<long long, std::string>) + used.size();
}

std::size_t RenrenApi::rememberedNonces() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return usedNonces_.size();
}

// The user the request speaks for, or none with the reason.
std::optional<std::string> RenrenApi::authorize(const ApiRequest& request, std::string* why, bool* busy) {
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
    const double now = os::Clock::now();
    // Nonces whose time stamps left the window: a replay of one is refused as stale already.
    while (!usedNonces_.empty() && static_cast<double>(usedNonces_.begin()->first) < now - kTimestampWindow) {
      nonceBytes_ -= nonceBytes(usedNonces_.begin()->second);
      usedNonces_.erase(usedNonces_.begin());
    }
    if (ts.empty() || std::abs(static_cast<double>(os::longLongValue(ts)) - now) > kTimestampWindow)
      return *why = "stale timestamp", std::nullopt;
    const std::string uri = request.path + (request.rawQuery.empty() ? "" : "?" + request.rawQuery);
    const std::string expected =
        macSignature(*token->second.macKey, ts, fields["nonce"], request.method, uri, request.host);
    if (fields["mac"] != expected) return *why = "bad signature", std::nullopt;
    std::string used = fields["id"] + "/" + ts + "/" + fields["nonce"];
    const long long stamp = os::longLongValue(ts);
    if (usedNonces_.count({stamp, used})) return *why = "nonce used before", std::nullopt;
    // Forgetting a nonce still in the window would let its request be replayed: past the bounds
    // on what is remembered, requests wait for the oldest to leave it.
    const std::size_t bytes = nonceBytes(used);
    if (usedNonces_.size() >= kNonceLimit || bytes > kNonceByteLimit - std::min(nonceBytes_, kNonceByteLimit)) {
      *busy = true;
      return *why = "too many requests within the time stamp window", std::nullopt;
    }
    usedNonces_.emplace(stamp, std::move(used));
    nonceBytes_ += bytes;
    return token->second.userId;
  }
  *why = "no authorization";
  return std::nullopt;
}

ApiAnswer RenrenApi::handle(const ApiRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ApiCall* call = findCall(request.path);
  if (!call) return failure(404, "NOT_FOUND", "no such call: " + request.path);
  // A HEAD is the GET whose body the HTTP layer leaves out (signed as the HEAD it is).
  if (request.method != call->method && !(request.method == "HEAD" && call->method == "GET"))
    return failure(405, "METHOD_NOT_ALLOWED", call->path + " takes " + call->method);
  std::string why;
  bool busy = false;
  auto user = authorize(request, &why, &busy);
  if (busy) return failure(503, "SERVICE_BUSY", why);
  if (!user) return failure(401, "INVALID_AUTHORIZATION", why);

  // Every parameter travels in the query string, for a POST as well; only the photo travels as
  // the body.
  if (request.queryMalformed) return failure(400, "INVALID_PARAMETER", "an escape in the query does not decode");
  if (request.formBody) return failure(400, "INVALID_PARAMETER", "parameters travel in the query string, not the body");
  os::Dictionary parameters;
  for (const auto& [key, value] : request.query) {
    std::size_t index = 0;
    while (index < call->parameters.size() && call->parameters[index] != key) ++index;
    if (index == call->parameters.size()) return failure(400, "INVALID_PARAMETER", "unknown parameter " + key);
    if (parameters[key].isString()) return failure(400, "INVALID_PARAMETER", key + " given twice");
    if (auto wrong = wrongForm(call->kinds[index], value)) return failure(400, "INVALID_PARAMETER", key + " " + *wrong);
    parameters.set(key, os::Value(value));
  }
  accepted_.keep(request.method + " " + request.path + " " + *user);

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
