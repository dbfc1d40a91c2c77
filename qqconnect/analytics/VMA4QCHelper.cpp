#include "qqconnect/analytics/VMA4QCHelper.h"

#include <cstdio>

#include "os/core/Compression.h"
#include "os/crypto/Cipher.h"
#include "os/views/Device.h"

void VMA4QCHelper::ChiperRC4(os::Data& data) { data = os::rc4(data, os::dataFromString(kCipherKey)); }

int VMA4QCHelper::GZip(const os::Data& in, os::Data& out) {
  if (in.empty()) return -1;
  auto zipped = os::gzipData(in);
  if (!zipped) return -1;
  out = std::move(*zipped);
  return 0;
}

int VMA4QCHelper::GUnzip(const os::Data& in, os::Data& out, std::size_t maxOutput) {
  auto inflated = os::inflateData(in, maxOutput, os::InflateFormat::Detect);
  if (!inflated) return -1;
  out = std::move(*inflated);
  return 0;
}

std::string VMA4QCHelper::getMacAddress() {
  // Events carry this text as it is: a failure gives "" rather than a message.
  const std::string& mac = os::Device::current().profile().macAddress;
  unsigned b[6];
  char tail;
  if (std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6) return "";
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[0] & 0xff, b[1] & 0xff, b[2] & 0xff, b[3] & 0xff,
                b[4] & 0xff, b[5] & 0xff);
  return text;
}
