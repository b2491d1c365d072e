#include "sorter/console/sessions.h"

#include <random>

namespace sorter::console {

std::string random_hex(std::size_t bytes) {
  static const char* const kHex = "0123456789abcdef";
  std::random_device source;  // the system's random source (getrandom / urandom)
  std::string out;
  out.reserve(bytes * 2);
  for (std::size_t i = 0; i < bytes; ++i) {
    const unsigned b = source() & 0xFFu;
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

bool same_secret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0 && !a.empty();
}

Sessions::Sessions(std::string access_token, Random random)
    : token_(std::move(access_token)), random_(std::move(random)) {}

bool Sessions::token_matches(std::string_view token) const { return same_secret(token, token_); }

std::string Sessions::open(double now) {
  if (sessions_.size() >= kMaxSessions) {
    auto oldest = sessions_.begin();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second.opened < oldest->second.opened) oldest = it;
    }
    sessions_.erase(oldest);
  }
  std::string id = random_();
  sessions_[id] = Session{random_(), now, std::nullopt};
  return id;
}

Session* Sessions::find(std::string_view id, double now) {
  const auto it = sessions_.find(id);
  if (it == sessions_.end() || !same_secret(id, it->first)) return nullptr;
  if (now - it->second.opened > kLifetimeDays || now < it->second.opened - 1) {
    sessions_.erase(it);
    return nullptr;
  }
  return &it->second;
}

void Sessions::close(std::string_view id) {
  const auto it = sessions_.find(id);
  if (it != sessions_.end()) sessions_.erase(it);
}

}  // namespace sorter::console
