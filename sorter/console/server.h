#pragma once
// The console on the network: a listening socket, a few worker threads and the HTTP library's
// request parser and router between the socket and the console, and the access token file.
// One request per connection. What a client may cost is bounded before anything of its body
// is read: connections in all and per client, header size, body size (smaller without a
// session), time for the header and for the whole exchange, the names the console answers to
// (so that a page from elsewhere cannot reach it through a name that was made to point here).
// With a TLS context it speaks HTTPS only, under the same bounds.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sorter/console/console.h"

namespace sorter::console {

struct Endpoint {
  std::string address = "127.0.0.1";
  int port = 0;
  // Names besides its addresses, "localhost" and this machine's name that the console answers
  // to in a request's Host header.
  std::vector<std::string> host_names;
};

// "name1,name2" as a list of names; throws std::invalid_argument on an empty name.
std::vector<std::string> parse_host_names(std::string_view text);

// "PORT" (loopback), "ADDRESS:PORT" or "[IPv6]:PORT"; throws std::invalid_argument.
Endpoint parse_endpoint(std::string_view text);

class TlsContext;

// Whether the address is one of the loopback addresses (127.0.0.0/8, ::1, "localhost").
bool is_loopback(std::string_view address);

class ConsoleServer {
 public:
  // Binds and starts serving in threads of its own; throws std::runtime_error when the
  // address cannot be bound. Port 0 takes any free port.
  ConsoleServer(Console& console, const Endpoint& endpoint,
                std::shared_ptr<const TlsContext> tls = nullptr);
  ~ConsoleServer();  // stops
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  int port() const;
  // "http://127.0.0.1:8080/", or "https://..." with TLS
  std::string url() const;
  // Ends every connection and stops; idempotent.
  void stop();
  // Connections held now, served or waiting (for tests).
  int connections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes the token into a new file readable and writable by this user only, replacing a file
// of this user there (never through a link). Throws std::runtime_error.
void write_token_file(const std::string& path, const std::string& token);

// Where the token file goes by default: $RUNTIME_DIRECTORY (a systemd service), else
// $XDG_RUNTIME_DIR, else $HOME, file corvane-console-PORT.token.
std::string default_token_file(int port);

}  // namespace sorter::console
