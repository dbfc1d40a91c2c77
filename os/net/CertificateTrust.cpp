#include "os/net/CertificateTrust.h"

#include <mutex>

namespace os {

namespace {
std::mutex gMutex;
// Never destroyed: work on other threads may still reach it while the process exits.
std::string& gAuthorities = *new std::string;
}  // namespace

void CertificateTrust::addTrustedAuthority(const std::string& pem) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gAuthorities.find(pem) != std::string::npos) return;
  gAuthorities += pem;
  if (!gAuthorities.empty() && gAuthorities.back() != '\n') gAuthorities += '\n';
}

void CertificateTrust::removeAllTrustedAuthorities() {
  std::lock_guard<std::mutex> lock(gMutex);
  gAuthorities.clear();
}

std::string CertificateTrust::trustedAuthorities() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gAuthorities;
}

}  // namespace os
