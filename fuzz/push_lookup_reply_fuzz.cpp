// fuzz-link: push foundation os
// The address lookup's reply datagram.
#include <cstddef>
#include <cstdint>

#include "push/network/address/DUVAddressController.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DUVServiceEndpoints endpoints;
  auto controller = DUVAddressController::create(nullptr, endpoints);
  controller->resolvedAddressesFromData(os::Data(data, data + size));
  return 0;
}
