#pragma once
// One accepted (non-blocking) connection as the HTTP library's stream, with the bounds a
// client cannot talk its way past: the header must end within a number of bytes and seconds,
// the whole exchange within a total time, no silence within it may last longer than the idle time, and no body
// may run past its limit. A read past a bound fails, so the library ends the request there.
// The bytes travel through a transport: the socket itself, or a TLS session over it, whose
// handshake and records count against the same bounds.

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace sorter::console {

struct StreamLimits {
  std::size_t max_header_bytes;
  std::size_t max_body_bytes;
  std::chrono::milliseconds header_time;  // from the connection to the end of the header
  std::chrono::milliseconds total_time;   // from the connection to the last byte written
  std::chrono::milliseconds idle_time;    // the longest wait for one read or write
};

struct SocketPeer {
  std::string ip;
  int port = 0;
};

// The bytes of one non-blocking connection.
class Transport {
 public:
  virtual ~Transport() = default;
  // As recv and send: the bytes moved, 0 at the connection's end, or -1 with want set to the
  // poll events to wait for before trying again (0 when the connection failed).
  virtual ssize_t receive(char* to, std::size_t size, short& want) = 0;
  virtual ssize_t send(const char* from, std::size_t size, short& want) = 0;
  // Bytes received and decoded but not yet handed out.
  virtual std::size_t pending() const { return 0; }
  // Ends the exchange politely, without waiting for the peer.
  virtual void close() {}
};

// The socket's own bytes.
class PlainTransport final : public Transport {
 public:
  explicit PlainTransport(int fd) : fd_(fd) {}
  ssize_t receive(char* to, std::size_t size, short& want) override;
  ssize_t send(const char* from, std::size_t size, short& want) override;

 private:
  int fd_;
};

class BoundedSocketStream final : public httplib::Stream {
 public:
  using Clock = std::chrono::steady_clock;

  BoundedSocketStream(int fd, Transport& transport, SocketPeer remote, SocketPeer local,
                      const StreamLimits& limits, Clock::time_point connected);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, std::size_t size) override;
  ssize_t write(const char* ptr, std::size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return fd_; }

  bool header_done() const { return header_done_; }

 private:
  bool wait_for(short events) const;
  Clock::time_point deadline() const;
  bool fill();
  // Counts a byte handed to the library; false when it runs past a bound.
  bool account(char byte);

  int fd_;
  Transport& transport_;
  SocketPeer remote_;
  SocketPeer local_;
  StreamLimits limits_;
  Clock::time_point header_deadline_;
  Clock::time_point total_deadline_;
  char buffer_[4096];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t header_bytes_ = 0;
  std::size_t body_bytes_ = 0;
  int blank_line_match_ = 0;  // how much of "\r\n\r\n" the last bytes matched
  bool header_done_ = false;
};

}  // namespace sorter::console
