#pragma once
// A certificate authority made at run time for loopback TLS servers that stand in for named
// hosts. It signs server certificates for any names; URL loading accepts them only once the
// authority is trusted (os::CertificateTrust), so every other certificate check stays as it is.
#include <string>
#include <vector>

namespace os::testing {

struct IssuedCertificate {
  std::string certificatePEM;
  std::string privateKeyPEM;
};

class TestCertificateAuthority {
 public:
  // One per process, made on first use (a new P-256 key each run).
  static TestCertificateAuthority& shared();

  const std::string& certificatePEM() const { return certificatePEM_; }
  // A server certificate valid for a day, for the names given (host names, or dotted IPv4
  // literals as address entries).
  IssuedCertificate issue(const std::vector<std::string>& names) const;

  // Adds the authority to the process's trusted ones; untrustAll drops every added authority.
  void trust() const;
  static void untrustAll();

  ~TestCertificateAuthority();
  TestCertificateAuthority(const TestCertificateAuthority&) = delete;
  TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

 private:
  TestCertificateAuthority();
  struct Keys;
  Keys* keys_;
  std::string certificatePEM_;
};

}  // namespace os::testing
