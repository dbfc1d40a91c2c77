#pragma once
// One call to the news API: an operation code and its payload in `params`, to which the device
// fields are added; the whole is written as JSON, Base64-encoded into "p", signed with a check
// code and posted as a form. Subclasses name the operation (opCode) and fill the payload;
// VXBaseQuarnRequest speaks the promotion API instead.
//
// Not thread-safe: a request is built on one thread and then handed to the runner.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/net/URLRequest.h"

class VXRequestConfig;

class NQBaseRequest {
 public:
  // An operation without a class of its own: "opcode" is the given number, opCode() stays 0.
  static NQBaseRequest initWithOpcode(long long opcode);
  NQBaseRequest() = default;
  virtual ~NQBaseRequest() = default;

  // "opcode" and the operation's own payload ("opdata" or "in"); the device fields are added
  // when the body is built.
  os::Dictionary& params() { return params_; }
  const os::Dictionary& params() const { return params_; }

  virtual long long opCode() const { return 0; }
  // The form fields {"p", "v", "c"}; adds the device fields to params() each time it runs.
  virtual os::Dictionary query();
  virtual int interfaceVer() const;
  // The API base this request goes to, of the given configuration.
  virtual std::string serverHost(const VXRequestConfig& config) const;
  virtual std::string serverPath() const;
  // Names the request in log lines.
  virtual std::string className() const { return "NQBaseRequest"; }

  // The form POST to serverHost(config) + serverPath() (with the trailing "/" a base URL with a
  // path gets). Absent, with *error, when the parameters cannot be encoded or the host is no URL.
  std::optional<os::URLRequest> req(const VXRequestConfig& config, os::Error* error = nullptr);
  // The same with the current reader context's configuration.
  std::optional<os::URLRequest> req(os::Error* error = nullptr);

  // {"mac", "sharedudid", "idfa"} of the current device.
  static os::Dictionary deviceSN();
  // p: the Base64 of the JSON text of params(), without line breaks.
  static std::string encodeParams(const os::Dictionary& params);
  // 32 lower-case hexadecimal digits: digit i is (code of md5(p)[i] + code of key[i mod n]) mod 16.
  static std::string makeCheckCodeWithParams(std::string_view p, std::string_view secretKey);
  // The signing key of a stored key: character i is hex2char((code of key[i] + i / 2) mod 16).
  static std::string se(std::string_view storedKey);
  // '0'-'9', 'a'-'f' for 0 to 15.
  static char hex2char(int value);

 protected:
  // Stores this object's own opCode() under "opcode"; every operation class starts with it.
  void initWithNone();
  // The bundle's Info.plist entry, when it is a string.
  static std::optional<std::string> bundleString(const char* key);

 private:
  os::Dictionary params_;
};
