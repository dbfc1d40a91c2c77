#include "qqconnect/login/OpenApi.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <string_view>

#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect_core/requests/URLTools.h"
#include "qqconnect/login/VelmoraOAuth.h"
#include "os/core/URL.h"
#include "os/store/Bundle.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/views/Application.h"

namespace {

struct SSOState {
  std::string appSchema;
  std::optional<std::string> ssoPasteboardName;
  std::weak_ptr<VelmoraOAuth> ssoSessionObject;
  std::shared_ptr<VelmoraLoginDelegate> ssoLoginDelegate;
  std::weak_ptr<VelmoraSessionDelegate> ssoSessionDelegate;
  // Identities of the registered objects, to compare with what unregisters.
  const VelmoraSessionDelegate* sessionDelegateId = nullptr;
  const VelmoraOAuth* sessionObjectId = nullptr;
  // A login request went to QQ and its reply has not come back: only then may a reply plant a
  // token, whoever opens the reply URL.
  bool loginOutstanding = false;
  // Commands handed to QZone and not yet answered, by command text ("1" for a story): each
  // answers its caller once, and a reply to a command never sent reports nothing.
  std::map<std::string, unsigned> commandsOutstanding;
};

SSOState& state() {
  static SSOState s;
  return s;
}

// A reply of QQ or QZone: this application's reply scheme (schemes compare without case) and host
// "qzapp".
bool isOwnReply(const os::URL& url) {
  std::string schema = state().appSchema;
  for (char& c : schema) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return !schema.empty() && url.scheme() == schema && url.host() == "qzapp";
}

bool open(const std::string& text) {
  auto app = os::Application::shared();
  auto url = os::URL::parseEscaping(text);
  return app && url && app->openURL(*url);
}

os::KeyedArchiveLimits replyLimits() {
  os::KeyedArchiveLimits limits;
  limits.maxBytes = OpenApi::kMaxReplySize;
  return limits;
}

std::optional<os::Dictionary> readArchivedDictionary(const std::optional<os::Data>& data) {
  if (!data) return std::nullopt;
  auto value = os::KeyedUnarchiver::unarchiveValue(*data, os::kKeyedArchiveRootKey, nullptr, replyLimits());
  if (!value || !value->dictionary()) return std::nullopt;
  return *value->dictionary();
}

std::optional<os::Data> archive(const os::Dictionary& data) { return os::KeyedArchiver::archivedData(os::Value(data)); }

// The power of ten of the leading digit of a decimal number text: "120.5" 2, "0.05" -2, "1e3" 3.
// Only called for a number too large or too small for a double, to tell which. The exponent is
// read saturated at a power no text of digits could cancel, so a huge one keeps its sign whatever
// the mantissa adds or takes away, and the sum cannot overflow.
long long decimalMagnitude(std::string_view number) {
  constexpr long long kCap = 1000000000000000000;  // 1e18: twice it still fits
  long long magnitude = 0;  // moves by one per character, so stays within the text's length
  std::size_t i = 0;
  bool seenDigit = false, pastPoint = false;
  for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
    if (number[i] == '.') {
      pastPoint = true;
    } else if (!seenDigit && number[i] == '0') {
      if (pastPoint) --magnitude;
    } else if (!seenDigit) {
      seenDigit = true;
      if (pastPoint) --magnitude;
    } else if (!pastPoint) {
      ++magnitude;
    }
  }
  long long exponent = 0;
  bool negative = false;
  if (i < number.size()) {
    std::string_view digits = number.substr(i + 1);
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
      negative = digits.front() == '-';
      digits.remove_prefix(1);
    }
    for (char c : digits) {
      if (c < '0' || c > '9') break;
      exponent = exponent > (kCap - (c - '0')) / 10 ? kCap : exponent * 10 + (c - '0');
    }
  }
  return std::clamp(magnitude, -kCap, kCap) + (negative ? -exponent : exponent);
}

// A number of seconds, or a text that starts with one ("120.5", "3600abc", "1e3" for 1000); a word,
// a value beyond the integer's range (1e300, 2^63, whether integer, floating-point or text) or one
// that is no number at all (inf, NaN) is no value. A value too small for a double ("1e-400") is a
// grant of less than a second like "1e-300": not zero, which means one that never ends.
std::optional<double> secondsValue(const os::Value* v) {
  if (!v) return std::nullopt;
  double d = 0;
  if (v->isNumber() && v->isUnsigned()) {
    d = static_cast<double>(v->unsignedValue());
  } else if (v->isNumber() && !v->isFloatingPoint()) {
    d = static_cast<double>(v->intValue());
  } else if (v->isNumber()) {
    d = v->doubleValue();
  } else {
    const std::string* s = v->string();
    if (!s) return std::nullopt;
    const char* begin = s->data();
    const char* end = begin + s->size();
    while (begin != end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    if (begin != end && *begin == '+') ++begin;
    auto [stop, ec] = std::from_chars(begin, end, d, std::chars_format::fixed | std::chars_format::scientific);
    if (stop == begin) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
      const bool negative = *begin == '-';
      if (decimalMagnitude(std::string_view(begin, stop).substr(negative ? 1 : 0)) >= 0) return std::nullopt;
      d = std::copysign(std::numeric_limits<double>::denorm_min(), negative ? -1.0 : 1.0);
    } else if (ec != std::errc()) {
      return std::nullopt;
    }
  }
  // Only a finite value inside the integer's range counts as a number of seconds.
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!std::isfinite(d) || d >= kLimit || d <= -kLimit) return std::nullopt;
  return d;
}

bool commandOutstanding(const std::string& command) {
  auto it = state().commandsOutstanding.find(command);
  return it != state().commandsOutstanding.end() && it->second > 0;
}

void answerCommand(const std::string& command) {
  auto it = state().commandsOutstanding.find(command);
  if (--it->second == 0) state().commandsOutstanding.erase(it);
}

std::optional<std::string> text(const os::Dictionary& d, const char* key) {
  const std::string* s = d[key].string();
  return s ? std::optional<std::string>(*s) : std::nullopt;
}

std::shared_ptr<APIResponse> unarchiveResponse(const os::Dictionary& reply) {
  const os::Data* data = reply["response_data"].data();
  if (!data) return nullptr;
  os::ArchiveClassRegistry registry;
  APIResponse::registerArchiveClass(registry);
  auto item = os::KeyedUnarchiver::unarchiveObject(*data, registry, os::kKeyedArchiveRootKey, nullptr, replyLimits());
  return item ? item->objectAs<APIResponse>() : nullptr;
}

}  // namespace

os::Date VelmoraExpiryDate(const os::Value* expiresIn) {
  const os::Date now = os::Date::now();
  const auto seconds = secondsValue(expiresIn);
  if (!seconds) return now.addingTimeInterval(kOpenApiDefaultExpiry);
  if (*seconds == 0) return os::Date::distantFuture();
  // Whole seconds; a grant of less than one is over now, not one that never ends.
  return now.addingTimeInterval(std::trunc(*seconds));
}

bool OpenApi::registerApp(const std::string& appId) {
  state().appSchema = "velmora" + appId;
  return true;
}

void OpenApi::registerApp(const std::string& appId, std::weak_ptr<VelmoraSessionDelegate> delegate,
                          std::weak_ptr<VelmoraOAuth> session) {
  SSOState& s = state();
  s.sessionDelegateId = delegate.lock().get();
  s.ssoSessionDelegate = std::move(delegate);
  s.sessionObjectId = session.lock().get();
  s.ssoSessionObject = std::move(session);
  registerApp(appId);
}

void OpenApi::unRegisterApp(const std::string&, const VelmoraSessionDelegate* delegate, const VelmoraOAuth* session) {
  SSOState& s = state();
  if (delegate && s.sessionDelegateId == delegate) s.ssoSessionDelegate.reset(), s.sessionDelegateId = nullptr;
  if (session && s.sessionObjectId == session) s.ssoSessionObject.reset(), s.sessionObjectId = nullptr;
  if (session && s.ssoLoginDelegate.get() == static_cast<const VelmoraLoginDelegate*>(session)) {
    s.ssoLoginDelegate.reset();
    s.loginOutstanding = false;
  }
}

void OpenApi::unRegisterAppSessionDelegate(const VelmoraSessionDelegate* delegate) {
  SSOState& s = state();
  if (delegate && s.sessionDelegateId == delegate) s.ssoSessionDelegate.reset(), s.sessionDelegateId = nullptr;
}

void OpenApi::clearParam() { state() = SSOState{}; }

const std::string& OpenApi::appSchema() { return state().appSchema; }
const std::optional<std::string>& OpenApi::ssoPasteboardName() { return state().ssoPasteboardName; }
bool OpenApi::isLoginOutstanding() { return state().loginOutstanding; }

bool OpenApi::canParseURL(const std::string& text) {
  auto app = os::Application::shared();
  auto url = os::URL::parse(text);
  return app && url && app->canOpenURL(*url);
}

unsigned OpenApi::qqVersion() {
  if (canParseURL("mqqopensdkapiV2://qqapp")) return 3;
  if (canParseURL("mqqOpensdkSSoLogin://qqapp")) return 2;
  if (canParseURL("mqq://qqapp")) return 1;
  return 0;
}

unsigned OpenApi::qzoneVersion() {
  if (canParseURL("mqzoneopensdkapiV2://qzapp")) return 5;
  if (canParseURL("mqzoneopensdkapi19://qzapp")) return 4;
  if (canParseURL("mqzoneopensdkapi://qzapp")) return 3;
  if (canParseURL("mqzoneopensdk://qzapp")) return 2;
  if (canParseURL("mqzone://qzapp")) return 1;
  return 0;
}

bool OpenApi::isQZoneInstalled() {
  return canParseURL("mqzoneopensdk://qzapp") || canParseURL("mqzoneopensdkapi://qzapp");
}

bool OpenApi::isSupportGeneralPastboard() { return canParseURL("mqqopensdkapiV2://"); }
bool OpenApi::isQZoneSupportGeneralPastboard() { return canParseURL("mqzoneopensdkapiV2://"); }

bool OpenApi::authorizeWithPermission(const std::vector<std::string>& permissions,
                                      std::shared_ptr<VelmoraLoginDelegate> delegate, bool firstCall) {
  const unsigned version = qqVersion();
  if (version < 2) return false;
  bool send = firstCall;
  if (TcApiTool::systemVersion() >= 7.0f) {
    if (!isSupportGeneralPastboard()) return false;
    send = true;
  }
  auto session = state().ssoSessionObject.lock();
  if (!session || !session->appId() || session->appId()->empty()) return false;
  const os::Value displayName = os::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleDisplayName");
  if (!displayName.string() || displayName.string()->empty()) return false;

  std::string scope;
  for (std::size_t i = 0; i < permissions.size(); ++i) scope += (i ? "," : "") + permissions[i];
  os::Dictionary request{{kOPEN_KEY_AUTH_PERSSION_LIST, scope},
                         {kOPEN_KEY_AUTH_APPID, *session->appId()},
                         {kOPEN_KEY_AUTH_CLIENTID, *session->appId()},
                         {kOPEN_KEY_AUTH_APPNAME, *displayName.string()},
                         {kOPEN_KEY_AUTH_RESPONSE_TYPE, "token"}};
  for (const auto& [k, v] : TcApiTool::SDKInfo()) request.set(k, v);
  if (!send) return false;
  if (!openQQWithCommand(0, request)) return false;
  // QQ answers the newest request only: a login still waiting ends as cancelled, told last, as
  // its caller may start another login from its answer.
  std::shared_ptr<VelmoraLoginDelegate> replaced;
  if (state().loginOutstanding && state().ssoLoginDelegate != delegate) replaced = std::move(state().ssoLoginDelegate);
  state().ssoLoginDelegate = std::move(delegate);
  state().loginOutstanding = true;
  if (replaced) replaced->velmoraDidNotLogin(true);
  return true;
}

bool OpenApi::saveDictionaryByGeneralPastboard(const os::Dictionary& data) {
  auto bytes = archive(data);
  if (!bytes) return false;
  const std::string type = "com.velmora." + state().appSchema;
  if (!os::Pasteboard::generalPasteboard()->setData(*bytes, type)) return false;
  state().ssoPasteboardName = type;
  return true;
}

bool OpenApi::saveDictionaryToPasteBoard(const os::Dictionary& data) {
  auto bytes = archive(data);
  if (!bytes) return false;
  auto board = os::Pasteboard::pasteboardWithUniqueName();
  if (!board || !board->setData(*bytes, kOpenApiNamedPasteboardType)) return false;
  board->setPersistent(true);
  state().ssoPasteboardName = board->name();
  return true;
}

std::optional<os::Dictionary> OpenApi::getDictionaryFromGeneralPasteBoard() {
  const auto& type = state().ssoPasteboardName;
  if (!type) return std::nullopt;
  auto board = os::Pasteboard::generalPasteboard();
  auto data = board->dataForPasteboardType(*type);
  board->setData(std::nullopt, *type);
  return readArchivedDictionary(data);
}

std::optional<os::Dictionary> OpenApi::getDictionaryFromPasteBoard() {
  const auto& name = state().ssoPasteboardName;
  if (!name) return std::nullopt;
  auto board = os::Pasteboard::pasteboardWithName(*name, false);
  if (!board) return std::nullopt;
  return readArchivedDictionary(board->dataForPasteboardType(kOpenApiNamedPasteboardType));
}

bool OpenApi::openQQWithCommand(unsigned command, const os::Dictionary& data) {
  if (qqVersion() < 2 || command != 0) return false;
  const std::string& schema = state().appSchema;
  if (!TcApiTool::isRegistSchemeInfoPlistFile(schema)) return false;
  const bool general = isSupportGeneralPastboard();
  if (!(general ? saveDictionaryByGeneralPastboard(data) : saveDictionaryToPasteBoard(data))) return false;
  const std::string url = "mqqOpensdkSSoLogin://SSoLogin/" + schema + "/" + *state().ssoPasteboardName +
                          "?generalpastboard=" + (general ? "1" : "0");
  return open(url);
}

bool OpenApi::sendCommandToQZone(const std::string& command, const os::Dictionary& params) {
  return openQZoneWithCommandStr(command, params);
}

bool OpenApi::openQZoneWithCommandStr(const std::string& command, const os::Dictionary& data) {
  const std::string& schema = state().appSchema;
  if (qzoneVersion() < 3 || !TcApiTool::isRegistSchemeInfoPlistFile(schema)) return false;
  const bool general = isQZoneSupportGeneralPastboard();
  if (!(general ? saveDictionaryByGeneralPastboard(data) : saveDictionaryToPasteBoard(data))) return false;
  const std::string url = "mqzoneopensdkapi://qzapp/" + schema + "/" + *state().ssoPasteboardName + "/" + command +
                          "?generalpastboard=" + (general ? "1" : "0");
  if (!open(url)) return false;
  ++state().commandsOutstanding[command];
  return true;
}

bool OpenApi::handleOpenURL(const std::optional<std::string>& url) {
  if (!url) return false;
  auto delegate = state().ssoSessionDelegate.lock();
  if (VelmoraApiInterface::canOpenURL(url, delegate.get())) return VelmoraApiInterface::handleOpenURL(url, delegate.get());
  auto parsed = os::URL::parse(*url);
  if (parsed && isOwnReply(*parsed))
    return processMessage(*url);
  if (auto session = state().ssoSessionObject.lock()) return session->handleOpenURL(url);
  return false;
}

bool OpenApi::canHandleOpenURL(const std::optional<std::string>& url) {
  if (!url) return false;
  auto parsed = os::URL::parse(*url);
  if (parsed && isOwnReply(*parsed))
    return true;
  if (auto session = state().ssoSessionObject.lock()) return session->oldCanhandleOpenURL(url);
  return false;
}

bool OpenApi::processMessage(const std::string& text) {
  auto url = os::URL::parse(text);
  auto session = state().ssoSessionObject.lock();
  if (!url) return false;
  const std::vector<std::string> parts = url->pathComponents();
  if (parts.size() != 3) return session ? session->handleOpenURL(text) : false;
  const std::string& command = parts[2];
  int number = 0;
  auto [end, ec] = std::from_chars(command.data(), command.data() + command.size(), number);
  const bool numeric = ec == std::errc() && end == command.data() + command.size() && std::to_string(number) == command;

  const os::Dictionary query = URLExtend::dictionaryByParseUrlFromSeparator(text, "?");
  const bool general = query["generalpastboard"].stringOr() == "1";

  if (!numeric && !command.empty()) {
    if (!commandOutstanding(command)) return false;
    auto reply = general ? getDictionaryFromGeneralPasteBoard() : getDictionaryFromPasteBoard();
    auto response = reply ? unarchiveResponse(*reply) : nullptr;
    // An unreadable reply leaves the command waiting for QZone's next one.
    if (!response) return true;
    answerCommand(command);
    auto delegate = state().ssoSessionDelegate.lock();
    if (delegate) {
      std::string selector = command;
      selector[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(selector[0])));
      selector += "Response:";
      if (!delegate->apiCommandResponse(selector, response)) delegate->responseDidReceived(response, command);
    }
    return true;
  }
  if (numeric && number == 1) {
    if (!commandOutstanding(command)) return false;
    auto reply = general ? getDictionaryFromGeneralPasteBoard() : getDictionaryFromPasteBoard();
    auto response = reply ? unarchiveResponse(*reply) : nullptr;
    if (!response) return true;
    answerCommand(command);
    auto delegate = state().ssoSessionDelegate.lock();
    if (delegate && !delegate->sendStoryResponse(response)) delegate->responseDidReceived(response, "SendStory");
    return true;
  }
  if (numeric && number == 0) {
    // A reply nobody asked for plants nothing: any application can open this URL.
    if (!state().loginOutstanding) return false;
    std::optional<os::Dictionary> reply = general ? getDictionaryFromGeneralPasteBoard() : getDictionaryFromPasteBoard();
    if (!general && !reply) reply = os::Dictionary{{kOPEN_KEY_AUTH_USERCANCLLED, "YES"}};
    // QQ has answered, but nothing readable lies where it said: the login fails rather than
    // waiting for an answer that has come already, and grants nothing.
    if (!reply) reply = os::Dictionary{};
    return processLoginReply(reply);
  }
  return true;
}

bool OpenApi::processLoginReply(const std::optional<os::Dictionary>& replyIn) {
  SSOState& s = state();
  auto session = s.ssoSessionObject.lock();
  if (!replyIn || !session) return true;
  // The reply answers the request; the next one needs a request of its own.
  s.loginOutstanding = false;
  auto delegate = std::move(s.ssoLoginDelegate);
  os::Dictionary reply = *replyIn;
  if (reply[kOPEN_KEY_AUTH_USERCANCLLED].stringOr() == "YES") {
    if (delegate) delegate->velmoraDidNotLogin(true);
    return true;
  }
  // A reply that grants nothing (QQ's error, or a refusal it does not call a cancel) fails the
  // login and leaves the session as it was: a reader refusing more permissions keeps the token
  // held before rather than being logged out by it.
  const auto openId = text(reply, kOPEN_KEY_AUTH_OPENID);
  const auto accessToken = text(reply, kOPEN_KEY_AUTH_ACCESSTOKEN);
  if (!openId || !accessToken || accessToken->empty()) {
    if (delegate) delegate->velmoraDidNotLogin(false);
    return true;
  }
  session->setOpenId(openId);
  session->setAccessToken(accessToken);
  session->setExpirationDate(VelmoraExpiryDate(reply.find(kOPEN_KEY_AUTH_EXPIRE_IN)));
  session->setEncryToken(text(reply, kOPEN_KEY_AUTH_SIGNATURE_KEY));
  for (const char* key : {kOPEN_KEY_AUTH_OPENID, kOPEN_KEY_AUTH_ACCESSTOKEN, kOPEN_KEY_AUTH_EXPIRE_IN,
                          kOPEN_KEY_AUTH_SIGNATURE_KEY})
    reply.remove(key);
  session->setPassData(reply);
  if (delegate) {
    if (session->openId() && session->accessToken() && session->expirationDate())
      delegate->velmoraDidLogin();
    else
      delegate->velmoraDidNotLogin(false);
  }
  return true;
}
