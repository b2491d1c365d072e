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

Sessions::Sessions(std::string access_token, Random random, SessionTimes times)
    : token_(std::move(access_token)), random_(std::move(random)), times_(times) {}

bool Sessions::token_matches(std::string_view token) const { return same_secret(token, token_); }

std::string Sessions::open(double now, std::string teacher) {
  if (sessions_.size() >= kMaxSessions) {
    auto oldest = sessions_.begin();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second.opened < oldest->second.opened) oldest = it;
    }
    sessions_.erase(oldest);
  }
  std::string id = random_();
  sessions_[id] = Session{random_(), std::move(teacher), now, now, std::nullopt};
  return id;
}

Session* Sessions::find(std::string_view id, double now) {
  const auto it = sessions_.find(id);
  if (it == sessions_.end() || !same_secret(id, it->first)) return nullptr;
  Session& s = it->second;
  if (now - s.opened > times_.lifetime_days || now - s.used > times_.idle_days ||
      now < s.used - 1) {
    sessions_.erase(it);
    return nullptr;
  }
  if (now > s.used) s.used = now;
  return &s;
}

void Sessions::close_teacher(std::string_view teacher) {
  std::erase_if(sessions_, [&](const auto& entry) { return entry.second.teacher == teacher; });
}

void Sessions::close(std::string_view id) {
  const auto it = sessions_.find(id);
  if (it != sessions_.end()) sessions_.erase(it);
}

}  // namespace sorter::console
