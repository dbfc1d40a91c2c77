#pragma once
// The analytics client's body cipher and compression, and the Wi-Fi MAC address.
#include <string>

#include "os/core/Data.h"

class VMA4QCHelper {
 public:
  static constexpr const char* kCipherKey = "4b7e0c9a2f5d8e1b6a3c7f0e9d2b5a48";

  // RC4 in place, with a key stream started afresh from the 32 ASCII key bytes each call.
  static void ChiperRC4(os::Data& data);
  // 0 and the gzip stream, or -1 for empty input or a compressor that does not start.
  static int GZip(const os::Data& in, os::Data& out);
  // 0 and the inflated bytes (at most maxOutput), or -1 for anything but one clean stream.
  static int GUnzip(const os::Data& in, os::Data& out, std::size_t maxOutput);
  // The Wi-Fi interface's address as "%02X:...", or "" when the device cannot tell.
  static std::string getMacAddress();
};
