#pragma once
// Finds where the push client connects: one 128-byte UDP request to the address lookup service,
// tried on its first port and then once on its backup port, and a JSON reply naming the core,
// backup core, report and user-service addresses. When both attempts fail, or the reply lacks
// addresses, the addresses stored from earlier lookups and the built-in ones serve. Every lookup
// ends with exactly one `onUpdated`, unless stop() ends it first.
#include <functional>
#include <memory>
#include <optional>

#include "os/core/Data.h"
#include "push/network/address/DUVAddress.h"
#include "push/network/address/DUVServiceEndpoints.h"
#include "push/network/socket/DUVUdpSocket.h"

class DUVUserDefaults;

class DUVAddressController : public DUVUdpSocketDelegate, public std::enable_shared_from_this<DUVAddressController> {
 public:
  struct Facts {
    // 0 not reachable, 2 Wi-Fi, 3 cellular.
    std::function<long()> networkStatus;
    std::function<std::optional<std::string>()> carrierName;
  };
  // The endpoints must outlive the controller (the client's configuration holds them).
  static std::shared_ptr<DUVAddressController> create(std::shared_ptr<DUVUserDefaults> identity,
                                                      DUVServiceEndpoints& endpoints, Facts facts = {});

  void setOnUpdated(std::function<void(DUVAddressController&)> onUpdated) { onUpdated_ = std::move(onUpdated); }
  void updateAddresses();
  void stop();
  bool isLookingUp() const { return udpSocket_ != nullptr; }

  os::Data requestData() const;
  std::string getSisHostAddress();
  // Takes a reply (or nothing after both attempts failed) and tells the delegate.
  void resolvedAddressesFromData(const std::optional<os::Data>& data);

  const std::optional<DUVAddress>& coreAddress() const { return coreAddress_; }
  const std::optional<DUVAddress>& reportAddress() const { return reportAddress_; }
  const std::optional<DUVAddress>& attributeReportAddress() const { return attributeReportAddress_; }

  void didSendData(const os::Data& data, DUVUdpSocket& socket) override;
  void didNotSendData(const os::Data& data, DUVUdpSocket& socket) override;
  void didReceivedData(const os::Data& data, DUVUdpSocket& socket) override;
  void didNotReceivedData(DUVUdpSocket& socket, const os::Error& error) override;

  struct PrivateTag {};
  DUVAddressController(PrivateTag, std::shared_ptr<DUVUserDefaults> identity, DUVServiceEndpoints& endpoints, Facts facts)
      : identity_(std::move(identity)), endpoints_(endpoints), facts_(std::move(facts)) {}

 private:
  void sendSisRequestToDefaultPort(bool defaultPort);
  void udpResolveFailed();

  std::shared_ptr<DUVUserDefaults> identity_;
  DUVServiceEndpoints& endpoints_;
  Facts facts_;
  std::shared_ptr<DUVUdpSocket> udpSocket_;
  bool sendingToDefaultSisPort_ = false;
  std::optional<DUVAddress> coreAddress_, reportAddress_, attributeReportAddress_;
  std::function<void(DUVAddressController&)> onUpdated_;
};
