#pragma once
// Who may use the console: the access token given at start, the sessions opened with it or
// with a teacher's account (a random identifier in an HttpOnly, SameSite=Strict cookie), and
// each session's token for forms, which every state-changing request must carry. A session
// ends after an idle time and, however busy, after its lifetime.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sorter::console {

// n bytes from the system's random source, as 2n lower-case hex digits.
std::string random_hex(std::size_t bytes);

// Compares two secrets in a time that does not depend on where they differ.
bool same_secret(std::string_view a, std::string_view b);

struct Notice {
  bool ok = true;
  std::string html;  // already escaped
};

struct Session {
  std::string csrf;
  std::string teacher;           // the account's name; empty for a login with the token
  double opened = 0;             // automation date
  double used = 0;               // automation date of its last request
  std::optional<Notice> notice;  // shown once by the next page
};

// How long a session lives, in days: without a request, and at most from its login.
struct SessionTimes {
  double idle_days = 30.0 / (24 * 60);
  double lifetime_days = 0.5;
};

class Sessions {
 public:
  using Random = std::function<std::string()>;  // a fresh 128-bit secret as hex
  static constexpr std::size_t kMaxSessions = 64;

  explicit Sessions(
      std::string access_token, Random random = [] { return random_hex(16); }, SessionTimes times = {});

  bool token_matches(std::string_view token) const;
  // Opens a session; returns its identifier. The oldest session goes when there are too many.
  std::string open(double now, std::string teacher = {});
  // The live session of an identifier, if any, which counts as its use now.
  Session* find(std::string_view id, double now);
  void close(std::string_view id);
  // Ends every session of the teacher (an account removed).
  void close_teacher(std::string_view teacher);

 private:
  std::string token_;
  Random random_;
  SessionTimes times_;
  std::map<std::string, Session, std::less<>> sessions_;
};

}  // namespace sorter::console
