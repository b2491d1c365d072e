#include "sorter/console/front_door.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace sorter::console {
namespace {

constexpr double kSecondsPerDay = 86400.0;

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A name as compared: lower case, without a final dot.
std::string comparable_name(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return lower(name);
}

bool is_ipv4(const std::string& text) {
  in_addr a{};
  return ::inet_pton(AF_INET, text.c_str(), &a) == 1;
}

bool is_ipv6(const std::string& text) {
  in6_addr a{};
  return ::inet_pton(AF_INET6, text.c_str(), &a) == 1;
}

bool is_this_machine(const std::string& name) {
  std::array<char, 256> buffer{};
  if (::gethostname(buffer.data(), buffer.size() - 1) != 0) return false;
  const std::string own = comparable_name(buffer.data());
  return !own.empty() && (name == own || name == own.substr(0, own.find('.')));
}

std::optional<std::size_t> declared_length(const std::map<std::string, std::string>& headers) {
  const auto it = headers.find("content-length");
  if (it == headers.end()) return std::nullopt;
  const std::string& v = it->second;
  if (v.empty() || v.size() > 18 || v.find_first_not_of("0123456789") != std::string::npos) {
    return SIZE_MAX;  // not a length: refused as too large rather than guessed at
  }
  return static_cast<std::size_t>(std::stoull(v));
}

}  // namespace

std::string client_key(std::string_view address) {
  const std::string text(address);
  in6_addr a6{};
  if (::inet_pton(AF_INET6, text.c_str(), &a6) != 1) return text;
  static constexpr std::array<unsigned char, 12> kMapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff,
                                                            0xff};
  if (std::equal(kMapped.begin(), kMapped.end(), a6.s6_addr)) {
    char v4[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, a6.s6_addr + 12, v4, sizeof v4);
    return v4;
  }
  std::fill(a6.s6_addr + 8, a6.s6_addr + 16, 0);
  char v6[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, &a6, v6, sizeof v6);
  return std::string(v6) + "/64";
}

bool host_is_allowed(std::string_view host, int port, const std::vector<std::string>& names) {
  std::string name;
  std::string_view port_text;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    if (!is_ipv6(std::string(host.substr(1, close - 1)))) return false;
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    if (!rest.empty()) port_text = rest.substr(1);
  } else {
    const std::size_t colon = host.find(':');
    name = comparable_name(host.substr(0, colon));
    if (colon != std::string_view::npos) port_text = host.substr(colon + 1);
    if (name.empty()) return false;
  }
  if (port_text.empty()) {
    if (port != 80 || host.back() == ':') return false;
  } else if (port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos ||
             std::stoi(std::string(port_text)) != port) {
    return false;
  }
  if (name.empty()) return true;  // an IPv6 address
  if (is_ipv4(name) || name == "localhost" || is_this_machine(name)) return true;
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return comparable_name(n) == name; });
}

std::optional<Response> refuse_on_headers(const std::map<std::string, std::string>& headers,
                                          int port, const std::vector<std::string>& names,
                                          bool in_session) {
  const auto host = headers.find("host");
  if (host == headers.end() || !host_is_allowed(host->second, port, names)) {
    return Response::text(421,
                          "Refused: this console does not answer to that name. Open it by its "
                          "address or by a name its administrator gave it.\n");
  }
  if (headers.count("transfer-encoding")) {
    return Response::text(411, "Refused: a request body must come with its length.\n");
  }
  if (const auto coding = headers.find("content-encoding");
      coding != headers.end() && lower(coding->second) != "identity") {
    return Response::text(415, "Refused: compressed request bodies are not taken.\n");
  }
  const std::size_t limit = in_session ? FrontDoorLimits::kMaxBodyInSession
                                       : FrontDoorLimits::kMaxBodyWithoutSession;
  if (const auto length = declared_length(headers); length && *length > limit) {
    return Response::text(413, "Refused: the request is larger than the console takes.\n");
  }
  return std::nullopt;
}

bool ConnectionGate::enter(const std::string& client) {
  std::lock_guard<std::mutex> hold(mutex_);
  int& mine = per_client_[client];
  if (total_ >= max_total_ || mine >= max_per_client_) {
    if (mine == 0) per_client_.erase(client);
    return false;
  }
  ++mine;
  ++total_;
  return true;
}

void ConnectionGate::leave(const std::string& client) {
  std::lock_guard<std::mutex> hold(mutex_);
  const auto it = per_client_.find(client);
  if (it == per_client_.end()) return;
  --total_;
  if (--it->second == 0) per_client_.erase(it);
}

int ConnectionGate::held() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return total_;
}

int LoginThrottle::wait_seconds(const std::string& client, double now) const {
  const auto it = records_.find(client);
  if (it == records_.end() || it->second.open_at <= now) return 0;
  // Whole seconds, rounded up; a date in days carries noise far below a millisecond.
  return static_cast<int>(std::ceil((it->second.open_at - now) * kSecondsPerDay - 1e-3));
}

void LoginThrottle::failed(const std::string& client, double now) {
  if (records_.size() >= kMaxClients && !records_.count(client)) {
    const auto oldest = std::min_element(records_.begin(), records_.end(), [](auto& a, auto& b) {
      return a.second.last < b.second.last;
    });
    records_.erase(oldest);
  }
  Record& r = records_[client];
  if (now - r.last > kForgetAfterSeconds / kSecondsPerDay) r.failures = 0;
  r.last = now;
  if (++r.failures <= kFreeFailures) return;
  const double wait = std::min(kMaxWaitSeconds, std::ldexp(1.0, r.failures - kFreeFailures - 1));
  r.open_at = now + wait / kSecondsPerDay;
}

void LoginThrottle::succeeded(const std::string& client) { records_.erase(client); }

}  // namespace sorter::console
