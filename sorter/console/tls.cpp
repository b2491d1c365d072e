#include "sorter/console/tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <poll.h>

#include <array>
#include <stdexcept>

#include "sorter/console/state_file.h"

namespace sorter::console {
namespace {

std::runtime_error openssl_error(const std::string& what) {
  std::array<char, 256> reason{};
  ERR_error_string_n(ERR_get_error(), reason.data(), reason.size());
  ERR_clear_error();
  return std::runtime_error(what + ": " + reason.data());
}

struct BioFree {
  void operator()(BIO* b) const { BIO_free_all(b); }
};

std::unique_ptr<BIO, BioFree> memory_of(const std::string& bytes) {
  return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

void use_chain(SSL_CTX* context, const std::string& file) {
  const std::string pem = read_state_file(file);
  const auto bio = memory_of(pem);
  X509* first = PEM_read_bio_X509_AUX(bio.get(), nullptr, nullptr, nullptr);
  if (!first || SSL_CTX_use_certificate(context, first) != 1) {
    X509_free(first);
    throw openssl_error("no usable certificate in " + file);
  }
  X509_free(first);
  while (X509* more = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    if (SSL_CTX_add0_chain_cert(context, more) != 1) {
      X509_free(more);
      throw openssl_error("a bad chain certificate in " + file);
    }
  }
  ERR_clear_error();  // the end of the file reads as an error
}

void use_key(SSL_CTX* context, const std::string& file) {
  const std::string pem = read_state_file(file);
  const auto bio = memory_of(pem);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
  if (!key) throw openssl_error("no usable private key in " + file);
  const bool belongs = X509_check_private_key(SSL_CTX_get0_certificate(context), key) == 1;
  const bool used = belongs && SSL_CTX_use_PrivateKey(context, key) == 1;
  EVP_PKEY_free(key);
  if (!belongs) throw openssl_error("the key in " + file + " does not belong to the certificate");
  if (!used) throw openssl_error("no usable private key in " + file);
}

}  // namespace

TlsContext::TlsContext(const CertificateFiles& files)
    : context_(SSL_CTX_new(TLS_server_method())) {
  if (!context_) throw openssl_error("cannot set up TLS");
  SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(context_.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_mode(context_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE);
  use_chain(context_.get(), files.certificate);
  use_key(context_.get(), files.key);
  fingerprint_ = sha256_fingerprint(files.certificate);
}

TlsTransport::TlsTransport(const TlsContext& context, int fd) : ssl_(SSL_new(context.native())) {
  if (!ssl_ || SSL_set_fd(ssl_.get(), fd) != 1) throw openssl_error("cannot start TLS");
  SSL_set_accept_state(ssl_.get());
}

ssize_t TlsTransport::result(int n, short& want) {
  if (n > 0) return n;
  switch (SSL_get_error(ssl_.get(), n)) {
    case SSL_ERROR_WANT_READ:
      want = POLLIN;
      return -1;
    case SSL_ERROR_WANT_WRITE:
      want = POLLOUT;
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    default:  // a failed handshake, a broken record, a reset connection
      ERR_clear_error();
      want = 0;
      return -1;
  }
}

ssize_t TlsTransport::receive(char* to, std::size_t size, short& want) {
  ERR_clear_error();
  return result(SSL_read(ssl_.get(), to, static_cast<int>(size)), want);
}

ssize_t TlsTransport::send(const char* from, std::size_t size, short& want) {
  ERR_clear_error();
  return result(SSL_write(ssl_.get(), from, static_cast<int>(size)), want);
}

std::size_t TlsTransport::pending() const {
  return static_cast<std::size_t>(SSL_pending(ssl_.get()));
}

void TlsTransport::close() {
  if (SSL_is_init_finished(ssl_.get())) SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

}  // namespace sorter::console
