#include "os/testing/TestCertificateAuthority.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <stdexcept>

#include "os/net/CertificateTrust.h"

namespace os::testing {

struct TestCertificateAuthority::Keys {
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
};

namespace {

std::atomic<long> gSerial{1};

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("test certificate extension refused");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

X509* newCertificate(EVP_PKEY* key, const std::string& commonName) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), gSerial++);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  return cert;
}

template <class Write>
std::string pem(Write write) {
  BIO* bio = BIO_new(BIO_s_mem());
  write(bio);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  return text;
}

bool isIPv4(const std::string& name) {
  in_addr a{};
  return inet_pton(AF_INET, name.c_str(), &a) == 1;
}

}  // namespace

TestCertificateAuthority& TestCertificateAuthority::shared() {
  static TestCertificateAuthority authority;
  return authority;
}

TestCertificateAuthority::TestCertificateAuthority() : keys_(new Keys) {
  keys_->key = EVP_EC_gen("P-256");
  if (!keys_->key) throw std::runtime_error("no key for the test certificate authority");
  X509* cert = newCertificate(keys_->key, "News Reader Test Authority");
  X509_set_issuer_name(cert, X509_get_subject_name(cert));
  addExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(cert, cert, NID_subject_key_identifier, "hash");
  X509_sign(cert, keys_->key, EVP_sha256());
  keys_->certificate = cert;
  certificatePEM_ = pem([&](BIO* bio) { PEM_write_bio_X509(bio, cert); });
}

TestCertificateAuthority::~TestCertificateAuthority() {
  X509_free(keys_->certificate);
  EVP_PKEY_free(keys_->key);
  delete keys_;
}

IssuedCertificate TestCertificateAuthority::issue(const std::vector<std::string>& names) const {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("no key for a test certificate");
  X509* cert = newCertificate(key, names.empty() ? "localhost" : names.front());
  X509_set_issuer_name(cert, X509_get_subject_name(keys_->certificate));
  std::string alternatives;
  for (const auto& name : names) {
    if (!alternatives.empty()) alternatives += ",";
    alternatives += (isIPv4(name) ? "IP:" : "DNS:") + name;
  }
  if (!alternatives.empty()) addExtension(cert, keys_->certificate, NID_subject_alt_name, alternatives.c_str());
  addExtension(cert, keys_->certificate, NID_basic_constraints, "critical,CA:FALSE");
  addExtension(cert, keys_->certificate, NID_key_usage, "critical,digitalSignature");
  addExtension(cert, keys_->certificate, NID_ext_key_usage, "serverAuth");
  addExtension(cert, keys_->certificate, NID_authority_key_identifier, "keyid:always");
  X509_sign(cert, keys_->key, EVP_sha256());
  IssuedCertificate issued;
  issued.certificatePEM = pem([&](BIO* bio) { PEM_write_bio_X509(bio, cert); });
  issued.privateKeyPEM = pem([&](BIO* bio) { PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr); });
  X509_free(cert);
  EVP_PKEY_free(key);
  return issued;
}

void TestCertificateAuthority::trust() const { CertificateTrust::addTrustedAuthority(certificatePEM_); }

void TestCertificateAuthority::untrustAll() { CertificateTrust::removeAllTrustedAuthorities(); }

}  // namespace os::testing
