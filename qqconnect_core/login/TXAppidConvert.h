#pragma once
// The two forms of a QQ application id: the decimal "connection" id of the OpenAPI and the
// "QQ" + 8 hexadecimal digits id the QQ application knows the host by. Known pairs come from a
// table; any other id converts to its own number.
//
// Every converter keeps its own results, so two holders never see each other's conversions.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

class CTXAppidConvert {
 public:
  struct AppIdPair {
    std::uint32_t mobileId;
    std::uint32_t connectionId;
  };

  // False (results cleared) unless the text is one of the two forms: 1 to 10 decimal digits
  // whose value fits 32 bits, or "QQ" and 8 hexadecimal digits of either case.
  bool InitWithAppId(const char* appId);
  static bool IsConnectionAppId(const char* appId);
  static bool IsMQQAppId(const char* appId);
  // The known pairs, ended by {0, 0}.
  static std::span<const AppIdPair> GetAppIdTable();

  // "%u" and "QQ%08X" of the last successful conversion; empty after a refused one.
  const char* connectionAppId() const { return connection_; }
  const char* mqqAppId() const { return mobile_; }

 private:
  char connection_[12] = {};
  char mobile_[12] = {};
};

class TXAppidConvert {
 public:
  bool InitWithAppId(const std::string& appId) { return convert_.InitWithAppId(appId.c_str()); }
  std::optional<std::string> GetConnectionAppId() const;
  std::optional<std::string> GetMQQAppId() const;

 private:
  CTXAppidConvert convert_;
};
