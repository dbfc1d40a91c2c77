#pragma once
// The parameters every request to the sharing service carries: device facts, the application key
// and, when known, the content's key and the service user id.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Value.h"

inline constexpr const char* kOBSProtocolVersion = "2.0";
inline constexpr const char* kOBSSdkVersion = "4.1";

class OBSProtocol {
 public:
  static std::shared_ptr<OBSProtocol> sharedInstance();

  // "name=value" pairs joined by "&"; the values the service answered with as OBSQueryValue
  // writes them, the others as they are.
  std::string baseString();
  os::Dictionary baseDictionary();
  // "1" on the first request of the installation, "0" afterwards.
  std::string firstUse();
  std::string typeString() const { return "0"; }

  // One-shot values: sent with the next base string or dictionary, then forgotten.
  void setCuid(std::string cuid);
  void setWid(std::string wid);

 private:
  std::mutex mutex_;
  std::optional<std::string> cuid_, wid_;
};

// The whole query travels enciphered, so a value goes as it is ("sina,qq", "A4:5E:...", a title).
// "&name=value".
std::string OBSQueryPair(const std::string& name, const std::string& value);
// A value the service answered with (entity key, user id, session id) is ours to pass on but not
// ours to choose: its "&", which would end its pair early and add pairs of its own, is written
// "%26". Nothing else is escaped: the service reads the other characters, "%" included, as they
// stand.
std::string OBSQueryValue(const std::string& value);
// "&name=value", the value as above.
std::string OBSQueryAnsweredPair(const std::string& name, const std::string& value);
