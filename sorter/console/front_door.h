#pragma once
// What the console decides about a request from its headers alone, before any body is read,
// and the bookkeeping that keeps one client from taking the console for itself: the names it
// answers to, the bodies it takes, its connections per client, and how fast a client may try
// access tokens. Portable; the server applies it to its sockets.

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sorter/console/http.h"

namespace sorter::console {

struct FrontDoorLimits {
  static constexpr std::size_t kMaxHeaderBytes = 32 * 1024;
  static constexpr std::size_t kMaxBodyWithoutSession = 64 * 1024;  // the login form and more
  static constexpr std::size_t kMaxBodyInSession = 16 * 1024 * 1024;  // a lesson file
  static constexpr int kWorkers = 8;
  static constexpr int kMaxConnections = 64;           // served and waiting, all clients
  static constexpr int kMaxConnectionsPerClient = 6;   // as many as a browser opens to one host
  static constexpr int kHeaderSeconds = 10;            // from the connection to the header's end
  static constexpr int kRequestSeconds = 60;           // from the connection to the last byte out
  static constexpr int kIdleSeconds = 5;               // the longest silence within a request
};

// The client a request or connection counts for: an IPv4 address, or the /64 network of an
// IPv6 address (one machine may use many addresses of its network). An IPv4 address mapped into
// IPv6 counts as the IPv4 address.
std::string client_key(std::string_view address);

// Whether a Host header names this console: an IP address (a name a rebinding page could use is
// never an address), "localhost", this machine's name, or one of the names the administrator
// gave; in each case with the console's port, or none when that port is 80. Names compare
// without regard to case and to a final dot.
bool host_is_allowed(std::string_view host, int port, const std::vector<std::string>& names);

// The answer to a request that is refused on its headers, before its body is read: a foreign
// Host, a chunked or compressed body, or a declared length past the limit (smaller for clients
// without a session). Header names in lower case, as in Request.
std::optional<Response> refuse_on_headers(const std::map<std::string, std::string>& headers,
                                          int port, const std::vector<std::string>& names,
                                          bool in_session);

// Counts the connections held per client and in all; thread-safe.
class ConnectionGate {
 public:
  ConnectionGate(int max_total, int max_per_client)
      : max_total_(max_total), max_per_client_(max_per_client) {}
  // Takes a place for the client, or says false when it or the console has no more.
  bool enter(const std::string& client);
  void leave(const std::string& client);
  int held() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> per_client_;
  int total_ = 0;
  int max_total_;
  int max_per_client_;
};

// Slows down guessing of the access token per client: the first few wrong tokens cost nothing,
// after that each wrong token closes the door to that client for twice as long as the last,
// up to a minute; a right token or an hour without a wrong one opens it again. Remembers a bounded number of clients. Times
// are automation dates (days).
class LoginThrottle {
 public:
  static constexpr int kFreeFailures = 5;
  static constexpr double kMaxWaitSeconds = 60;
  static constexpr std::size_t kMaxClients = 4096;
  static constexpr double kForgetAfterSeconds = 3600;  // a quiet hour wipes the slate

  // Seconds the client must still wait before a token is looked at; 0 when it may try now.
  int wait_seconds(const std::string& client, double now) const;
  void failed(const std::string& client, double now);
  void succeeded(const std::string& client);

 private:
  struct Record {
    int failures = 0;
    double open_at = 0;  // automation date from which the client may try again
    double last = 0;
  };
  std::map<std::string, Record> records_;
};

}  // namespace sorter::console
