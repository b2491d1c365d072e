#pragma once
// Test support: a console's requests sent as a browser sends them, in-process or through the
// server over plain HTTP or HTTPS (the client trusting the console's own self-signed
// certificate), and the answers read back as the console's values, so that one table of
// requests runs against every way in.

#include <httplib.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "sorter/console/certificate.h"
#include "sorter/console/console.h"
#include "sorter/console/server.h"
#include "sorter/console/tls.h"
#include "tests/support/temp_dir.h"

namespace sorter::console::testing {

enum class Wire { kInProcess, kHttp, kHttps };

inline const char* name_of(Wire w) {
  return w == Wire::kInProcess ? "InProcess" : w == Wire::kHttp ? "Http" : "Https";
}

inline void PrintTo(Wire w, std::ostream* os) { *os << name_of(w); }

// The console behind a server on a free loopback port, with a self-signed certificate made
// in a temporary folder for HTTPS.
class WireConsole {
 public:
  WireConsole(Console& console, Wire wire) : console_(console), wire_(wire) {
    if (wire == Wire::kInProcess) return;
    if (wire == Wire::kHttps) {
      files_ = self_signed_certificate((state_ / "state").string(),
                                       machine_names("127.0.0.1", {}));
      tls_ = std::make_shared<const TlsContext>(*files_);
    }
    server_ = std::make_unique<ConsoleServer>(console, parse_endpoint("127.0.0.1:0"), tls_);
  }

  Wire wire() const { return wire_; }
  int port() const { return server_ ? server_->port() : 8080; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port()); }
  // The origin the console's own pages have.
  std::string origin() const { return (wire_ == Wire::kHttps ? "https://" : "http://") + host(); }
  const std::optional<CertificateFiles>& certificate() const { return files_; }
  std::shared_ptr<const TlsContext> tls() const { return tls_; }
  ConsoleServer* server() const { return server_.get(); }

  // A client of the console, trusting its certificate only.
  std::unique_ptr<httplib::ClientImpl> client() const {
    if (wire_ != Wire::kHttps) return std::make_unique<httplib::ClientImpl>("127.0.0.1", port());
    auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", port());
    c->set_ca_cert_path(files_->certificate.c_str());
    c->enable_server_certificate_verification(true);
    return c;
  }

  // Sends the request; "127.0.0.1:8080" in its Host and Origin headers stands for the server's
  // own address and scheme. Status 0 when no answer came.
  Response send(Request r) const {
    if (wire_ == Wire::kInProcess) return console_.handle(r);
    httplib::Headers headers;
    for (auto [name, value] : r.headers) {
      if (value == "127.0.0.1:8080") value = host();
      if (value == "http://127.0.0.1:8080") value = origin();
      headers.emplace(name, value);
    }
    const auto c = client();
    httplib::Params params(r.params.begin(), r.params.end());
    httplib::Result got = r.method == "POST"
                              ? c->Post(r.path.c_str(), headers, params)
                              : c->Get(httplib::append_query_params(r.path, params), headers);
    Response out;
    out.status = 0;
    if (!got) return out;
    out.status = got->status;
    out.body = got->body;
    out.content_type = got->get_header_value("Content-Type");
    for (const auto& [name, value] : got->headers) {
      if (name != "Content-Type" && name != "Content-Length" && name != "Connection") {
        out.headers.emplace(name, value);
      }
    }
    return out;
  }

 private:
  Console& console_;
  Wire wire_;
  testsupport::TempDir state_;
  std::optional<CertificateFiles> files_;
  std::shared_ptr<const TlsContext> tls_;
  std::unique_ptr<ConsoleServer> server_;
};

}  // namespace sorter::console::testing
