#include "sorter/console/certificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/posix/safe_open.h"
#include "sorter/console/state_file.h"

namespace sorter::console {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Names = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES, GENERAL_NAMES_free>>;

constexpr long kValidSeconds = 10L * 365 * 24 * 3600;

[[noreturn]] void fail(const std::string& what) {
  std::array<char, 256> reason{};
  ERR_error_string_n(ERR_get_error(), reason.data(), reason.size());
  throw std::runtime_error(what + ": " + reason.data());
}

template <typename T>
T* check(T* p, const char* what) {
  if (!p) fail(what);
  return p;
}

void check(int ok, const char* what) {
  if (ok != 1) fail(what);
}

GENERAL_NAME* dns_name(const std::string& name) {
  ASN1_IA5STRING* text = check(ASN1_IA5STRING_new(), "certificate name");
  if (ASN1_STRING_set(text, name.data(), static_cast<int>(name.size())) != 1) {
    ASN1_IA5STRING_free(text);
    fail("certificate name");
  }
  GENERAL_NAME* out = check(GENERAL_NAME_new(), "certificate name");
  GENERAL_NAME_set0_value(out, GEN_DNS, text);
  return out;
}

GENERAL_NAME* ip_name(const std::string& address) {
  ASN1_OCTET_STRING* bytes = a2i_IPADDRESS(address.c_str());
  if (!bytes) throw std::runtime_error("not an IP address for the certificate: " + address);
  GENERAL_NAME* out = check(GENERAL_NAME_new(), "certificate address");
  GENERAL_NAME_set0_value(out, GEN_IPADD, bytes);
  return out;
}

void add_extension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = check(X509V3_EXT_conf_nid(nullptr, &context, nid, value), "extension");
  const int added = X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  check(added, "certificate extension");
}

Cert make_certificate(EVP_PKEY* key, const CertificateNames& names) {
  Cert cert(check(X509_new(), "certificate"));
  check(X509_set_version(cert.get(), 2), "certificate version");
  std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> serial(check(BN_new(), "serial"));
  check(BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), "serial");
  check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())), "serial");
  check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600), "validity");
  check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidSeconds), "validity");
  check(X509_set_pubkey(cert.get(), key), "public key");

  X509_NAME* subject = X509_get_subject_name(cert.get());
  const std::string common = names.dns.empty() ? "localhost" : names.dns.front();
  check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Corvane store console"),
                                   -1, -1, 0),
        "certificate subject");
  check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(common.c_str()),
                                   static_cast<int>(common.size() > 64 ? 64 : common.size()), -1,
                                   0),
        "certificate subject");
  check(X509_set_issuer_name(cert.get(), subject), "certificate issuer");

  Names alt(check(GENERAL_NAMES_new(), "certificate names"));
  for (const std::string& n : names.dns) sk_GENERAL_NAME_push(alt.get(), dns_name(n));
  for (const std::string& a : names.ip) sk_GENERAL_NAME_push(alt.get(), ip_name(a));
  check(X509_add1_ext_i2d(cert.get(), NID_subject_alt_name, alt.get(), 0, X509V3_ADD_DEFAULT),
        "certificate names");
  add_extension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  add_extension(cert.get(), NID_key_usage, "critical,digitalSignature");
  add_extension(cert.get(), NID_ext_key_usage, "serverAuth");
  add_extension(cert.get(), NID_subject_key_identifier, "hash");
  if (X509_sign(cert.get(), key, EVP_sha256()) <= 0) fail("signing the certificate");
  return cert;
}

template <typename Write>
std::string pem_of(Write write) {
  Bio bio(check(BIO_new(BIO_s_mem()), "PEM buffer"));
  check(write(bio.get()), "PEM encoding");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  std::string out(data, static_cast<std::size_t>(size));
  return out;
}

}  // namespace

CertificateNames machine_names(const std::string& listen_address,
                               const std::vector<std::string>& host_names) {
  CertificateNames names;
  std::array<char, 256> own{};
  if (::gethostname(own.data(), own.size() - 1) == 0 && own[0]) names.dns.emplace_back(own.data());
  names.dns.emplace_back("localhost");
  for (const std::string& n : host_names) names.dns.push_back(n);
  names.ip = {"127.0.0.1", "::1"};
  if (listen_address != "0.0.0.0" && listen_address != "::" && listen_address != "127.0.0.1" &&
      listen_address != "::1") {
    names.ip.push_back(listen_address);
  }
  return names;
}

CertificateFiles self_signed_certificate(const std::string& state_folder,
                                         const CertificateNames& names) {
  const CertificateFiles files{state_folder + "/console-cert.pem",
                               state_folder + "/console-key.pem"};
  if (::mkdir(state_folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot make the console's state folder " + state_folder + ": " +
                             std::strerror(errno));
  }
  if (state_file_exists(files.certificate) && state_file_exists(files.key)) {
    check_private_file(files.key);
    return files;
  }
  Key key(check(EVP_EC_gen("P-256"), "making the console's key"));
  const Cert cert = make_certificate(key.get(), names);
  const std::string key_pem = pem_of([&](BIO* b) {
    return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  const std::string cert_pem = pem_of([&](BIO* b) { return PEM_write_bio_X509(b, cert.get()); });
  // The key first: a certificate is never left beside a key that does not belong to it.
  replace_state_file(files.key, key_pem, 0600);
  replace_state_file(files.certificate, cert_pem, 0644);
  return files;
}

std::string sha256_fingerprint(const std::string& certificate_file) {
  const std::string pem = read_state_file(certificate_file);
  Bio bio(check(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), "PEM buffer"));
  const Cert cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!cert) fail("no certificate in " + certificate_file);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned size = 0;
  check(X509_digest(cert.get(), EVP_sha256(), digest.data(), &size), "fingerprint");
  std::string out;
  for (unsigned i = 0; i < size; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
    out += hex;
  }
  return out;
}

}  // namespace sorter::console
