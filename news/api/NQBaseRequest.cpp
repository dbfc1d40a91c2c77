#include "news/api/NQBaseRequest.h"

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "foundation/http/TLHTTPClient.h"
#include "news/api/DeviceExtensions.h"
#include "news/api/StringHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/store/Bundle.h"

NQBaseRequest NQBaseRequest::initWithOpcode(long long opcode) {
  NQBaseRequest request;
  request.params_.set("opcode", opcode);
  return request;
}

void NQBaseRequest::initWithNone() { params_.set("opcode", opCode()); }

int NQBaseRequest::interfaceVer() const { return INTERFACE_VERSION; }
std::string NQBaseRequest::serverHost(const VXRequestConfig& config) const { return config.newsHost(); }
std::string NQBaseRequest::serverPath() const { return std::string(IPHONE_INTERFACE_PATH); }

os::Dictionary NQBaseRequest::deviceSN() {
  return os::Dictionary{{"mac", DeviceExtensions::macAddress()},
                        {"sharedudid", DeviceExtensions::sharedUDID()},
                        {"idfa", DeviceExtensions::idfaString()}};
}

std::optional<std::string> NQBaseRequest::bundleString(const char* key) {
  auto bundle = os::Bundle::mainBundle();
  if (!bundle) return std::nullopt;
  const os::Value& value = bundle->objectForInfoDictionaryKey(key);
  if (const std::string* s = value.string()) return *s;
  return std::nullopt;
}

std::string NQBaseRequest::encodeParams(const os::Dictionary& params) {
  std::string json = JSONString(os::Value(params)).value_or("{}");
  // Whichever Base64 encoder serves the process, the server wants one line.
  return os::replaceAll(base64EncodedString(std::string_view(json)).value_or(""), "\r\n", "");
}

os::Dictionary NQBaseRequest::query() {
  params_.set("devtype", DeviceExtensions::deviceTpye());
  if (auto version = bundleString("CFBundleVersion")) params_.set("version", *version);
  params_.set("sn", deviceSN());
  params_.set("ios", DeviceExtensions::iosVersion());
  params_.set("jailbreak", DeviceExtensions::isJailbroken());
  std::string p = encodeParams(params_);
  std::string c = makeCheckCodeWithParams(p, se(SECRET_KEY));
  return os::Dictionary{{"p", p}, {"v", interfaceVer()}, {"c", c}};
}

std::optional<os::URLRequest> NQBaseRequest::req(os::Error* error) {
  return req(VXReaderContext::current()->requestConfig(), error);
}

std::optional<os::URLRequest> NQBaseRequest::req(const VXRequestConfig& config, os::Error* error) {
  std::string base = serverHost(config) + serverPath();
  auto url = os::URL::parse(base);
  if (!url) {
    if (error) *error = os::Error::withDescription("NQBaseRequest", -1, "Not a server address: " + base);
    return std::nullopt;
  }
  // One client per request: nothing is shared between requests.
  TLHTTPClient client(*url);
  return client.requestWithMethod("POST", std::nullopt, os::Value(query()), error);
}

char NQBaseRequest::hex2char(int value) {
  value &= 0xF;
  return static_cast<char>(value < 10 ? '0' + value : 'a' + (value - 10));
}

std::string NQBaseRequest::se(std::string_view storedKey) {
  std::string key;
  key.reserve(storedKey.size());
  for (std::size_t i = 0; i < storedKey.size(); ++i) {
    int code = static_cast<unsigned char>(storedKey[i]);
    key.push_back(hex2char((code + static_cast<int>(i / 2)) % 16));
  }
  return key;
}

std::string NQBaseRequest::makeCheckCodeWithParams(std::string_view p, std::string_view secretKey) {
  std::string m = StringHelper::md5(p);
  std::string code;
  code.reserve(m.size());
  // An empty key would leave the index nowhere to go; sign with the digest alone then.
  for (std::size_t i = 0; i < m.size(); ++i) {
    int k = secretKey.empty() ? 0 : static_cast<unsigned char>(secretKey[i % secretKey.size()]);
    code.push_back(hex2char((static_cast<unsigned char>(m[i]) + k) % 16));
  }
  return code;
}
