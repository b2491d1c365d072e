#pragma once
// TLS for the console's connections, by OpenSSL: one server context with the console's
// certificate and key, and each accepted connection's TLS session as a transport of the
// bounded stream (so the front door's limits hold for the handshake and the encrypted bytes).

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "sorter/console/certificate.h"
#include "sorter/console/socket_stream.h"

namespace sorter::console {

class TlsContext {
 public:
  // Loads the certificate chain and its key (TLS 1.2 and later); throws std::runtime_error
  // naming the file and OpenSSL's reason, also when the key does not belong to the certificate.
  explicit TlsContext(const CertificateFiles& files);
  // "AB:CD:..." of the console's certificate.
  const std::string& fingerprint() const { return fingerprint_; }
  SSL_CTX* native() const { return context_.get(); }

 private:
  struct Free {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
  };
  std::unique_ptr<SSL_CTX, Free> context_;
  std::string fingerprint_;
};

// The server's side of one connection's TLS session on a non-blocking socket; the handshake
// runs within the first reads.
class TlsTransport final : public Transport {
 public:
  TlsTransport(const TlsContext& context, int fd);
  ssize_t receive(char* to, std::size_t size, short& want) override;
  ssize_t send(const char* from, std::size_t size, short& want) override;
  std::size_t pending() const override;
  // Sends the close notification, without waiting for the client's.
  void close() override;

 private:
  ssize_t result(int n, short& want);
  struct Free {
    void operator()(SSL* s) const { SSL_free(s); }
  };
  std::unique_ptr<SSL, Free> ssl_;
};

}  // namespace sorter::console
