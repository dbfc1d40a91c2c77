// fuzz-link: push foundation os
// The address lookup's reply datagram. Whatever it holds, the lookup ends with a core address;
// every address it yields has a host that stands in a URL as it is, and an address's URL reads
// back as the same host and port (what is stored is what comes back after a failed lookup). An
// entry the reply names is taken exactly when it reads as an address.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/FuzzSupport.h"
#include "push/network/address/DUVAddressController.h"
#include "push/utilities/DUVUtilities.h"

namespace {

void checkAddress(const std::optional<DUVAddress>& address, const char* what) {
  if (!address) return;
  fuzz::check(!address->host.empty() && address->port != 0, what);
  for (unsigned char c : address->host)
    fuzz::check(c > 0x20 && c != 0x7F && c != '/' && c != '?' && c != '#' && c != '@' && c != '\\', what);
  fuzz::check(DUVAddress::initWithString(address->text())->text() == address->text(), what);
  if (address->httpWrapAddress) {
    auto back = DUVAddress::fromHttpWrapAddress(*address->httpWrapAddress);
    fuzz::check(back && back->host == address->host && back->port == address->port, what);
  }
}

std::vector<fuzz::Seed> seeds() {
  return {{"full", R"({"ips":["10.0.0.1:4000","10.0.0.2:4001","10.0.0.3:5000"],"user":"10.0.0.5:81"})"},
          {"hosts", R"({"ips":["u.example/p:5","a b:6","h:70000"],"user":"u@x:1"})"},
          {"short", R"({"ips":["10.0.0.1:4000","10.0.0.2"]})"}};
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DUVServiceEndpoints endpoints;
  const std::string builtInCore = endpoints.defaultCoreAddress;
  auto controller = DUVAddressController::create(nullptr, endpoints);
  os::Data reply(data, data + size);
  controller->resolvedAddressesFromData(reply);
  fuzz::check(controller->coreAddress().has_value(), "a lookup ended without a core address");
  checkAddress(controller->coreAddress(), "the core address does not read back");
  checkAddress(controller->reportAddress(), "the report address does not read back");
  checkAddress(controller->attributeReportAddress(), "the user-service address does not read back");
  fuzz::check(bool(DUVAddress::initWithString(endpoints.defaultCoreAddress)), "a default core address that is no address");

  // What the reply names, read independently.
  auto json = ZRFJSONObject(reply);
  const os::Dictionary* object = json ? json->dictionary() : nullptr;
  std::vector<std::string> ips;
  if (const os::Array* list = object ? (*object)["ips"].array() : nullptr) {
    for (const auto& entry : *list) {
      if (!entry.string()) {
        ips.clear();
        break;
      }
      ips.push_back(*entry.string());
    }
  }
  if (ips.size() >= 3) {
    if (auto core = DUVAddress::initWithString(ips[0]))
      fuzz::check(controller->coreAddress()->text() == core->text(), "the named core address was not taken");
    auto backup = DUVAddress::initWithString(ips[1]);
    fuzz::check(endpoints.defaultCoreAddress == (backup ? ips[1] : builtInCore), "the backup core address was mishandled");
    auto report = DUVAddress::initWithString(ips[2]);
    fuzz::check(bool(report) == bool(controller->reportAddress()), "the named report address was mishandled");
    if (report) fuzz::check(controller->reportAddress()->text() == report->text(), "the report address differs");
  } else {
    fuzz::check(!controller->reportAddress(), "a report address from a reply without three entries");
  }
  return 0;
}
