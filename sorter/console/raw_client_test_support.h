#pragma once
// Test support: a raw connection to a console on loopback.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace sorter::console::testing {

// A raw connection from a chosen loopback address, to send what no well-behaved client sends;
// with TLS it completes the handshake first (trusting any certificate: the bytes are what
// counts here) and then talks through it.
class RawClient {
 public:
  explicit RawClient(int port, const char* from = "127.0.0.1", bool tls = false) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    a.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    if (!tls) return;
    context_.reset(SSL_CTX_new(TLS_client_method()));
    ssl_.reset(SSL_new(context_.get()));
    SSL_set_fd(ssl_.get(), fd_);
    EXPECT_EQ(SSL_connect(ssl_.get()), 1) << "TLS handshake";
    // From here reads never block: records that carry no data (session tickets) come too.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  ~RawClient() {
    ssl_.reset();
    ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // "AB:CD:..." of the certificate the server sent in the handshake.
  std::string fingerprint() const {
    X509* cert = ssl_ ? SSL_get1_peer_certificate(ssl_.get()) : nullptr;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (cert != nullptr) X509_digest(cert, EVP_sha256(), digest, &size);
    X509_free(cert);
    std::string out;
    for (unsigned i = 0; i < size; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%s%02X", i ? ":" : "", digest[i]);
      out += hex;
    }
    return out;
  }

  // Whether the server has closed the connection.
  bool ended() const {
    char c;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
  }

  void send(const std::string& bytes) {
    if (ssl_) {
      std::size_t done = 0;
      while (done < bytes.size()) {
        const int n = SSL_write(ssl_.get(), bytes.data() + done, static_cast<int>(bytes.size() - done));
        if (n > 0) {
          done += static_cast<std::size_t>(n);
          continue;
        }
        const int error = SSL_get_error(ssl_.get(), n);
        if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) return;
        pollfd p{fd_, static_cast<short>(error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
        if (::poll(&p, 1, 20000) <= 0) return;
      }
    } else {
      ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
  }
  // What the server sends until it closes, or until nothing came for the wait.
  std::string answer(std::chrono::milliseconds wait = std::chrono::seconds(20)) {
    std::string out;
    char buffer[4096];
    for (;;) {
      if (!ssl_ || SSL_pending(ssl_.get()) == 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return out;
      }
      const int n = ssl_ ? SSL_read(ssl_.get(), buffer, sizeof buffer)
                         : static_cast<int>(::recv(fd_, buffer, sizeof buffer, 0));
      if (n <= 0) {
        if (ssl_ && SSL_get_error(ssl_.get(), n) == SSL_ERROR_WANT_READ) continue;
        return out;
      }
      out.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  struct FreeContext {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
  };
  struct FreeSsl {
    void operator()(SSL* s) const { SSL_free(s); }
  };
  int fd_ = -1;
  std::unique_ptr<SSL_CTX, FreeContext> context_;
  std::unique_ptr<SSL, FreeSsl> ssl_;
};

// The status line of an answer.
inline std::string status_line(const std::string& answer) { return answer.substr(0, answer.find('\r')); }

}  // namespace sorter::console::testing
