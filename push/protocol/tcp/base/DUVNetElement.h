#pragma once
// What every frame of the TCP connection carries in its header, in both directions: the command's
// version, the command number and the request id.
#include <cstdint>

class DUVNetElement {
 public:
  virtual ~DUVNetElement() = default;

  std::uint8_t version() const { return version_; }
  void setVersion(std::uint8_t version) { version_ = version; }
  std::uint8_t protocolType() const { return protocolType_; }
  void setProtocolType(std::uint8_t protocolType) { protocolType_ = protocolType; }
  std::uint16_t rid() const { return rid_; }
  void setRid(std::uint16_t rid) { rid_ = rid; }

 protected:
  DUVNetElement() = default;
  DUVNetElement(std::uint8_t version, std::uint8_t protocolType, std::uint16_t rid)
      : version_(version), protocolType_(protocolType), rid_(rid) {}

 private:
  std::uint8_t version_ = 0;
  std::uint8_t protocolType_ = 0;
  std::uint16_t rid_ = 0;
};
