#include "sorter/console/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/posix/safe_open.h"
#include "sorter/console/front_door.h"
#include "sorter/console/socket_stream.h"
#include "sorter/console/tls.h"

namespace sorter::console {
namespace {

// Header names in lower case, as the console's requests carry them.
std::map<std::string, std::string> lower_case_headers(const httplib::Headers& in) {
  std::map<std::string, std::string> out;
  for (const auto& [name, value] : in) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.emplace(std::move(lower), value);
  }
  return out;
}

Request to_request(const httplib::Request& in, bool secure) {
  Request out;
  out.secure = secure;
  out.method = in.method;
  out.path = in.path;
  out.remote_address = in.remote_addr;
  for (const auto& [name, value] : in.params) out.params.emplace(name, value);
  for (const auto& [name, part] : in.files) {
    if (part.filename.empty()) {
      out.params.emplace(name, part.content);
    } else {
      out.files[name] = UploadedFile{part.filename, part.content};
    }
  }
  out.headers = lower_case_headers(in.headers);
  return out;
}

// The library compresses with brotli at its highest quality whenever the browser accepts it,
// about a second per megabyte of HTML; gzip at its default level costs a few milliseconds.
void offer_gzip_only(httplib::Request& request) {
  const auto accepted = request.get_header_value("Accept-Encoding");
  request.headers.erase("Accept-Encoding");
  if (accepted.find("gzip") != std::string::npos)
    request.headers.emplace("Accept-Encoding", "gzip");
}

std::invalid_argument bad_endpoint(std::string_view text) {
  return std::invalid_argument("the console's address is PORT or ADDRESS:PORT, not \"" +
                               std::string(text) + "\"");
}

}  // namespace

Endpoint parse_endpoint(std::string_view text) {
  Endpoint e;
  std::string_view port = text;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find("]:");
    if (close == std::string_view::npos) throw bad_endpoint(text);
    e.address = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    e.address = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
  }
  if (e.address.empty() || port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string_view::npos ||
      std::stoi(std::string(port)) > 65535) {
    throw bad_endpoint(text);
  }
  e.port = std::stoi(std::string(port));
  return e;
}

bool is_loopback(std::string_view address) {
  if (address == "localhost" || address == "::1") return true;
  in_addr v4{};
  const std::string text(address);
  return ::inet_pton(AF_INET, text.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

std::vector<std::string> parse_host_names(std::string_view text) {
  std::vector<std::string> names;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    const std::string_view name = text.substr(from, comma - from);
    if (name.empty() || name.find_first_of(" /:[]") != std::string_view::npos) {
      throw std::invalid_argument("the console's names are NAME[,NAME...], not \"" +
                                  std::string(text) + "\"");
    }
    names.emplace_back(name);
    if (comma == std::string_view::npos) return names;
    from = comma + 1;
  }
}

namespace {

// The library's parser and router, driven on a stream of ours, one request per connection.
class Router : public httplib::Server {
 public:
  bool serve(httplib::Stream& stream) {
    bool closed = false;
    return process_request(stream, true, closed, nullptr);
  }
};

struct Connection {
  int fd = -1;
  std::string client;
  SocketPeer remote;
  SocketPeer local;
  std::chrono::steady_clock::time_point connected;
};

SocketPeer peer_of(const sockaddr_storage& address) {
  SocketPeer p;
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    p.port = ntohs(a.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    p.port = ntohs(a.sin6_port);
  }
  p.ip = text;
  if (p.ip.rfind("::ffff:", 0) == 0 && p.ip.find('.') != std::string::npos) p.ip.erase(0, 7);
  return p;
}

SocketPeer local_peer(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
  return peer_of(a);
}

// A listening socket for the address, close-on-exec and non-blocking; -1 with errno set.
int listen_on(const Endpoint& endpoint) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(endpoint.port);
  if (::getaddrinfo(endpoint.address.c_str(), port.c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  return fd;
}

// What a client over its share of connections gets before the connection is closed; under
// TLS nothing can be said before a handshake, which the refusal must not cost.
void refuse_connection(int fd, bool tls) {
  static constexpr char kBusy[] =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Retry-After: 5\r\nConnection: close\r\nContent-Length: 45\r\n\r\n"
      "Too many connections: try again in a moment.\n";
  if (tls) {
    ::close(fd);
    return;
  }
  [[maybe_unused]] const ssize_t n = ::send(fd, kBusy, sizeof kBusy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
  ::close(fd);
}


}  // namespace

struct ConsoleServer::Impl {
  Impl(Console& c, const Endpoint& e, std::shared_ptr<const TlsContext> t)
      : console(c),
        endpoint(e),
        tls(std::move(t)),
        gate(FrontDoorLimits::kMaxConnections, FrontDoorLimits::kMaxConnectionsPerClient) {}

  void accept_loop();
  void work();
  void serve(Connection& connection);
  void route();

  Console& console;
  Endpoint endpoint;
  std::shared_ptr<const TlsContext> tls;
  Router router;
  ConnectionGate gate;
  std::mutex handling;  // the console serves one request at a time
  int listener = -1;
  int wake[2] = {-1, -1};  // stop() writes to wake[1]
  int port = 0;
  std::atomic<bool> stopping{false};

  std::mutex queue_mutex;
  std::condition_variable queue_ready;
  std::deque<Connection> queue;
  std::set<int> serving;  // shut down by stop()
  std::vector<std::thread> threads;
};

void ConsoleServer::Impl::accept_loop() {
  while (!stopping) {
    pollfd p[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
    if (p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_storage address{};
    socklen_t len = sizeof address;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      // Out of descriptors or memory: the connection waits in the backlog, and this loop
      // waits a moment rather than spin on a listener that stays readable.
      if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) ::poll(&p[1], 1, 100);
      continue;
    }
    Connection c{fd, {}, peer_of(address), local_peer(fd), std::chrono::steady_clock::now()};
    c.client = client_key(c.remote.ip);
    if (!gate.enter(c.client)) {
      refuse_connection(fd, tls != nullptr);
      continue;
    }
    std::lock_guard<std::mutex> hold(queue_mutex);
    queue.push_back(std::move(c));
    queue_ready.notify_one();
  }
}

void ConsoleServer::Impl::work() {
  for (;;) {
    Connection c;
    {
      std::unique_lock<std::mutex> hold(queue_mutex);
      queue_ready.wait(hold, [this] { return stopping || !queue.empty(); });
      if (stopping) return;
      c = std::move(queue.front());
      queue.pop_front();
      serving.insert(c.fd);
    }
    serve(c);
    {
      std::lock_guard<std::mutex> hold(queue_mutex);
      serving.erase(c.fd);
    }
    ::close(c.fd);
    gate.leave(c.client);
  }
}

void ConsoleServer::Impl::serve(Connection& c) {
  using std::chrono::seconds;
  const StreamLimits limits{FrontDoorLimits::kMaxHeaderBytes, FrontDoorLimits::kMaxBodyInSession,
                            seconds(FrontDoorLimits::kHeaderSeconds),
                            seconds(FrontDoorLimits::kRequestSeconds),
                            seconds(FrontDoorLimits::kIdleSeconds)};
  PlainTransport plain(c.fd);
  std::optional<TlsTransport> encrypted;
  Transport* transport = &plain;
  if (tls) {
    try {
      transport = &encrypted.emplace(*tls, c.fd);
    } catch (const std::exception&) {
      return;  // out of memory for the session: the connection just closes
    }
  }
  BoundedSocketStream stream(c.fd, *transport, c.remote, c.local, limits, c.connected);
  router.serve(stream);
  transport->close();
  ::shutdown(c.fd, SHUT_WR);
}

void ConsoleServer::Impl::route() {
  router.set_payload_max_length(FrontDoorLimits::kMaxBodyInSession);
  router.set_pre_routing_handler([this](const httplib::Request& in, httplib::Response& out) {
    Request headers_only;
    headers_only.headers = lower_case_headers(in.headers);
    bool in_session;
    {
      std::lock_guard<std::mutex> hold(handling);
      in_session = console.in_session(headers_only);
    }
    const auto refusal =
        refuse_on_headers(headers_only.headers, port, endpoint.host_names, in_session);
    if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
    out.status = refusal->status;
    out.set_content(refusal->body, refusal->content_type.c_str());
    return httplib::Server::HandlerResponse::Handled;
  });
  const auto handler = [this](const httplib::Request& in, httplib::Response& out) {
    offer_gzip_only(const_cast<httplib::Request&>(in));  // the request object is not const
    Response r;
    {
      std::lock_guard<std::mutex> hold(handling);
      r = console.handle(to_request(in, tls != nullptr));
    }
    out.status = r.status;
    for (const auto& [name, value] : r.headers) out.headers.emplace(name, value);
    out.set_content(r.body, r.content_type.c_str());
  };
  router.Get(".*", handler);
  router.Post(".*", handler);
}

ConsoleServer::ConsoleServer(Console& console, const Endpoint& endpoint,
                             std::shared_ptr<const TlsContext> tls)
    : impl_(std::make_unique<Impl>(console, endpoint, std::move(tls))) {
  // A browser that goes away mid-answer must cost the write, not the process.
  ::signal(SIGPIPE, SIG_IGN);
  impl_->listener = listen_on(endpoint);
  if (impl_->listener < 0 || ::pipe2(impl_->wake, O_CLOEXEC) != 0) {
    if (impl_->listener >= 0) ::close(impl_->listener);
    throw std::runtime_error("cannot listen on " + endpoint.address + ":" +
                             std::to_string(endpoint.port));
  }
  impl_->port = local_peer(impl_->listener).port;
  impl_->route();
  for (int i = 0; i < FrontDoorLimits::kWorkers; ++i) {
    impl_->threads.emplace_back([this] { impl_->work(); });
  }
  impl_->threads.emplace_back([this] { impl_->accept_loop(); });
}

ConsoleServer::~ConsoleServer() { stop(); }

int ConsoleServer::port() const { return impl_->port; }

int ConsoleServer::connections() const { return impl_->gate.held(); }

std::string ConsoleServer::url() const {
  const std::string& address = impl_->endpoint.address;
  const bool v6 = address.find(':') != std::string::npos;
  return (impl_->tls ? "https://" : "http://") + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(impl_->port) +
         "/";
}

void ConsoleServer::stop() {
  if (impl_->threads.empty()) return;
  {
    std::lock_guard<std::mutex> hold(impl_->queue_mutex);
    impl_->stopping = true;
    for (const int fd : impl_->serving) ::shutdown(fd, SHUT_RDWR);
    impl_->queue_ready.notify_all();
  }
  [[maybe_unused]] const ssize_t n = ::write(impl_->wake[1], "x", 1);
  for (std::thread& t : impl_->threads) t.join();
  impl_->threads.clear();
  for (const Connection& c : impl_->queue) ::close(c.fd);
  impl_->queue.clear();
  for (const int fd : {impl_->listener, impl_->wake[0], impl_->wake[1]}) ::close(fd);
}

void write_token_file(const std::string& path, const std::string& token) {
  // Neither a link nor a FIFO is opened through; emptied only once it is known to be ours.
  const int fd = platform::open_regular_file(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT, 0600);
  if (fd < 0) {
    throw std::runtime_error("cannot write the token file " + path + ": " + std::strerror(errno));
  }
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
  const std::string line = token + "\n";
  const bool written = ours && ::fchmod(fd, 0600) == 0 && ::ftruncate(fd, 0) == 0 &&
                       ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  if (!written) throw std::runtime_error("cannot write the token file " + path);
}

std::string default_token_file(int port) {
  const char* folder = nullptr;
  for (const char* name : {"RUNTIME_DIRECTORY", "XDG_RUNTIME_DIR", "HOME"}) {
    folder = std::getenv(name);
    if (folder && *folder) break;
    folder = nullptr;
  }
  std::string dir = folder ? folder : ".";
  if (const std::size_t colon = dir.find(':'); colon != std::string::npos) dir.resize(colon);
  return dir + "/corvane-console-" + std::to_string(port) + ".token";
}

}  // namespace sorter::console
