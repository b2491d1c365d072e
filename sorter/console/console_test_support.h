#pragma once
// Test support for the console: a store in a temporary folder with the mailboxes ann and bob,
// its log switched on, and a console over it that may be made to fail a change as a full disk
// would; the form token read off a page, and a browser's session.

#include <memory>
#include <mutex>
#include <regex>
#include <string>

#include "platform/automation_error.h"
#include "sorter/console/console.h"
#include "sorter/console/store_access.h"
#include "sorter/engine/test_store.h"

namespace sorter::console::testing {

// The store with one kind of change failing as on a full disk: `failing` names it ("move",
// "remove", "add_file", "write_setting"), empty for none.
class FaultyStore final : public StoreAccess {
 public:
  explicit FaultyStore(StoreAccess& real) : real_(real) {}
  std::string failing;

  std::vector<StoreEntry> list(const StorePath& f) const override { return real_.list(f); }
  std::vector<std::uint8_t> read(const StorePath& f, std::size_t n, bool tail) const override {
    return real_.read(f, n, tail);
  }
  void move(const StorePath& a, const StorePath& b) override { fail("move"), real_.move(a, b); }
  bool move_settled(const StorePath& a, const StorePath& b, double s, double u) override {
    return fail("move"), real_.move_settled(a, b, s, u);
  }
  std::vector<SettledMove> move_settled_each(const StorePath& a, const StorePath& b,
                                             const std::vector<std::u16string>& names, double s,
                                             double u) override {
    return fail("move"), real_.move_settled_each(a, b, names, s, u);
  }
  void remove(const StorePath& f) override { fail("remove"), real_.remove(f); }
  void add_file(const StorePath& f, const std::vector<std::uint8_t>& b) override {
    fail("add_file"), real_.add_file(f, b);
  }
  void write_time_stamp(const StorePath& f, double d) override { real_.write_time_stamp(f, d); }
  std::u16string read_setting(const StorePath& f, std::u16string_view s, std::u16string_view k,
                              std::u16string_view d) const override {
    return real_.read_setting(f, s, k, d);
  }
  void write_setting(const StorePath& f, std::u16string_view s, std::u16string_view k,
                     std::u16string_view v) override {
    fail("write_setting"), real_.write_setting(f, s, k, v);
  }

 private:
  void fail(std::string_view operation) const {
    if (failing == operation) throw platform::AutomationError(platform::errnum::kDiskFull);
  }
  StoreAccess& real_;
};

struct ConsoleRig {
  explicit ConsoleRig(const ConsoleOptions& options) : console(faulty, lock, log, options) {
    log.StartLogging(store.paths().log_file(), LogMode::kFile);
    store.add_mailbox("ann");
    store.add_mailbox("bob");
  }

  sorter::testing::TestStore store;
  std::unique_ptr<StoreAccess> access = open_local_store(testsupport::u16(store.root()));
  FaultyStore faulty{*access};
  std::mutex lock;
  EventLog log{[] { return sorter::testing::kNow; }};
  Console console;
};

// The value of the form token field on a page; empty when the page has none.
inline std::string form_token(const std::string& page) {
  std::smatch m;
  if (!std::regex_search(page, m, std::regex("name=\"csrf\" value=\"([^\"]+)\""))) return {};
  return m[1];
}

// A browser's session with a console: it logs in with the fields (the token, or a name and a
// password) and sends each request with the session's cookie, each form with its form token.
class Browser {
 public:
  Browser(Console& console, std::multimap<std::string, std::string> fields, bool secure = false)
      : console_(console), secure_(secure) {
    login = console.handle({.method = "POST", .path = "/login", .params = std::move(fields),
                            .secure = secure});
    const auto set_cookie = login.headers.find("Set-Cookie");
    if (set_cookie == login.headers.end()) return;
    cookie = set_cookie->second.substr(0, set_cookie->second.find(';'));
    csrf = form_token(send({}).body);
  }

  Response send(Request r) const {
    if (!cookie.empty()) r.headers["cookie"] = cookie;
    r.secure = secure_;
    return console_.handle(r);
  }
  Response post(std::string path, std::multimap<std::string, std::string> params = {},
                std::string from = "127.0.0.1") const {
    params.emplace("csrf", csrf);
    return send({.method = "POST", .path = std::move(path), .params = std::move(params),
                 .remote_address = std::move(from)});
  }

  Response login;
  std::string cookie, csrf;

 private:
  Console& console_;
  bool secure_;
};

}  // namespace sorter::console::testing
