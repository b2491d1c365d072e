#pragma once
// The console on the network: an HTTP server (cpp-httplib) with one worker thread that turns
// each HTTP request into a console Request and writes the Response back, and the access token
// file.

#include <memory>
#include <string>
#include <string_view>

#include "sorter/console/console.h"

namespace sorter::console {

struct Endpoint {
  std::string address = "127.0.0.1";
  int port = 0;
};

// "PORT" (loopback), "ADDRESS:PORT" or "[IPv6]:PORT"; throws std::invalid_argument.
Endpoint parse_endpoint(std::string_view text);

class ConsoleServer {
 public:
  // Binds and starts serving in a thread of its own; throws std::runtime_error when the
  // address cannot be bound. Port 0 takes any free port.
  ConsoleServer(Console& console, const Endpoint& endpoint);
  ~ConsoleServer();  // stops
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  int port() const;
  // "http://127.0.0.1:8080/"
  std::string url() const;
  void stop();

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
