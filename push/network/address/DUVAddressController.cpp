#include "push/network/address/DUVAddressController.h"

#include <algorithm>

#include "os/net/HostLookup.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {
constexpr std::size_t kRequestSize = 128;
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVAddressController"); }

// Writes text from `offset`, cut to the room left before the end of the request.
void put(os::Data& request, std::size_t offset, const std::string& text) {
  std::size_t room = kRequestSize - offset;
  std::copy_n(text.begin(), std::min(room, text.size()), request.begin() + static_cast<long>(offset));
}
}  // namespace

std::shared_ptr<DUVAddressController> DUVAddressController::create(std::shared_ptr<DUVUserDefaults> identity,
                                                                   DUVServiceEndpoints& endpoints, Facts facts) {
  return std::make_shared<DUVAddressController>(PrivateTag{}, std::move(identity), endpoints, std::move(facts));
}

os::Data DUVAddressController::requestData() const {
  os::Data request(kRequestSize, 0);
  request[0] = 0x80;  // the datagram's length, little-endian
  request[2] = 'U';
  request[3] = 'E';
  long status = facts_.networkStatus ? facts_.networkStatus() : 0;
  auto carrier = facts_.carrierName ? facts_.carrierName() : CTCarrierName();
  request[5] = status == 2 ? 4 : status == 3 ? static_cast<std::uint8_t>(DUVCarrierTypeFromCarrierName(carrier)) : 0;
  request[6] = static_cast<std::uint8_t>(identity_ ? identity_->uid() : 0);
  if (carrier) put(request, 4, *carrier);
  put(request, 92, kDUVSDKVersion);
  if (identity_) put(request, 42, identity_->appkey());
  return request;
}

std::string DUVAddressController::getSisHostAddress() {
  const auto& hosts = endpoints_.lookupHosts;
  std::uint32_t index = identity_ ? identity_->sisHostIndex() : 0;
  index = hosts.empty() ? 0 : index % static_cast<std::uint32_t>(hosts.size());
  if (!hosts.empty()) {
    if (auto resolved = os::HostLookup::firstIPv4Address(hosts[index])) {
      if (identity_) identity_->setSisHostIndex(index);
      return *resolved;
    }
  }
  // The next lookup tries the next host name.
  if (identity_) identity_->setSisHostIndex(index + 1);
  return endpoints_.defaultLookupAddress;
}

void DUVAddressController::updateAddresses() {
  logger()->logMessage(std::nullopt, "begin update address", &DUVLevel::debug());
  stop();
  udpSocket_ = DUVUdpSocket::create(weak_from_this());
  sendSisRequestToDefaultPort(true);
}

void DUVAddressController::stop() {
  if (udpSocket_) udpSocket_->close();
  udpSocket_.reset();
}

void DUVAddressController::sendSisRequestToDefaultPort(bool defaultPort) {
  sendingToDefaultSisPort_ = defaultPort;
  std::uint16_t port = defaultPort ? endpoints_.lookupPort : endpoints_.lookupBackupPort;
  bool sent = udpSocket_->sendData(requestData(), getSisHostAddress(), port, 4.0);
  udpSocket_->receiveDataWithTimeout(!sent ? 0.0 : defaultPort ? 8.0 : 4.0);
}

void DUVAddressController::udpResolveFailed() {
  if (sendingToDefaultSisPort_) {
    sendSisRequestToDefaultPort(false);
    return;
  }
  resolvedAddressesFromData(std::nullopt);
}

void DUVAddressController::didSendData(const os::Data&, DUVUdpSocket& socket) {
  if (&socket != udpSocket_.get()) return;
  logger()->logMessage(std::nullopt, "sis sent with at udp", &DUVLevel::debug());
}

void DUVAddressController::didNotSendData(const os::Data&, DUVUdpSocket& socket) {
  if (&socket != udpSocket_.get()) return;
  logger()->logMessage(std::nullopt, "sis did not sent with at udp", &DUVLevel::error());
  udpResolveFailed();
}

void DUVAddressController::didReceivedData(const os::Data& data, DUVUdpSocket& socket) {
  if (&socket != udpSocket_.get()) return;
  logger()->logMessage(std::nullopt, "sis did receive data at udp", &DUVLevel::debug());
  resolvedAddressesFromData(data);
}

void DUVAddressController::didNotReceivedData(DUVUdpSocket& socket, const os::Error&) {
  if (&socket != udpSocket_.get()) return;
  logger()->logMessage(std::nullopt, "sis did not receive data at udp", &DUVLevel::error());
  udpResolveFailed();
}

void DUVAddressController::resolvedAddressesFromData(const std::optional<os::Data>& data) {
  // Keep the controller alive through the delegate call, which may drop it.
  auto self = shared_from_this();
  os::Dictionary reply;
  if (data)
    if (auto parsed = ZRFJSONObject(*data); parsed && parsed->dictionary()) reply = *parsed->dictionary();

  std::vector<std::string> ips;
  if (const os::Array* list = reply["ips"].array()) {
    for (const auto& entry : *list) {
      if (!entry.string()) {
        ips.clear();
        break;
      }
      ips.push_back(*entry.string());
    }
  }
  std::optional<DUVAddress> attribute;
  if (const std::string* user = reply["user"].string(); user && !user->empty()) {
    attribute = DUVAddress::initWithString(*user, "/v1/user/");
    if (attribute && identity_) identity_->setAttributeReportAddress(attribute->httpWrapAddress);
  }
  std::optional<DUVAddress> report;
  bool useIps = ips.size() >= 3;
  if (useIps) {
    // Kept only when it reads as an address, so the stored text always reads back as one.
    if (DUVAddress::initWithString(ips[1])) {
      endpoints_.defaultCoreAddress = ips[1];
      if (identity_) identity_->setDefaultConAddress(ips[1]);
    }
    if (!ips[2].empty()) {
      report = DUVAddress::initWithString(ips[2], "/v2/report");
      if (report && identity_) identity_->setBackupReportAddress(report->httpWrapAddress);
    }
  }

  std::optional<DUVAddress> core = useIps && !ips[0].empty() ? DUVAddress::initWithString(ips[0]) : std::nullopt;
  if (!core) {
    auto stored = identity_ ? identity_->defaultConAddress() : std::nullopt;
    if (stored && DUVAddress::initWithString(*stored)) endpoints_.defaultCoreAddress = *stored;
    if (auto resolved = os::HostLookup::firstIPv4Address(endpoints_.defaultCoreHost))
      core = DUVAddress::initWithString(*resolved + ":" + std::to_string(endpoints_.corePort));
    else
      core = DUVAddress::initWithString(endpoints_.defaultCoreAddress);
  }
  coreAddress_ = core;

  if (!report)
    if (auto stored = identity_ ? identity_->backupReportAddress() : std::nullopt)
      report = DUVAddress::fromHttpWrapAddress(*stored);
  if (report) reportAddress_ = report;
  if (!attribute)
    if (auto stored = identity_ ? identity_->attributeReportAddress() : std::nullopt)
      attribute = DUVAddress::fromHttpWrapAddress(*stored);
  if (attribute) attributeReportAddress_ = attribute;

  stop();
  if (onUpdated_) onUpdated_(*this);
}
