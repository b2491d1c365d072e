#pragma once
// The console's TLS identity: the administrator's certificate and key (PEM files), or a
// self-signed certificate for this machine's names, made once and kept in the service's state
// folder. Everything cryptographic is OpenSSL's; this only decides which files and names.

#include <string>
#include <vector>

namespace sorter::console {

struct CertificateFiles {
  std::string certificate;  // PEM, the certificate first, then any chain
  std::string key;          // PEM private key
};

// The names a self-signed certificate is made for: DNS names and IP addresses.
struct CertificateNames {
  std::vector<std::string> dns;
  std::vector<std::string> ip;
};

// This machine's name, "localhost", the given names, the loopback addresses and the listening
// address (unless it is a wildcard address).
CertificateNames machine_names(const std::string& listen_address,
                               const std::vector<std::string>& host_names);

// The certificate and key in state_folder (console-cert.pem, console-key.pem), made when
// either is missing: an EC P-256 key and a certificate signed by it, valid for ten years.
// The folder is made (0700) when missing; the key is written 0600 from its creation, under
// a temporary name that is then renamed, so no other user can ever read it. Throws
// std::runtime_error with OpenSSL's or the system's reason.
CertificateFiles self_signed_certificate(const std::string& state_folder,
                                         const CertificateNames& names);

// "AB:CD:..." over the DER bytes of the first certificate in a PEM file, as browsers show it.
std::string sha256_fingerprint(const std::string& certificate_file);

}  // namespace sorter::console
