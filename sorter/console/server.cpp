#include "sorter/console/server.h"

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/posix/safe_open.h"

namespace sorter::console {
namespace {

constexpr std::size_t kMaxRequestBytes = 16 * 1024 * 1024;

Request to_request(const httplib::Request& in) {
  Request out;
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
  for (const auto& [name, value] : in.headers) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.headers.emplace(std::move(lower), value);
  }
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

struct ConsoleServer::Impl {
  httplib::Server server;
  std::thread thread;
  std::string address;
  int port = 0;
};

ConsoleServer::ConsoleServer(Console& console, const Endpoint& endpoint)
    : impl_(std::make_unique<Impl>()) {
  // A browser that goes away mid-answer must cost the write, not the process.
  ::signal(SIGPIPE, SIG_IGN);
  httplib::Server& s = impl_->server;
  // One worker: console requests are served one at a time, beside the sorting rounds.
  s.new_task_queue = [] { return new httplib::ThreadPool(1); };
  s.set_payload_max_length(kMaxRequestBytes);
  s.set_read_timeout(2, 0);
  s.set_write_timeout(10, 0);
  s.set_keep_alive_max_count(1);
  const auto handler = [&console](const httplib::Request& in, httplib::Response& out) {
    offer_gzip_only(const_cast<httplib::Request&>(in));  // the request object is not const
    const Response r = console.handle(to_request(in));
    out.status = r.status;
    for (const auto& [name, value] : r.headers) out.headers.emplace(name, value);
    out.set_content(r.body, r.content_type.c_str());
  };
  s.Get(".*", handler);
  s.Post(".*", handler);
  impl_->address = endpoint.address;
  impl_->port = endpoint.port == 0
                    ? s.bind_to_any_port(endpoint.address)
                    : (s.bind_to_port(endpoint.address, endpoint.port) ? endpoint.port : -1);
  if (impl_->port <= 0) {
    throw std::runtime_error("cannot listen on " + endpoint.address + ":" +
                             std::to_string(endpoint.port));
  }
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
}

ConsoleServer::~ConsoleServer() { stop(); }

int ConsoleServer::port() const { return impl_->port; }

std::string ConsoleServer::url() const {
  const bool v6 = impl_->address.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + impl_->address + "]" : impl_->address) + ":" +
         std::to_string(impl_->port) + "/";
}

void ConsoleServer::stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
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
