#include "sorter/console/socket_stream.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace sorter::console {

ssize_t PlainTransport::receive(char* to, std::size_t size, short& want) {
  const ssize_t n = ::recv(fd_, to, size, 0);
  if (n < 0) want = errno == EINTR || errno == EAGAIN ? POLLIN : 0;
  return n;
}

ssize_t PlainTransport::send(const char* from, std::size_t size, short& want) {
  const ssize_t n = ::send(fd_, from, size, MSG_NOSIGNAL);
  if (n < 0) want = errno == EINTR || errno == EAGAIN ? POLLOUT : 0;
  return n;
}

BoundedSocketStream::BoundedSocketStream(int fd, Transport& transport, SocketPeer remote,
                                         SocketPeer local, const StreamLimits& limits,
                                         Clock::time_point connected)
    : fd_(fd),
      transport_(transport),
      remote_(std::move(remote)),
      local_(std::move(local)),
      limits_(limits),
      header_deadline_(connected + limits.header_time),
      total_deadline_(connected + limits.total_time) {}

BoundedSocketStream::Clock::time_point BoundedSocketStream::deadline() const {
  return header_done_ ? total_deadline_ : std::min(header_deadline_, total_deadline_);
}

bool BoundedSocketStream::wait_for(short events) const {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline() - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min(left, limits_.idle_time).count()));
    if (n > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
    if (n == 0) return false;  // silent for the idle time, or out of time
    if (errno != EINTR) return false;
  }
}

bool BoundedSocketStream::is_readable() const {
  return begin_ < end_ || transport_.pending() > 0 || wait_for(POLLIN);
}

bool BoundedSocketStream::is_writable() const { return wait_for(POLLOUT); }

bool BoundedSocketStream::fill() {
  short want = POLLIN;
  ssize_t n;
  do {
    if (transport_.pending() == 0 && !wait_for(want)) return false;
    n = transport_.receive(buffer_, sizeof buffer_, want);
  } while (n < 0 && want != 0);
  if (n <= 0) return false;
  begin_ = 0;
  end_ = static_cast<std::size_t>(n);
  return true;
}

bool BoundedSocketStream::account(char byte) {
  if (header_done_) return ++body_bytes_ <= limits_.max_body_bytes;
  if (++header_bytes_ > limits_.max_header_bytes) return false;
  static constexpr char kBlankLine[] = "\r\n\r\n";
  if (byte == kBlankLine[blank_line_match_]) {
    header_done_ = ++blank_line_match_ == 4;
  } else {
    blank_line_match_ = byte == '\r' ? 1 : 0;
  }
  return true;
}

ssize_t BoundedSocketStream::read(char* ptr, std::size_t size) {
  if (size == 0) return 0;
  if (begin_ == end_ && !fill()) return -1;
  std::size_t n = 0;
  while (n < size && begin_ < end_) {
    if (!account(buffer_[begin_])) return -1;
    ptr[n++] = buffer_[begin_++];
  }
  return static_cast<ssize_t>(n);
}

ssize_t BoundedSocketStream::write(const char* ptr, std::size_t size) {
  header_done_ = true;  // answering: only the total time counts from here
  short want = POLLOUT;
  ssize_t n;
  do {
    if (!wait_for(want)) return -1;
    n = transport_.send(ptr, size, want);
  } while (n < 0 && want != 0);
  return n;
}

void BoundedSocketStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = remote_.ip;
  port = remote_.port;
}

void BoundedSocketStream::get_local_ip_and_port(std::string& ip, int& port) const {
  ip = local_.ip;
  port = local_.port;
}

}  // namespace sorter::console
