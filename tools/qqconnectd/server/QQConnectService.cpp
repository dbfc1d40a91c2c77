#include "tools/qqconnectd/server/QQConnectService.h"

#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JTSerializer.h"
#include "os/core/Compression.h"
#include "os/core/String.h"
#include "os/crypto/Cipher.h"
#include "os/crypto/Digest.h"
#include "os/crypto/Random.h"
#include "os/runtime/Clock.h"
#include "tools/common/SignInPage.h"

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

std::string json(const os::Value& value) {
  auto text = JTSerializer::serializeObject(value, JTSerializeCompact, JTEncodeAsString);
  return text && text->string() ? *text->string() : "{}";
}

// An OpenAPI answer: HTTP 200 whatever "ret" says, as the client reads "ret" itself.
ServiceAnswer openApiAnswer(int ret, const std::string& message, os::Dictionary more = {}) {
  os::Dictionary body{{"ret", os::Value(ret)}, {"msg", os::Value(message)}};
  for (const auto& [key, value] : more) body.set(key, value);
  return {200, json(os::Value(std::move(body)))};
}

ServiceAnswer page(int status, std::string html) { return {status, std::move(html), "text/html; charset=utf-8", ""}; }

bool isDecimal(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Each character XORed with the key's character at the same place (the key repeated), written as
// two lower-case hex digits.
std::string keyedToken(const std::string& token, const std::string& key) {
  os::Data coded;
  for (std::size_t i = 0; i < token.size(); ++i)
    coded.push_back(static_cast<std::uint8_t>(token[i] ^ key[i % key.size()]));
  return os::hexString(coded);
}

std::map<std::string, std::string> fieldsOf(const ServiceRequest& request) {
  std::map<std::string, std::string> fields;
  for (const auto& [key, value] : request.query) fields.emplace(key, value);
  return fields;
}

// The field past the form limit a request carries, if any.
const std::string* overlongField(const ServiceRequest& request) {
  for (const auto& [key, value] : request.query)
    if (key.size() > QQConnectService::kFieldLimit || value.size() > QQConnectService::kFieldLimit) return &key;
  return nullptr;
}

}  // namespace

std::size_t heldBytes(const ActionReport& report) {
  return tools::heldBytes(report.appid) + tools::heldBytes(report.action) + tools::heldBytes(report.version) +
         tools::heldBytes(report.tag) + tools::heldBytes(report.elapsed);
}

std::size_t heldBytes(const Grant& grant) {
  return tools::heldBytes(grant.token) + tools::heldBytes(grant.appid) + tools::heldBytes(grant.openid) +
         tools::heldBytes(grant.account) + tools::heldBytes(grant.scope);
}

std::size_t heldBytes(const AddedShare& share) {
  return tools::heldBytes(share.appid) + tools::heldBytes(share.openid) + tools::heldBytes(share.title) +
         tools::heldBytes(share.url) + tools::heldBytes(share.parameters);
}

void QQConnectService::setPolicy(std::string json) {
  std::lock_guard lock(mutex_);
  policy_ = std::move(json);
}

ServiceAnswer QQConnectService::handle(const ServiceRequest& request) {
  if (const std::string* field = overlongField(request)) {
    std::lock_guard lock(mutex_);
    note("refused: a field past " + std::to_string(kFieldLimit) + " bytes (" + field->substr(0, 64) + ")");
    return {413, "{\"ret\":-1,\"msg\":\"field too long\"}"};
  }
  if (request.path == kAuthorizePath) {
    if (request.method != "GET" && request.method != "POST") return page(405, "GET or POST only");
    return authorize(request);
  }
  if (request.path == kAddSharePath) {
    if (request.method != "POST") return openApiAnswer(-1, "POST only");
    return addShare(request);
  }
  if (request.path == kAnalyticsPath) {
    if (request.method != "POST") return {405, "{\"ret\":-1,\"msg\":\"POST only\"}"};
    return upload(request);
  }
  if (request.method != "GET") return {405, "{\"ret\":-1,\"msg\":\"GET only\"}"};
  if (request.path == kOpenIdPath) return openId(request);
  if (request.path == kUserInfoPath) return userInfo(request);
  if (request.path == kPolicyPath) {
    auto client = member(request, "client_id");
    if (!client || client->empty()) return refused("client_id missing");
    std::lock_guard lock(mutex_);
    fetches_.keep(*client);
    note("policy " + *client);
    return {200, policy_};
  }
  if (request.path == kReportPath) {
    auto appid = member(request, "strValue");
    auto action = member(request, "nValue");
    if (!appid || !action || action->empty()) return refused("strValue and nValue required");
    ActionReport report{*appid, *action, member(request, "qver").value_or(""), member(request, "tag").value_or(""),
                        member(request, "elt")};
    std::lock_guard lock(mutex_);
    reports_.keep(std::move(report));
    note("report " + *action);
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
    // The length is the peer's word: a few kilobytes may name gigabytes.
    if (length > kUploadLimit) return refused("batch too long");
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
    events_.keep(*fields);
    const os::Value& id = (*fields)["ei"];
    note("analytics " + (id.string() ? *id.string() : (*fields)["et"].description()));
  }
  return {200, ""};
}

// The web login's authorisation page ("response_type" token): a sign-in form that posts back to
// the page; the test account's sign-in grants a token and sends the browser to "redirect_uri"
// with the token, the open id and the lifetime in the fragment, where the client's login watches.
ServiceAnswer QQConnectService::authorize(const ServiceRequest& request) {
  const std::string type = member(request, "response_type").value_or("");
  const std::string client = member(request, "client_id").value_or("");
  const std::string redirect = member(request, "redirect_uri").value_or("");
  // An application id is a number of at most ten digits, as the client's own conversion takes it.
  const bool appId = isDecimal(client) && client.size() <= kAppIdDigits;
  std::string problem = type != "token"    ? "response_type must be token"
                        : !appId           ? "client_id must be an application id"
                        : redirect.empty() ? "redirect_uri missing"
                                           : "";
  std::lock_guard lock(mutex_);
  if (!problem.empty()) {
    note("authorisation refused: " + problem);
    return page(400, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>参数错误</title></head><body><p>" +
                         os::escapeMarkup(problem) + "</p></body></html>");
  }
  const bool signingIn = request.method == "POST";
  const auto fields = fieldsOf(request);
  if (!signingIn || !tools::signInAccepted(fields, kTestAccount, kTestPassword)) {
    note((signingIn ? "sign-in refused for " : "sign-in page for ") + client);
    auto typed = fields.find("username");
    return page(200, tools::signInPageHTML({"QQ登录", "用QQ帐号登录并授权应用", request.target.empty() ? request.path : request.target,
                                            kTestAccount, kTestPassword, typed == fields.end() ? "" : typed->second,
                                            signingIn}));
  }
  const std::string token = os::uppercaseASCII(os::hexString(os::randomBytes(16)));
  // One open id per account and application, as the platform keeps them.
  Grant grant{token, client, os::uppercaseASCII(os::md5Hex(client + ":" + kTestAccount)), kTestAccount,
              member(request, "scope").value_or("")};
  const double now = os::Clock::now();
  forgetExpiredTokens(now);
  forgetToken(token);
  LiveToken& live = tokens_[token];
  live.grant = grant;
  live.grant.scope.clear();
  live.expires = now + kTokenLifetime;
  live.serial = ++tokensGranted_;
  tokensByGrant_.emplace(live.serial, token);
  tokensByExpiry_.emplace(live.expires, live.serial);
  tokenBytes_ += sizeof(LiveToken) + token.size() + heldBytes(live.grant);
  while (tokens_.size() > kTokenLimit) forgetToken(tokensByGrant_.begin()->second);
  grants_.keep(grant);
  note("signed in " + grant.account + " for " + client);
  // A login in an outside browser ("token_key" and "serial" given) comes back through the
  // application's own scheme: the client finds the attempt by its serial and reads the token
  // with that attempt's key, so the serial goes back and the token goes enciphered.
  const auto tokenKey = member(request, "token_key");
  const auto serial = member(request, "serial");
  const bool keyed = tokenKey && !tokenKey->empty() && serial;
  std::string fragment = "access_token=" + (keyed ? keyedToken(token, *tokenKey) : token) +
                         "&expires_in=" + std::to_string(kTokenLifetime) + "&openid=" + grant.openid;
  if (keyed) fragment += "&serial=" + os::percentEscape(*serial);
  if (auto state = member(request, "state")) fragment += "&state=" + os::percentEscape(*state);
  return {302, "", "text/plain; charset=utf-8", redirect + "#" + fragment};
}

std::optional<Grant> QQConnectService::grantFor(const ServiceRequest& request, const std::string& operation,
                                                ServiceAnswer& refusal) {
  const LiveToken* live = liveToken(member(request, "access_token").value_or(""), os::Clock::now());
  if (!live || member(request, "oauth_consumer_key").value_or("") != live->grant.appid ||
      member(request, "openid").value_or("") != live->grant.openid) {
    note(operation + " refused");
    refusal = openApiAnswer(kRetTokenInvalid, "access token invalid");
    return std::nullopt;
  }
  return live->grant;
}

// The open id of a token, wrapped in a call of "callback" as the client expects it.
ServiceAnswer QQConnectService::openId(const ServiceRequest& request) {
  std::lock_guard lock(mutex_);
  const LiveToken* live = liveToken(member(request, "access_token").value_or(""), os::Clock::now());
  os::Dictionary body;
  if (!live) {
    note("open id refused");
    body = os::Dictionary{{"error", os::Value(kRetTokenInvalid)}, {"error_description", os::Value("access token invalid")}};
  } else {
    note("open id for " + live->grant.account);
    body = os::Dictionary{{"client_id", os::Value(live->grant.appid)}, {"openid", os::Value(live->grant.openid)}};
  }
  return {200, "callback( " + json(os::Value(std::move(body))) + " );\n", "text/plain; charset=utf-8", ""};
}

ServiceAnswer QQConnectService::userInfo(const ServiceRequest& request) {
  std::lock_guard lock(mutex_);
  ServiceAnswer refusal;
  auto grant = grantFor(request, "user info", refusal);
  if (!grant) return refusal;
  note("user info for " + grant->account);
  return openApiAnswer(0, "", os::Dictionary{{"nickname", os::Value(kTestNickname)}, {"gender", os::Value("男")}});
}

ServiceAnswer QQConnectService::addShare(const ServiceRequest& request) {
  std::lock_guard lock(mutex_);
  ServiceAnswer refusal;
  auto grant = grantFor(request, "add_share", refusal);
  if (!grant) return refusal;
  const std::string title = member(request, "title").value_or("");
  const std::string url = member(request, "url").value_or("");
  if (title.empty() || url.empty()) {
    note("add_share refused: " + std::string(title.empty() ? "title" : "url") + " missing");
    return openApiAnswer(kRetParameterMissing, title.empty() ? "title missing" : "url missing");
  }
  shares_.keep(AddedShare{grant->appid, grant->openid, title, url, request.query});
  ++sharesAdded_;
  note("add_share by " + grant->account + ": " + title + " " + url);
  return openApiAnswer(0, "", os::Dictionary{{"share_id", os::Value(std::to_string(sharesAdded_))}});
}

// A token's own end of life decides, whatever the clock did since it was granted: the clock set
// back, a token granted later may end before one granted earlier.
const QQConnectService::LiveToken* QQConnectService::liveToken(const std::string& token, double now) {
  forgetExpiredTokens(now);
  auto found = tokens_.find(token);
  return found == tokens_.end() || found->second.expires <= now ? nullptr : &found->second;
}

void QQConnectService::forgetExpiredTokens(double now) {
  while (!tokensByExpiry_.empty() && tokensByExpiry_.begin()->first <= now)
    forgetToken(tokensByGrant_.at(tokensByExpiry_.begin()->second));
}

void QQConnectService::forgetToken(std::string token) {
  auto found = tokens_.find(token);
  if (found == tokens_.end()) return;
  const LiveToken& live = found->second;
  tokensByGrant_.erase(live.serial);
  tokensByExpiry_.erase({live.expires, live.serial});
  tokenBytes_ -= sizeof(LiveToken) + token.size() + heldBytes(live.grant);
  tokens_.erase(found);
}

void QQConnectService::note(std::string line) {
  if (listener_) listener_(line);
  log_.keep(std::move(line));
}

void QQConnectService::setLogListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

std::vector<Grant> QQConnectService::grants() const {
  std::lock_guard lock(mutex_);
  return {grants_.begin(), grants_.end()};
}

std::vector<AddedShare> QQConnectService::shares() const {
  std::lock_guard lock(mutex_);
  return {shares_.begin(), shares_.end()};
}

std::vector<os::Dictionary> QQConnectService::analyticsEvents() const {
  std::lock_guard lock(mutex_);
  return {events_.begin(), events_.end()};
}

std::vector<std::string> QQConnectService::policyFetches() const {
  std::lock_guard lock(mutex_);
  return {fetches_.begin(), fetches_.end()};
}

std::vector<ActionReport> QQConnectService::actionReports() const {
  std::lock_guard lock(mutex_);
  return {reports_.begin(), reports_.end()};
}

std::vector<std::string> QQConnectService::log() const {
  std::lock_guard lock(mutex_);
  return {log_.begin(), log_.end()};
}

std::size_t QQConnectService::keptBytes() const {
  std::lock_guard lock(mutex_);
  return fetches_.bytes() + reports_.bytes() + events_.bytes() + log_.bytes() + tokenBytes_ + grants_.bytes() +
         shares_.bytes();
}

}  // namespace qqconnectd
