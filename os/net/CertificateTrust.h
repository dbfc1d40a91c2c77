#pragma once
// Certificate authorities the process trusts beside the system's: a test authority made at run
// time for loopback servers that stand in for named hosts. Nothing is added unless someone says
// so, and peer and host-name checks stay on for every exchange either way.
#include <string>

namespace os {

class CertificateTrust {
 public:
  // `pem` holds one or more PEM certificates; every https exchange started afterwards accepts
  // chains that end in them.
  static void addTrustedAuthority(const std::string& pem);
  static void removeAllTrustedAuthorities();
  // The PEM text of every added authority, empty when none.
  static std::string trustedAuthorities();
};

}  // namespace os
