// The console's pages and actions, driven request by request over a real store in a temporary
// folder: status, page content, and what changed on disk and in the log.

#include "sorter/console/console.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

#include "corvane/model/record_codec.h"
#include "sorter/console/accounts.h"
#include "sorter/console/console_test_support.h"
#include "sorter/console/email_view.h"
#include "sorter/console/front_door.h"
#include "sorter/console/notice.h"
#include "sorter/console/wire_test_support.h"
#include "sorter/engine/time_stamp.h"

namespace sorter::console {
namespace {

using sorter::testing::file_count;
using sorter::testing::kNow;
using sorter::testing::TestStore;
using testing::ConsoleRig;
using testing::form_token;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;
using Fields = std::multimap<std::string, std::string>;
using testsupport::read_text;
using testsupport::write_text;

constexpr const char* kToken = "the-access-token";
constexpr double kSecond = 1.0 / 86400;

corvane::EmailMsg mail(std::u16string from, std::u16string to, std::u16string subject) {
  corvane::EmailMsg m;
  m.emFrom = std::move(from);
  m.emTo = std::move(to);
  m.emSubject = std::move(subject);
  return m;
}

std::string bytes_of(const corvane::EmailMsg& m) {
  const auto bytes = corvane::encode_record(m);
  return std::string(bytes.begin(), bytes.end());
}

// Every regular file below the store folder but the log, as "path=bytes": what an action
// changed on disk is the difference of two of these.
std::set<std::string> files_of(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_symlink() || !e.is_regular_file() || e.path().filename() == "SortErr.log") continue;
    out.insert(fs::relative(e.path(), root).string() + "=" + read_text(e.path()));
  }
  return out;
}

// The files written ("+path=bytes") and gone ("-path=bytes") between two such sets.
std::set<std::string> changed(const std::set<std::string>& before,
                              const std::set<std::string>& after) {
  std::set<std::string> out;
  for (const auto& f : before) {
    if (!after.count(f)) out.insert("-" + f);
  }
  for (const auto& f : after) {
    if (!before.count(f)) out.insert("+" + f);
  }
  return out;
}

// The notice a page shows, as "good: text" or "bad: text"; empty when it shows none.
std::string notice_of(const std::string& page) {
  std::smatch m;
  static const std::regex notice("<p class=\"notice (good|bad)\" role=\"status\">([\\s\\S]*?)</p>");
  return std::regex_search(page, m, notice) ? m[1].str() + ": " + m[2].str() : "";
}

// A header of an answer; empty when it has none.
std::string header(const Response& r, const char* name) {
  const auto it = r.headers.find(name);
  return it == r.headers.end() ? "" : it->second;
}

class ConsoleTest : public ::testing::Test {
 public:
  ~ConsoleTest() override { if (writer >= 0) ::close(writer); }

  ConsoleOptions options() {
    ConsoleOptions o;
    o.access_token = kToken;
    o.clock = [this] { return clock_now; };
    // Counting down, so that the oldest session is not the first by name.
    o.random = [this] { return "secret" + std::to_string(999 - secrets++); };
    o.delivery = [this] { return delivery; };
    o.sorter_running = [this] { return sorter_running; };
    return o;
  }

  Response send(Request r) {
    if (!cookie.empty()) r.headers["cookie"] = cookie;
    return console.handle(r);
  }
  Response get(std::string path, Fields params = {}) {
    return send({.path = std::move(path), .params = std::move(params)});
  }
  // A form of the console's own page, sent as a browser sends it.
  Response post(std::string path, Fields params = {}) {
    if (!csrf.empty()) params.emplace("csrf", csrf);
    return send({.method = "POST", .path = std::move(path), .params = std::move(params),
                 .headers = {{"origin", "http://127.0.0.1:8080"}, {"host", "127.0.0.1:8080"}}});
  }

  // Logs in with the token, keeping the new session's cookie and form token; answers the login.
  Response log_in() {
    const Response answer =
        send({.method = "POST", .path = "/login", .params = {{"token", kToken}}});
    EXPECT_EQ(answer.status, 303);
    cookie = header(answer, "Set-Cookie").substr(0, header(answer, "Set-Cookie").find(';'));
    csrf = form_token(get("/").body);
    EXPECT_NE(csrf, "");
    return answer;
  }

  // A file below the store folder, last written a minute ago unless fresh.
  void put(const std::string& path, const std::string& bytes, bool fresh = false) {
    write_text(store.root() / path, bytes);
    if (fresh) return;
    fs::last_write_time(store.root() / path,
                        fs::file_time_type::clock::now() - std::chrono::minutes(1));
  }
  fs::path buffered(const std::string& user, const std::string& name, const corvane::EmailMsg& m) {
    put("MailBox/" + user + "/Buffer/" + name, bytes_of(m));  // settled, as a round delivers
    return store.root() / "MailBox" / user / "Buffer" / name;
  }

  // The page the browser lands on after an action.
  std::string after(const Response& action) {
    EXPECT_EQ(action.status, 303) << action.body;
    return get(header(action, "Location")).body;
  }

  std::string log_text() { return read_text(store.root() / "Error" / "SortErr.log"); }

  int secrets = 0;
  int writer = -1;  // a descriptor that holds a file open for writing
  double clock_now = kNow;
  std::optional<DeliveryStatus> delivery;
  std::optional<bool> sorter_running;
  ConsoleRig rig{options()};
  TestStore& store = rig.store;
  std::unique_ptr<StoreAccess>& access = rig.access;
  EventLog& log = rig.log;
  Console& console = rig.console;
  std::string cookie;
  std::string csrf;
};

// ---- access ----

// A request the console turns away: the answer, and nothing changed, logged or handed out.
struct Refused {
  std::string what;  // names the case
  std::string method;
  std::string path;
  bool session;  // sent with the cookie and form token of a session opened with the token
  Fields params;
  std::map<std::string, std::string> headers;
  int status;
  std::string answer;  // where a redirect leads, else text of the answer
};

void PrintTo(const Refused& c, std::ostream* os) { *os << c.method << ' ' << c.path; }

const Fields kRelease{{"box", "ann"}, {"file", "a.eml"}};

const Refused kRefused[] = {
    {"page_mailboxes", "GET", "/mailboxes", false, {}, {}, 303, "/login"},
    {"page_buffer", "GET", "/buffer", false, {}, {}, 303, "/login"},
    {"page_errors", "GET", "/errors", false, {}, {}, 303, "/login"},
    {"page_log", "GET", "/log", false, {}, {}, 303, "/login"},
    {"page_lessons", "GET", "/lessons", false, {}, {}, 303, "/login"},
    {"token_empty", "POST", "/login", false, {{"token", ""}}, {}, 403, "not the console"},
    {"token_wrong", "POST", "/login", false, {{"token", "wrong"}}, {}, 403, "not the console"},
    {"token_prefix", "POST", "/login", false, {{"token", "the-access-toke"}}, {}, 403,
     "not the console"},
    {"token_longer", "POST", "/login", false, {{"token", "the-access-tokenX"}}, {}, 403,
     "not the console"},
    {"change_from_another_site", "POST", "/buffer/release", true, kRelease,
     {{"origin", "http://evil.example"}, {"host", "127.0.0.1:8080"}}, 403, "another site"},
    {"login_from_another_site", "POST", "/login", false, {{"token", kToken}},
     {{"origin", "http://evil.example"}, {"host", "127.0.0.1:8080"}}, 403, "another site"},
    {"change_from_sandboxed_frame", "POST", "/buffer/release", true, kRelease,
     {{"origin", "null"}, {"host", "127.0.0.1:8080"}}, 403, "another site"},
    {"change_from_a_frame_of_another_site", "POST", "/buffer/release", true, kRelease,
     {{"origin", "null"}, {"sec-fetch-site", "cross-site"}, {"host", "127.0.0.1:8080"}}, 403,
     "another site"},
    {"change_from_a_sibling_site", "POST", "/buffer/release", true, kRelease,
     {{"origin", "null"}, {"sec-fetch-site", "same-site"}, {"host", "127.0.0.1:8080"}}, 403,
     "another site"},
    {"change_from_the_consoles_name_on_another_port", "POST", "/buffer/release", true, kRelease,
     {{"origin", "http://127.0.0.1:8081"}, {"host", "127.0.0.1:8080"}}, 403, "another site"},
    {"change_by_get", "GET", "/buffer/release", true, kRelease, {}, 405, "Method not allowed"},
    {"unknown_page", "GET", "/nothing", true, {}, {}, 404, "No such page"},
};

// Each refusal holds however the request comes: in-process, over HTTP, over HTTPS.
class ConsoleAccess : public ConsoleTest,
                      public ::testing::WithParamInterface<std::tuple<Refused, testing::Wire>> {};

TEST_P(ConsoleAccess, IsRefusedAndChangesNothing) {
  const Refused& c = std::get<0>(GetParam());
  const testing::WireConsole wire(console, std::get<1>(GetParam()));
  const fs::path file = buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  if (c.session) log_in();
  Request r{.method = c.method, .path = c.path, .params = c.params, .headers = c.headers};
  if (!r.headers.count("host")) r.headers["host"] = "127.0.0.1:8080";
  if (c.session) r.params.emplace("csrf", csrf);
  if (c.session) r.headers["cookie"] = cookie;
  const Response answer = wire.send(r);
  EXPECT_EQ(answer.status, c.status);
  if (c.status == 303) {
    EXPECT_EQ(header(answer, "Location"), c.answer);
  } else {
    EXPECT_THAT(answer.body, HasSubstr(c.answer));
  }
  EXPECT_EQ(answer.headers.count("Set-Cookie"), 0u);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(file_count(store.root() / "MailBox" / "ann" / "Inbox"), 0u);
  EXPECT_EQ(log_text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ConsoleAccess,
    ::testing::Combine(::testing::ValuesIn(kRefused),
                       ::testing::Values(testing::Wire::kInProcess, testing::Wire::kHttp,
                                         testing::Wire::kHttps)),
    [](const auto& info) {
      return std::get<0>(info.param).what + "_" + testing::name_of(std::get<1>(info.param));
    });

// ---- sessions and form tokens ----

// Whether a cookie names a live session, for the pages and for the server's check before a body.
bool live(ConsoleTest& t, const std::string& cookie) {
  t.cookie = cookie;
  const bool before_body = t.console.in_session({.headers = {{"cookie", cookie}}});
  EXPECT_EQ(before_body, t.get("/").status == 200) << cookie;
  return before_body;
}

TEST_F(ConsoleTest, EachLoginOpensAFreshStrictSessionAndLogoutEndsThatOne) {
  cookie = "corvane_console=planted";  // set by someone else: never taken over
  const Response login = log_in();
  EXPECT_EQ(header(login, "Location"), "/");
  EXPECT_EQ(header(login, "Set-Cookie"),
            "corvane_console=secret999; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_TRUE(csrf != "secret999" && csrf != kToken) << csrf;
  const std::string first_cookie = cookie, first_csrf = csrf;
  log_in();  // again, from the same browser
  EXPECT_TRUE(cookie != first_cookie && csrf != first_csrf);

  const std::string second_cookie = cookie;
  const Response logout = post("/logout");
  EXPECT_EQ(header(logout, "Location"), "/login");
  EXPECT_EQ(header(logout, "Set-Cookie"),
            "corvane_console=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
  for (const std::string& refused : {second_cookie, "corvane_console=" + first_csrf,
                                     std::string("corvane_console=planted"), "x" + first_cookie}) {
    EXPECT_FALSE(live(*this, refused));
    EXPECT_EQ(header(get("/"), "Location"), "/login");
    const Response change = post("/monitoring", {{"value", "on"}});
    EXPECT_EQ(change.status, 403);
    EXPECT_EQ(change.body, "Not logged in: open /login and log in.\n");
  }
  EXPECT_TRUE(live(*this, "theme=dark; " + first_cookie + "; lang=fr"));
  EXPECT_FALSE(fs::exists(store.root() / "Sorter.ini"));
  EXPECT_EQ(get("/").headers,
            (std::multimap<std::string, std::string>{
                {"Cache-Control", "no-store"},
                {"Content-Security-Policy",
                 "default-src 'none'; img-src 'self'; style-src 'self' 'unsafe-inline'; "
                 "script-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"},
                {"Referrer-Policy", "no-referrer"},
                {"X-Content-Type-Options", "nosniff"},
                {"X-Frame-Options", "DENY"}}));

  cookie.clear();  // what the login page needs comes without a session
  const Response css = get("/style.css");
  EXPECT_EQ(css.status, 200);
  EXPECT_EQ(css.content_type, "text/css; charset=utf-8");
  EXPECT_EQ(header(css, "Cache-Control"), "max-age=3600");
}

// A session ends after 30 minutes without a request and, however busy, twelve hours after its
// login, by the console's clock; a clock put back by more than a day ends it too, and an
// ended session stays ended. Each row is one session: the minutes after its login at which it
// is used, and whether it is still live then.
TEST_F(ConsoleTest, ASessionEndsWhenIdleOrTwelveHoursAfterItsLogin) {
  constexpr double kMinute = 60 * kSecond;
  const auto every = [](double step, double until) {
    std::vector<std::pair<double, bool>> uses;
    for (double at = step; at < until; at += step) uses.emplace_back(at, true);
    return uses;
  };
  auto busy = every(25, 12 * 60);
  busy.insert(busy.end(), {{12 * 60 - 1.0 / 60, true}, {12 * 60 + 1.0 / 60, false}});
  const struct {
    const char* what;
    std::vector<std::pair<double, bool>> uses;
  } cases[] = {
      {"used every 25 minutes", busy},
      {"idle just under 30 minutes, twice", {{30 - 1.0 / 60, true}, {60 - 2.0 / 60, true}}},
      {"idle 30 minutes", {{30 + 1.0 / 60, false}, {30 + 2.0 / 60, false}, {1, false}}},
      {"clock put back by most of a day", {{-24 * 60 + 1, true}, {1, true}}},
      {"clock put back by more than a day", {{-24 * 60 - 1, false}, {0, false}}},
  };
  for (const auto& c : cases) {
    clock_now = kNow;
    log_in();
    const std::string session = cookie;
    for (const auto& [at, alive] : c.uses) {
      clock_now = kNow + at * kMinute;
      EXPECT_EQ(live(*this, session), alive) << c.what << ", at " << at << " min";
    }
  }
}

TEST_F(ConsoleTest, AFullSessionTableGivesUpItsOldestSession) {
  std::vector<std::string> sessions;
  for (int i = 0; i <= 64; ++i) {
    clock_now = kNow + i * kSecond;
    log_in();
    sessions.push_back(cookie);
  }
  EXPECT_FALSE(live(*this, sessions[0]));
  for (std::size_t i = 1; i < sessions.size(); ++i) EXPECT_TRUE(live(*this, sessions[i])) << i;
}

// Every form on every page carries the session's own form token; a change sent without it, or
// with anything else in its place, is refused whatever it asks, and changes nothing.
TEST_F(ConsoleTest, EveryFormCarriesTheSessionsTokenAndEveryChangeNeedsIt) {
  log_in();
  const std::string other_csrf = csrf;
  log_in();
  put("MailBox/ann/Buffer/a.eml", "A");
  put("Error/a.eml", "A");
  put("MailBox/ann/Client.ini", "[Errors]\r\nStatus=1\r\n");
  const std::regex form("<form method=\"post\""), tokened("<form method=\"post\"[^>]*><input "
                        "type=\"hidden\" name=\"csrf\" value=\"" + csrf + "\">");
  for (const auto& [path, forms] : {std::pair{"/", 2}, {"/mailboxes", 2}, {"/buffer", 5},
                                    {"/errors", 3}, {"/log", 1}, {"/lessons", 3}}) {
    const std::string page = get(path).body;
    const auto count = [&](const std::regex& re) {
      return std::distance(std::sregex_iterator(page.begin(), page.end(), re), {});
    };
    EXPECT_EQ(count(form), forms) << path;
    EXPECT_EQ(count(tokened), forms) << path;
  }
  const auto files = files_of(store.root());
  for (const char* action : {"/monitoring", "/mailboxes/clear-flag", "/buffer/release",
                             "/buffer/release-all", "/buffer/reject", "/buffer/reject-all",
                             "/buffer/discard", "/errors/retry", "/errors/delete",
                             "/lessons/show", "/lessons/import", "/logout"}) {
    for (const std::string& token : {std::string(), std::string("x"), csrf + "x", csrf.substr(1),
                                     other_csrf, cookie.substr(16), std::string(kToken)}) {
      Request r{.method = "POST", .path = action,
                .params = {{"value", "on"}, {"box", "ann"}, {"file", "a.eml"}},
                .files = {{"csv", {"a.csv", "1,a,b,c\r\n"}}, {"lesson", {"l.dat", "x"}}}};
      if (!token.empty()) r.params.emplace("csrf", token);
      const Response answer = send(r);
      EXPECT_EQ(answer.status, 403) << action << " with " << token;
      EXPECT_EQ(answer.body, "Refused: the form's token is missing or out of date. Reload the "
                             "page and try again.\n");
    }
  }
  EXPECT_EQ(files_of(store.root()), files);
  EXPECT_EQ(log_text(), "");
  EXPECT_EQ(notice_of(get("/").body), "");
  EXPECT_TRUE(live(*this, cookie)) << "not logged out";
}

// Guessing the token: a few wrong tries cost nothing, then each one closes the door to that
// computer for longer, whatever it sends meanwhile, right token included; other computers and
// a quiet hour are not affected.
TEST_F(ConsoleTest, WrongTokensSlowDownTheComputerThatSendsThem) {
  const auto try_token = [&](const std::string& token, const std::string& from) {
    return console.handle(
        {.method = "POST", .path = "/login", .params = {{"token", token}}, .remote_address = from});
  };
  for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(try_token("wrong", "10.0.0.7").status, 403) << i;
  }
  EXPECT_EQ(try_token("wrong", "10.0.0.7").status, 403);  // the first that costs a wait
  const Response held = try_token(kToken, "10.0.0.7");
  EXPECT_EQ(held.status, 429);
  EXPECT_THAT(held.body, HasSubstr("wait 1 seconds"));
  EXPECT_EQ(header(held, "Retry-After"), "1");
  EXPECT_EQ(try_token(kToken, "10.0.0.8").status, 303) << "another computer";

  int waited = 0;
  for (int i = 0; i < 12; ++i) {  // each wrong token doubles the wait, up to a minute
    clock_now += 61 * kSecond;
    ASSERT_EQ(try_token("wrong", "10.0.0.7").status, 403);
    const Response r = try_token("wrong", "10.0.0.7");
    ASSERT_EQ(r.status, 429);
    waited = std::stoi(header(r, "Retry-After"));
  }
  EXPECT_EQ(waited, 60);
  clock_now += 30 * kSecond;
  EXPECT_EQ(try_token(kToken, "10.0.0.7").status, 429);
  clock_now += 31 * kSecond;
  EXPECT_EQ(try_token(kToken, "10.0.0.7").status, 303);
  EXPECT_EQ(try_token("wrong", "10.0.0.7").status, 403) << "a right token wipes the slate";

  // The addresses of one IPv6 network count as one computer.
  for (int i = 0; i <= LoginThrottle::kFreeFailures; ++i) {
    try_token("wrong", "2001:db8:1:2::" + std::to_string(i + 1));
  }
  EXPECT_EQ(try_token(kToken, "2001:db8:1:2::99").status, 429);
  EXPECT_EQ(try_token(kToken, "2001:db8:1:3::1").status, 303);
  clock_now += 3601 * kSecond;
  for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(try_token("wrong", "2001:db8:1:2::1").status, 403) << "forgotten after an hour";
  }
}

// ---- teachers' accounts ----

constexpr const char* kPassword = "a long password";

// The names of a page's input fields but the form token, in their order.
std::string fields_of(const std::string& page) {
  std::string out;
  static const std::regex input("<input name=\"([a-z]+)\"");
  for (std::sregex_iterator it(page.begin(), page.end(), input), end; it != end; ++it) {
    out += (out.empty() ? "" : " ") + (*it)[1].str();
  }
  return out;
}

// The token is a way in on a loopback address, and anywhere before the first account exists;
// once there is one, a name and its password are, and a wrong one of either costs a wait as a
// wrong token does.
TEST_F(ConsoleTest, TheTokenAndTheAccountsEachOpenTheDoorWhereTheyShould) {
  ::testsupport::TempDir dir;
  const std::string users = (dir / "users").string();
  const std::string hash = hash_password(kPassword);
  const struct {
    const char* what;
    bool loopback;
    bool accounts;
    const char* fields;  // on the login page
    int token_status;
  } cases[] = {
      {"loopback, no account", true, false, "token", 303},
      {"loopback, accounts", true, true, "name password token", 303},
      {"network, no account", false, false, "token", 303},
      {"network, accounts", false, true, "name password", 403},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(users);
    if (c.accounts) set_account(users, "ms.lee", hash);
    ConsoleOptions o = options();
    o.users_file = users;
    o.token_with_accounts = c.loopback;
    ConsoleRig own(o);
    const auto login = [&](Fields fields, const std::string& from = "10.0.0.9") {
      return own.console.handle(
          {.method = "POST", .path = "/login", .params = std::move(fields), .remote_address = from});
    };
    EXPECT_EQ(fields_of(own.console.handle({.path = "/login"}).body), c.fields) << c.what;
    const Response token = login({{"token", kToken}});
    EXPECT_EQ(token.status, c.token_status) << c.what;
    EXPECT_EQ(token.headers.count("Set-Cookie"), c.token_status == 303 ? 1u : 0u) << c.what;
    if (c.token_status == 403) {
      EXPECT_THAT(token.body, HasSubstr("Log in with your name and password.")) << c.what;
    }
    if (!c.accounts) continue;
    const Response teacher = login({{"name", "ms.lee"}, {"password", kPassword}});
    EXPECT_EQ(teacher.status, 303) << c.what;
    EXPECT_THAT(header(teacher, "Set-Cookie"), HasSubstr("; HttpOnly; SameSite=Strict"));
    for (const Fields& wrong : {Fields{{"name", "ms.lee"}, {"password", "a long passwor"}},
                                Fields{{"name", "mr.lee"}, {"password", kPassword}},
                                Fields{{"name", "ms.lee"}}}) {
      const Response refused = login(wrong, "10.0.0.7");
      EXPECT_EQ(refused.status, 403) << c.what;
      EXPECT_THAT(refused.body, HasSubstr("Wrong name or password.")) << c.what;
      EXPECT_EQ(refused.headers.count("Set-Cookie"), 0u);
    }
    for (int i = 3; i <= LoginThrottle::kFreeFailures; ++i) login({{"name", "x"}}, "10.0.0.7");
    EXPECT_EQ(login({{"name", "ms.lee"}, {"password", kPassword}}, "10.0.0.7").status, 429)
        << c.what << ": wrong passwords slow the computer down";
  }
}

// What a teacher does is logged under her name; her cookie is Secure when she came over
// HTTPS; removing her account ends her sessions at their next request, and no one else's.
TEST_F(ConsoleTest, ATeachersSessionNamesHerAndEndsWithHerAccount) {
  ::testsupport::TempDir dir;
  const std::string users = (dir / "users").string();
  set_account(users, "ms.lee", hash_password(kPassword));
  ConsoleOptions o = options();
  o.users_file = users;
  ConsoleRig own(o);
  const testing::Browser teacher(own.console, {{"name", "ms.lee"}, {"password", kPassword}}, true),
      token(own.console, {{"token", kToken}});
  EXPECT_TRUE(header(teacher.login, "Set-Cookie").ends_with("; Secure"));
  EXPECT_FALSE(header(token.login, "Set-Cookie").ends_with("; Secure"));
  EXPECT_EQ(teacher.post("/monitoring", {{"value", "on"}}, "10.0.0.5").status, 303);
  EXPECT_EQ(header(token.post("/logout"), "Set-Cookie"),
            "corvane_console=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
  const testing::Browser still(own.console, {{"token", kToken}});
  EXPECT_THAT(read_text(own.store.root() / "Error" / "SortErr.log"),
              HasSubstr("Store console (ms.lee, 10.0.0.5): monitoring switched on"));
  const auto page = [&](const std::string& cookie) {
    return own.console.handle({.path = "/", .headers = {{"cookie", cookie}}});
  };

  remove_account(users, "ms.lee");
  EXPECT_FALSE(own.console.in_session({.headers = {{"cookie", teacher.cookie}}}));
  EXPECT_EQ(header(page(teacher.cookie), "Location"), "/login");
  set_account(users, "ms.lee", hash_password(kPassword));
  EXPECT_EQ(header(page(teacher.cookie), "Location"), "/login") << "an ended session stays ended";
  EXPECT_EQ(page(still.cookie).status, 200);
}

// ---- overview and monitoring ----

TEST_F(ConsoleTest, OverviewShowsDeliveryWaitingMailCountsLatestLogEntriesAndTheStoreLock) {
  log_in();
  write_text(store.drop() / "<b>waiting.eml", "x");
  buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  log.LogEvent(u"Email sent with no sender information! <img src=x>", EventType::kWarning);
  delivery = DeliveryStatus{kNow, RoundReport{3, 1, 0, 2, 0}, 10};

  const std::string page = get("/").body;
  EXPECT_THAT(page, HasSubstr("Delivery running"));
  EXPECT_THAT(page, HasSubstr("3 delivered, 1 to Error, 0 deleted, 2 waiting, 0 stuck"));
  EXPECT_THAT(page, HasSubstr("Monitoring off"));
  EXPECT_THAT(page, HasSubstr("no sender information! &lt;img src=x&gt;"));
  EXPECT_THAT(page, Not(HasSubstr("<img src=x>")));
  EXPECT_THAT(page, Not(HasSubstr("delivery seems to have stopped")));

  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  fs::last_write_time(store.drop() / "<b>waiting.eml", old);
  EXPECT_THAT(get("/").body, HasSubstr("has waited 5 min: delivery seems to have stopped"));

  EXPECT_THAT(page, HasSubstr("name=\"value\" value=\"on\"><button>Turn monitoring on<"));
  put("Sorter.ini", "[Monitoring]\r\nvalue=True\r\n");
  EXPECT_THAT(get("/").body, AllOf(HasSubstr(">Monitoring on</span>"),
                                   HasSubstr("value=\"off\"><button>Turn monitoring off<")));

  // Without a sorter in this process, what the store's lock says.
  delivery.reset();
  EXPECT_THAT(get("/").body, HasSubstr("Delivery unknown"));
  sorter_running = true;
  EXPECT_THAT(get("/").body, HasSubstr("A sorter holds the store's lock"));
  sorter_running = false;
  EXPECT_THAT(get("/").body, HasSubstr("Delivery stopped"));
}

// ---- buffer review ----

TEST_F(ConsoleTest, BufferShowsEachEmailAsTheRecipientSeesItWithStoreTextEscaped) {
  log_in();
  corvane::EmailMsg m = mail(u"bob", u"ann", u"<script>alert(1)</script>");
  corvane::MsgText box;
  box.X = 1500;
  box.Y = 300;
  box.Width = 3000;
  box.Height = 600;
  box.Colour = 0x0000FF;  // red, stored as 0x00BBGGRR
  box.Font.FontName = u"Comic Sans MS";
  box.Font.Size = 14;
  box.Font.Bold = corvane::kTrue;
  box.Font.Italic = corvane::kTrue;
  box.Value = u"Dear Ann,\r\n</div><script>steal()</script>";
  m.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0, {box});
  corvane::MsgPicture png;
  png.FileName = u"cat.png";
  png.X = 150;
  png.Y = 1500;
  const std::string magic = "\x89PNG\r\n\x1a\n....";
  png.Value = corvane::List<uint8_t>::sized(0, std::vector<uint8_t>(magic.begin(), magic.end()));
  corvane::MsgPicture svg;
  svg.FileName = u"x.svg";
  const std::string svg_text = "<svg onload=alert(1)>";
  svg.Value =
      corvane::List<uint8_t>::sized(0, std::vector<uint8_t>(svg_text.begin(), svg_text.end()));
  m.emMsg.Pictures = corvane::List<corvane::MsgPicture>::sized(0, {png, svg});
  buffered("ann", "it's <1>.eml", m);
  updateTime(testsupport::u16(store.root() / "MailBox" / "ann" / "Buffer" / "timeStamp.dat"), kNow);

  const std::string page = get("/buffer").body;
  EXPECT_THAT(page, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_THAT(page, HasSubstr("&lt;/div&gt;&lt;script&gt;steal()"));
  EXPECT_THAT(page, Not(HasSubstr("<script>alert")));
  EXPECT_THAT(page, Not(HasSubstr("<script>steal")));
  EXPECT_THAT(page, Not(HasSubstr("<svg")));
  EXPECT_THAT(page, HasSubstr("it&#39;s &lt;1&gt;.eml"));
  EXPECT_THAT(page, HasSubstr("left:100px;top:20px;width:200px;height:40px;color:#ff0000;"
                              "font-size:14pt;font-weight:700;font-family:'Comic Sans MS',"
                              "sans-serif;font-style:italic;"));
  EXPECT_THAT(page, HasSubstr("src=\"/picture?box=ann&amp;file=it%27s%20%3C1%3E.eml&amp;n=0\""));
  EXPECT_THAT(page, HasSubstr("not an image a browser shows"));
  EXPECT_THAT(page, Not(HasSubstr("timeStamp.dat")));

  const Response picture = get("/picture", {{"box", "ann"}, {"file", "it's <1>.eml"}, {"n", "0"}});
  EXPECT_EQ(picture.status, 200);
  EXPECT_EQ(picture.content_type, "image/png");
  EXPECT_EQ(picture.body, magic);
  EXPECT_EQ(get("/picture", {{"box", "ann"}, {"file", "it's <1>.eml"}, {"n", "1"}}).status, 404);
  EXPECT_EQ(get("/picture", {{"box", "ann"}, {"file", "../Inbox/x"}, {"n", "0"}}).status, 404);
}

TEST_F(ConsoleTest, HugeTextsAreCutOnThePage) {
  log_in();
  corvane::EmailMsg m = mail(u"bob", u"ann", std::u16string(60000, u'S'));
  corvane::MsgText box;
  box.Value = std::u16string(25000, u'x');
  m.emMsg.Texts =
      corvane::List<corvane::MsgText>::sized(0, std::vector<corvane::MsgText>(250, box));
  buffered("ann", "big.eml", m);
  const std::string page = get("/buffer").body;
  EXPECT_THAT(page, HasSubstr("40000 more characters not shown"));
  EXPECT_THAT(page, HasSubstr("5000 more characters not shown"));
  EXPECT_THAT(page, HasSubstr("250 text boxes and 0 pictures; the first 200"));
  EXPECT_LT(page.size(), 5u * 1024 * 1024);
}

TEST_F(ConsoleTest, NamesFromRequestsAreOnlyMatchedAgainstListedNames) {
  log_in();
  write_text(store.root() / "MailBox" / "ann" / "Sorter.ini", "x");
  const fs::path a = buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  updateTime(testsupport::u16(store.root() / "MailBox" / "ann" / "Buffer" / "timeStamp.dat"), kNow);
  const std::multimap<std::string, std::string> attempts[] = {
      {{"box", "../MailBox/ann"}, {"file", "a.eml"}},
      {{"box", "ann"}, {"file", "../Buffer/a.eml"}},
      {{"box", "ann"}, {"file", "../Sorter.ini"}},
      {{"box", "ann/Buffer/.."}, {"file", "a.eml"}},
      {{"box", "ANN"}, {"file", "a.eml"}},
      {{"box", "ann"}, {"file", "A.EML"}},
      {{"box", "ann"}, {"file", "timeStamp.dat"}},
  };
  for (const auto& params : attempts) {
    const std::string page = after(post("/buffer/release", params));
    EXPECT_THAT(page, Not(HasSubstr("Released")));
  }
  for (const char* name : {"../Sorter.ini", "../MailBank", "SortErr.log"}) {
    after(post("/errors/delete", {{"file", name}}));
    after(post("/errors/retry", {{"file", name}}));
  }
  EXPECT_TRUE(fs::exists(a));
  EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "ann" / "Sorter.ini"));
  EXPECT_EQ(file_count(store.root() / "MailBox" / "ann" / "Inbox"), 0u);
  EXPECT_EQ(log_text(), "");
}

TEST_F(ConsoleTest, MailBoxMayBeALinkTheAdministratorMade) {
  log_in();
  testsupport::TempDir elsewhere;
  fs::rename(store.root() / "MailBox", elsewhere / "boxes");
  fs::create_directory_symlink(elsewhere / "boxes", store.root() / "MailBox");
  buffered("ann", "a.eml", mail(u"bob", u"ann", u"Through the link"));
  EXPECT_THAT(get("/buffer").body, HasSubstr("Through the link"));
  after(post("/buffer/release", {{"box", "ann"}, {"file", "a.eml"}}));
  EXPECT_TRUE(fs::exists(elsewhere / "boxes" / "ann" / "Inbox" / "a.eml"));
}

TEST_F(ConsoleTest, LinksInMailboxesAreNeitherShownNorFollowed) {
  log_in();
  testsupport::TempDir outside;
  write_text(outside / "secret.eml", bytes_of(mail(u"x", u"ann", u"OUTSIDE SECRET")));
  fs::create_directory_symlink(outside.path(), store.root() / "MailBox" / "eve");
  fs::create_symlink(outside / "secret.eml", store.root() / "MailBox" / "ann" / "Buffer" / "l.eml");
  fs::remove_all(store.root() / "MailBox" / "bob" / "Inbox");
  fs::create_directory_symlink(outside.path(), store.root() / "MailBox" / "bob" / "Inbox");
  buffered("bob", "b.eml", mail(u"ann", u"bob", u"Hi"));

  EXPECT_THAT(get("/buffer").body, Not(HasSubstr("OUTSIDE SECRET")));
  EXPECT_THAT(get("/mailboxes").body, Not(HasSubstr("eve")));
  after(post("/buffer/release", {{"box", "ann"}, {"file", "l.eml"}}));
  after(post("/buffer/release", {{"box", "bob"}, {"file", "b.eml"}}));
  EXPECT_TRUE(fs::exists(outside / "secret.eml"));
  EXPECT_EQ(file_count(outside.path()), 1u);
  EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "bob" / "Buffer" / "b.eml"));
}

// Reads go through one handle opened beneath the confined folder: a file swapped for a link
// after it was listed, a folder that is a link, or a FIFO give an error and no bytes.
TEST_F(ConsoleTest, StoreReadsNeverFollowALinkNorBlock) {
  testsupport::TempDir outside;
  write_text(outside / "secret.eml", "OUTSIDE SECRET");
  const fs::path buffer = store.root() / "MailBox" / "ann" / "Buffer";
  write_text(buffer / "a.eml", "0123456789");
  const StorePath a{u"MailBox", u"ann", u"Buffer", u"a.eml"};
  const auto text = [](const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); };
  EXPECT_EQ(text(access->read(a, 4)), "0123");
  EXPECT_EQ(text(access->read(a, 4, true)), "6789");
  EXPECT_EQ(text(access->read(a, 100, true)), "0123456789");

  const auto error_of = [&](const StorePath& p) {
    try {
      access->read(p, 100);
    } catch (const platform::AutomationError& e) {
      return std::make_pair(e.number(), e.description());
    }
    return std::make_pair(0, std::u16string());
  };
  // Swapped back and forth between a file and a link while reads go on: a read gives the
  // file or an error, never what the link names.
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    std::error_code ec;
    while (!stop) {
      fs::create_symlink(outside / "secret.eml", buffer / "l.tmp", ec);
      fs::rename(buffer / "l.tmp", buffer / "a.eml", ec);
      write_text(buffer / "p.tmp", "0123456789");
      fs::rename(buffer / "p.tmp", buffer / "a.eml", ec);
    }
  });
  int secrets_read = 0;
  for (int i = 0; i < 3000; ++i) {
    try {
      secrets_read += text(access->read(a, 100)) == "OUTSIDE SECRET";
    } catch (const platform::AutomationError&) {
    }
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(secrets_read, 0);

  fs::remove(buffer / "a.eml");
  fs::create_symlink(outside / "secret.eml", buffer / "a.eml");
  EXPECT_EQ(error_of(a), std::make_pair(75, std::u16string(platform::kLinkRefusedText)));
  fs::create_directory_symlink(outside.path(), store.root() / "MailBox" / "eve");
  EXPECT_EQ(error_of({u"MailBox", u"eve", u"secret.eml"}).first, 75);
  ASSERT_EQ(::mkfifo((buffer / "f.eml").c_str(), 0600), 0);
  EXPECT_EQ(error_of({u"MailBox", u"ann", u"Buffer", u"f.eml"}).first, 53);
  EXPECT_EQ(error_of({u"MailBox", u"ann", u"Buffer", u"gone.eml"}).first, 53);
}

// ---- error folder ----

TEST_F(ConsoleTest, ErrorFolderShowsEachFilesLogEntryAndDump) {
  log_in();
  const fs::path error = store.root() / "Error";
  write_text(error / "lost.eml", bytes_of(mail(u"bob", u"nobody", u"Where <are> you")));
  log.LogEvent(u"Email sent to non-existant recipient!  From: bob; To: nobody", EventType::kWarning);
  // Damaged: the first body list claims two dimensions.
  const std::string damaged("\0\0\0\0\0\0\0\0\0\0\0\0\2\0", 14);
  write_text(error / "bad.eml", damaged);
  const auto failure = decode_email(std::vector<uint8_t>(damaged.begin(), damaged.end())).failure;
  ASSERT_TRUE(failure);
  log.LogEvent(failure->description(), EventType::kError);

  const std::string page = get("/errors").body;
  EXPECT_THAT(page, HasSubstr("Email sent to non-existant recipient!  From: bob; To: nobody"));
  EXPECT_THAT(page, HasSubstr("emSubject: Where &lt;are&gt; you"));
  EXPECT_THAT(page, HasSubstr("Cannot be read: Bad record length: a list at byte 12"));
  EXPECT_THAT(
      page, HasSubstr("Error</code> <span class=\"logtext\">Bad record length: a list at byte 12"));
  EXPECT_THAT(page, Not(HasSubstr("SortErr.log")));
}

// ---- what each action answers ----

// One action on a prepared store: the notice the browser is shown (once) where it is sent,
// every file that changed, and the log entry written.
struct Answer {
  std::string what;
  void (*arrange)(ConsoleTest&);
  std::string failing;  // the store's change that fails, as on a full disk
  std::string action;
  Fields fields;
  std::string notice;             // "good: ..." or "bad: ..."
  std::set<std::string> changes{};  // see changed()
  std::string logged{};             // the one log entry written, "" none
};

void PrintTo(const Answer& c, std::ostream* os) { *os << c.what; }

// A request's name that names nothing: never used as a path, and shown escaped.
const std::string kHostile = "../<i>\"x'&";
const std::string kHostileShown = "&quot;../&lt;i&gt;&quot;x&#39;&amp;&quot;";
const std::string kInfo = "Info     Store console (127.0.0.1): ";
const std::string kWarning = "Warning  Store console (127.0.0.1): ";
const std::string kStamp = [] {
  const auto b = time_stamp_bytes(kNow);
  return std::string(b.begin(), b.end());
}();
const std::string kFlagged = "[Other]\r\nkey=1\r\n[Errors]\r\nStatus=1\r\n";
const std::string kNotReleased = "bad: Not released: &quot;a.eml&quot; for ann: ";
const std::string kStillWritten = "it is still being written; try again in a moment";
const std::string kNoMailbox = "bad: No mailbox named " + kHostileShown;
const std::string kNoErrorMail = "bad: The Error folder holds no e-mail named ";
const Fields kA{{"box", "ann"}, {"file", "a.eml"}}, kAnn{{"box", "ann"}};
const Fields kLost{{"file", "lost.eml"}};

void settled_a(ConsoleTest& t) { t.put("MailBox/ann/Buffer/a.eml", "A"); }

// pupil7 wrote p.eml to ann and q.eml to bob, bob wrote b.eml to ann: all held in Buffers.
const corvane::EmailMsg kP = mail(u"pupil7", u"ann", u"Hi"), kQ = mail(u"pupil7", u"bob", u"Yo"),
                        kB = mail(u"bob", u"ann", u"Hello");
void pupils_mail(ConsoleTest& t) {
  t.buffered("ann", "p.eml", kP), t.buffered("bob", "q.eml", kQ), t.buffered("ann", "b.eml", kB);
}
const std::string kNote = "Be kind.";
const Fields kPNote{{"box", "ann"}, {"file", "p.eml"}, {"note", kNote}};
std::string notice_for(const corvane::EmailMsg& m) {
  return bytes_of(rejection_notice(m, u"Store console", u"Be kind.", kNow));
}
std::string buffered_file(const std::string& box, const std::string& name,
                          const corvane::EmailMsg& m) {
  return "MailBox/" + box + "/Buffer/" + name + "=" + bytes_of(m);
}
void flagged_bob(ConsoleTest& t) { t.put("MailBox/bob/Client.ini", kFlagged); }
void lost(ConsoleTest& t) { t.put("Error/lost.eml", "L"); }
void held_open(ConsoleTest& t, const std::string& path) {
  t.writer = ::open((t.store.root() / path).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(t.writer, 0);
}

const Answer kAnswers[] = {
    {"monitoring_on", nullptr, "", "/monitoring", {{"value", "on"}},
     "good: Monitoring is on: from the next round, new mail waits in the Buffer folders.",
     {"+Sorter.ini=[Monitoring]\r\nvalue=True\r\n"},
     kInfo + "monitoring switched on: new mail is held in the Buffer folders"},
    {"monitoring_off",
     [](ConsoleTest& t) { t.put("Sorter.ini", "[Monitoring]\r\nvalue=True\r\n"); }, "",
     "/monitoring", {{"value", "off"}},
     "good: Monitoring is off: from the next round, new mail goes to the Inbox folders.",
     {"-Sorter.ini=[Monitoring]\r\nvalue=True\r\n", "+Sorter.ini=[Monitoring]\r\nvalue=False\r\n"},
     kInfo + "monitoring switched off: new mail goes to the Inbox folders"},
    {"monitoring_neither", nullptr, "", "/monitoring", {{"value", "maybe"}},
     "bad: Monitoring was not changed: say on or off."},
    {"monitoring_not_written", nullptr, "write_setting", "/monitoring", {{"value", "on"}},
     "bad: Monitoring was not changed: Disk full"},
    {"monitoring_settings_a_folder",
     [](ConsoleTest& t) { fs::create_directory(t.store.root() / "Sorter.ini"); }, "", "/monitoring",
     {{"value", "on"}}, "bad: Monitoring was not changed: The settings file was not written"},
    {"flag_cleared", flagged_bob, "", "/mailboxes/clear-flag", {{"box", "bob"}},
     "good: The error flag of bob is cleared.",
     {"-MailBox/bob/Client.ini=" + kFlagged,
      "+MailBox/bob/Client.ini=[Other]\r\nkey=1\r\n[Errors]\r\nStatus=0\r\n"},
     kInfo + "cleared the error flag of mailbox \"bob\""},
    {"flag_not_set",
     [](ConsoleTest& t) { t.put("MailBox/bob/Client.ini", "[Errors]\r\nStatus=0\r\n"); }, "",
     "/mailboxes/clear-flag", {{"box", "bob"}},
     "good: The error flag of bob was not set."},
    {"flag_not_written", flagged_bob, "write_setting", "/mailboxes/clear-flag", {{"box", "bob"}},
     "bad: The error flag of bob was not cleared: Disk full"},
    {"flag_of_no_mailbox", flagged_bob, "", "/mailboxes/clear-flag", {{"box", kHostile}},
     kNoMailbox + " is in the store."},
    {"released", settled_a, "", "/buffer/release", kA,
     "good: Released &quot;a.eml&quot; into the Inbox of ann.",
     {"-MailBox/ann/Buffer/a.eml=A", "+MailBox/ann/Inbox/a.eml=A",
      "+MailBox/ann/Inbox/timeStamp.dat=" + kStamp},
     kInfo + "released \"a.eml\" from the Buffer of \"ann\" into the Inbox"},
    {"release_into_a_taken_name",
     [](ConsoleTest& t) { settled_a(t), t.put("MailBox/ann/Inbox/A.EML", "old"); }, "",
     "/buffer/release", kA,
     kNotReleased + "the Inbox already holds a file named &quot;a.eml&quot;; nothing was "
                    "replaced."},
    {"release_of_a_fresh_closed_file",
     [](ConsoleTest& t) { t.put("MailBox/ann/Buffer/a.eml", "A", true); }, "", "/buffer/release",
     kA, "good: Released &quot;a.eml&quot; into the Inbox of ann.",
     {"-MailBox/ann/Buffer/a.eml=A", "+MailBox/ann/Inbox/a.eml=A",
      "+MailBox/ann/Inbox/timeStamp.dat=" + kStamp},
     kInfo + "released \"a.eml\" from the Buffer of \"ann\" into the Inbox"},
    {"release_of_a_fresh_empty_file",
     [](ConsoleTest& t) { t.put("MailBox/ann/Buffer/a.eml", "", true); }, "", "/buffer/release",
     kA, kNotReleased + kStillWritten + "."},
    {"release_of_an_open_file",
     [](ConsoleTest& t) { settled_a(t), held_open(t, "MailBox/ann/Buffer/a.eml"); }, "",
     "/buffer/release", kA, kNotReleased + kStillWritten + "."},
    {"release_not_moved", settled_a, "move", "/buffer/release", kA,
     kNotReleased + "Disk full (61)."},
    {"release_without_inbox",
     [](ConsoleTest& t) { settled_a(t), fs::remove(t.store.root() / "MailBox/ann/Inbox"); }, "",
     "/buffer/release", kA, kNotReleased + "the mailbox has no Inbox folder."},
    {"release_of_no_file", settled_a, "", "/buffer/release", {{"box", "ann"}, {"file", kHostile}},
     "bad: The Buffer of ann holds no file named " + kHostileShown + "."},
    {"release_from_no_mailbox", settled_a, "", "/buffer/release",
     {{"box", kHostile}, {"file", "a.eml"}}, kNoMailbox + " with a Buffer is in the store."},
    {"released_all", [](ConsoleTest& t) { t.put("MailBox/ann/Buffer/1.eml", "1"), settled_a(t); },
     "", "/buffer/release-all", kAnn, "good: Released 2 e-mail(s) into the Inbox of ann.",
     {"-MailBox/ann/Buffer/1.eml=1", "-MailBox/ann/Buffer/a.eml=A", "+MailBox/ann/Inbox/1.eml=1",
      "+MailBox/ann/Inbox/a.eml=A", "+MailBox/ann/Inbox/timeStamp.dat=" + kStamp},
     kInfo + "released 2 e-mail(s) from the Buffer of \"ann\" into the Inbox"},
    {"released_some",
     [](ConsoleTest& t) {
       t.put("MailBox/ann/Buffer/1.eml", "1"), t.put("MailBox/ann/Buffer/2.eml", "2");
       t.put("MailBox/ann/Buffer/3.eml", "", true), t.put("MailBox/ann/Inbox/2.EML", "old");
       t.put("MailBox/ann/Buffer/timeStamp.dat", kStamp);
     },
     "", "/buffer/release-all", kAnn,
     "bad: Released 1 e-mail(s) into the Inbox of ann. Not released:<br>&quot;2.eml&quot;: the "
     "Inbox already holds a file named &quot;2.eml&quot;; nothing was replaced<br>&quot;3.eml&quot;"
     ": " + kStillWritten,
     {"-MailBox/ann/Buffer/1.eml=1", "+MailBox/ann/Inbox/1.eml=1",
      "+MailBox/ann/Inbox/timeStamp.dat=" + kStamp},
     kWarning + "released 1 e-mail(s) from the Buffer of \"ann\" into the Inbox; not released: "
                "\"2.eml\": the Inbox already holds a file named \"2.eml\"; nothing was replaced; "
                "\"3.eml\": " + kStillWritten},
    {"released_all_among_names_in_other_letter_cases",
     [](ConsoleTest& t) {
       for (const char* n : {"B.eml", "a.eml", "b.eml", "c.eml"}) {
         t.put(std::string("MailBox/ann/Buffer/") + n, n);
       }
       t.put("MailBox/ann/Inbox/A.EML", "old");
     },
     "", "/buffer/release-all", kAnn,
     "bad: Released 2 e-mail(s) into the Inbox of ann. Not released:<br>&quot;a.eml&quot;: the "
     "Inbox already holds a file named &quot;a.eml&quot;; nothing was replaced<br>&quot;b.eml&quot;"
     ": the Inbox already holds a file named &quot;b.eml&quot;; nothing was replaced",
     {"-MailBox/ann/Buffer/B.eml=B.eml", "-MailBox/ann/Buffer/c.eml=c.eml",
      "+MailBox/ann/Inbox/B.eml=B.eml", "+MailBox/ann/Inbox/c.eml=c.eml",
      "+MailBox/ann/Inbox/timeStamp.dat=" + kStamp},
     kWarning + "released 2 e-mail(s) from the Buffer of \"ann\" into the Inbox; not released: "
                "\"a.eml\": the Inbox already holds a file named \"a.eml\"; nothing was replaced; "
                "\"b.eml\": the Inbox already holds a file named \"b.eml\"; nothing was replaced"},
    {"released_none", nullptr, "", "/buffer/release-all", kAnn,
     "good: Released 0 e-mail(s) into the Inbox of ann."},
    {"release_all_from_no_mailbox", settled_a, "", "/buffer/release-all", {{"box", kHostile}},
     kNoMailbox + " with a Buffer is in the store."},
    {"released_all_of_one_sender", pupils_mail, "", "/buffer/release-all", {{"sender", "pupil7"}},
     "good: Released 2 e-mail(s) from &quot;pupil7&quot; into their Inboxes.",
     {"-" + buffered_file("ann", "p.eml", kP), "-" + buffered_file("bob", "q.eml", kQ),
      "+MailBox/ann/Inbox/p.eml=" + bytes_of(kP), "+MailBox/bob/Inbox/q.eml=" + bytes_of(kQ),
      "+MailBox/ann/Inbox/timeStamp.dat=" + kStamp, "+MailBox/bob/Inbox/timeStamp.dat=" + kStamp},
     kInfo + "released 2 e-mail(s) from \"pupil7\" into the Inbox"},
    {"released_all_of_one_sender_in_one_mailbox", pupils_mail, "", "/buffer/release-all",
     {{"sender", "pupil7"}, {"box", "bob"}},
     "good: Released 1 e-mail(s) from &quot;pupil7&quot; into the Inbox of bob.",
     {"-" + buffered_file("bob", "q.eml", kQ), "+MailBox/bob/Inbox/q.eml=" + bytes_of(kQ),
      "+MailBox/bob/Inbox/timeStamp.dat=" + kStamp},
     kInfo + "released 1 e-mail(s) from \"pupil7\" from the Buffer of \"bob\" into the Inbox"},
    {"rejected", pupils_mail, "", "/buffer/reject", kPNote,
     "good: Rejected &quot;p.eml&quot; for ann: its sender gets your note with the next round.",
     {"-" + buffered_file("ann", "p.eml", kP), "+MailBank/Not delivered - p.eml=" + notice_for(kP)},
     kInfo + "rejected \"p.eml\" from \"pupil7\" in the Buffer of \"ann\"; the sender is told: "
             "\"Be kind.\""},
    {"rejected_without_a_note", pupils_mail, "", "/buffer/reject",
     {{"box", "ann"}, {"file", "p.eml"}, {"note", " \r\n"}},
     "bad: Nothing rejected: write the note that tells the sender why."},
    {"rejected_unreadable",
     [](ConsoleTest& t) { t.put("MailBox/ann/Buffer/a.eml", std::string(12, '\0') + "\2\0"); },
     "", "/buffer/reject", {{"box", "ann"}, {"file", "a.eml"}, {"note", kNote}},
     "bad: Not rejected: &quot;a.eml&quot; for ann: it cannot be read, so its sender is not known; "
     "Discard it instead."},
    {"rejected_without_a_sender", settled_a, "", "/buffer/reject",
     {{"box", "ann"}, {"file", "a.eml"}, {"note", kNote}},
     "bad: Not rejected: &quot;a.eml&quot; for ann: it names no sender; Discard it instead."},
    {"rejected_notice_not_written", pupils_mail, "add_file", "/buffer/reject", kPNote,
     "bad: Not rejected: &quot;p.eml&quot; for ann: the notice cannot be written: Disk full (61)."},
    {"rejected_notice_name_taken",
     [](ConsoleTest& t) { pupils_mail(t), t.put("MailBank/not delivered - P.EML", "x"); }, "",
     "/buffer/reject", kPNote,
     "bad: Not rejected: &quot;p.eml&quot; for ann: MailBank already holds &quot;Not delivered - "
     "p.eml&quot;; nothing was replaced."},
    {"rejected_of_no_file", pupils_mail, "", "/buffer/reject",
     {{"box", "ann"}, {"file", kHostile}, {"note", kNote}},
     "bad: The Buffer of ann holds no file named " + kHostileShown + "."},
    {"rejected_all_of_one_sender", pupils_mail, "", "/buffer/reject-all",
     {{"sender", "pupil7"}, {"note", kNote}},
     "good: Rejected 2 e-mail(s) from &quot;pupil7&quot;.",
     {"-" + buffered_file("ann", "p.eml", kP), "-" + buffered_file("bob", "q.eml", kQ),
      "+MailBank/Not delivered - p.eml=" + notice_for(kP),
      "+MailBank/Not delivered - q.eml=" + notice_for(kQ)},
     kInfo + "rejected 2 e-mail(s) from \"pupil7\" (\"p.eml\" for ann, \"q.eml\" for bob); the "
             "sender is told: \"Be kind.\""},
    {"rejected_all_of_no_sender", pupils_mail, "", "/buffer/reject-all", {{"note", kNote}},
     "bad: Nothing rejected: name the sender."},
    {"discarded", pupils_mail, "", "/buffer/discard", {{"box", "ann"}, {"file", "p.eml"}},
     "good: Discarded &quot;p.eml&quot; for ann.", {"-" + buffered_file("ann", "p.eml", kP)},
     kWarning + "discarded \"p.eml\" from \"pupil7\" in the Buffer of \"ann\""},
    {"discarded_unreadable", settled_a, "", "/buffer/discard", kA,
     "good: Discarded &quot;a.eml&quot; for ann.", {"-MailBox/ann/Buffer/a.eml=A"},
     kWarning + "discarded \"a.eml\" in the Buffer of \"ann\""},
    {"discard_not_removed", pupils_mail, "remove", "/buffer/discard",
     {{"box", "ann"}, {"file", "p.eml"}},
     "bad: Not discarded: &quot;p.eml&quot;: Disk full (61)."},
    {"retried", lost, "", "/errors/retry", kLost,
     "good: Moved &quot;lost.eml&quot; back to MailBank: the next round sorts it.",
     {"-Error/lost.eml=L", "+MailBank/lost.eml=L"},
     kInfo + "moved \"lost.eml\" from Error back to MailBank for another round"},
    {"retry_into_a_taken_name", [](ConsoleTest& t) { lost(t), t.put("MailBank/LOST.eml", "o"); },
     "", "/errors/retry", kLost,
     "bad: Not retried: MailBank already holds a file named &quot;lost.eml&quot;; nothing was "
     "replaced."},
    {"retry_of_an_open_file", [](ConsoleTest& t) { lost(t), held_open(t, "Error/lost.eml"); }, "",
     "/errors/retry", kLost, "bad: Not retried: &quot;lost.eml&quot; is held open for writing."},
    {"retry_not_moved", lost, "move", "/errors/retry", kLost,
     "bad: Not retried: &quot;lost.eml&quot;: Disk full (61)."},
    {"retry_without_mail_bank", [](ConsoleTest& t) { lost(t), fs::remove(t.store.drop()); }, "",
     "/errors/retry", kLost, "bad: The store has no MailBank folder."},
    {"retry_of_no_file", lost, "", "/errors/retry", {{"file", kHostile}},
     kNoErrorMail + kHostileShown + "."},
    {"retry_of_the_log", [](ConsoleTest& t) { t.log.LogEvent(u"entry", EventType::kError); }, "",
     "/errors/retry", {{"file", "SortErr.log"}}, kNoErrorMail + "&quot;SortErr.log&quot;."},
    {"deleted", lost, "", "/errors/delete", kLost, "good: Deleted &quot;lost.eml&quot;.",
     {"-Error/lost.eml=L"}, kWarning + "deleted \"lost.eml\" from the Error folder"},
    {"delete_not_done", lost, "remove", "/errors/delete", kLost,
     "bad: Not deleted: &quot;lost.eml&quot;: Disk full (61)."},
    {"delete_without_log",
     [](ConsoleTest& t) {
       lost(t), fs::remove(t.store.root() / "Error/SortErr.log");
       fs::create_directory(t.store.root() / "Error/SortErr.log");
     },
     "", "/errors/delete", kLost,
     "bad: Not deleted: the log cannot be written, and no file is deleted without its log entry."},
    {"delete_of_no_file", lost, "", "/errors/delete", {{"file", kHostile}},
     kNoErrorMail + kHostileShown + "."},
};

class ConsoleAnswer : public ConsoleTest, public ::testing::WithParamInterface<Answer> {};

// Each action sends the browser back to the page it was taken on.
TEST_P(ConsoleAnswer, NoticeSaysWhatChangedOnDisk) {
  const Answer& c = GetParam();
  log_in();
  if (c.arrange) c.arrange(*this);
  rig.faulty.failing = c.failing;
  const auto before = files_of(store.root());
  const auto entries = store.log_entries().size();
  const Response answer = post(c.action, c.fields);
  const std::string page =
      c.action == "/monitoring" ? "/" : c.action.substr(0, c.action.find('/', 1));
  EXPECT_EQ(answer.status, 303);
  EXPECT_EQ(header(answer, "Location"), page);
  EXPECT_EQ(notice_of(get(page).body), c.notice);
  EXPECT_EQ(notice_of(get(page).body), "") << "shown once";
  EXPECT_EQ(changed(before, files_of(store.root())), c.changes);
  auto logged = store.log_entries();
  logged.erase(logged.begin(), logged.begin() + static_cast<std::ptrdiff_t>(entries));
  EXPECT_EQ(logged, c.logged.empty() ? std::vector<std::string>{} : std::vector{c.logged});
}

INSTANTIATE_TEST_SUITE_P(Actions, ConsoleAnswer, ::testing::ValuesIn(kAnswers),
                         [](const auto& info) { return info.param.what; });

// ---- names from the store ----

// A name as an old client writes it in the Windows code page, with characters that mean
// something in markup, and as the pages show it.
const std::string kLatin1Name = "devoir \"<&'\xe9t\xe9.eml";
const std::string kLatin1Shown = "devoir &quot;&lt;&amp;&#39;\\xE9t\\xE9.eml";
// The name a trip through U+FFFD makes of it: another file, which must stay untouched.
const std::string kReplacedName = "devoir \"<&'\xef\xbf\xbdt\xef\xbf\xbd.eml";
const std::string kBox = "cl\xe9ment \"<&'";
const std::string kBoxShown = "cl\\xE9ment &quot;&lt;&amp;&#39;";
const std::string kSubjectShown = "Devoir &quot;&lt;&amp;&#39;";
const std::string kContent = bytes_of(mail(u"bob", u"ann", u"Devoir \"<&'"));
const std::string kBoxPath = "MailBox/" + kBox + "/";

// A lone surrogate that stands for a byte from_utf8 could not decode.
bool kept_byte_at(const std::u16string& text, std::size_t i) {
  const bool after_high = i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
  return text[i] >= 0xDC80 && text[i] <= 0xDCFF && !after_high;
}

bool is_utf8(const std::string& bytes) {
  const std::u16string text = platform::from_utf8(bytes);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kept_byte_at(text, i)) return false;
  }
  return true;
}

// A field value on a page as a browser sends it back: entities resolved, bytes that are not
// UTF-8 read as U+FFFD.
std::string as_a_browser_sends(std::string value) {
  for (const auto& [entity, c] : {std::pair{"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"},
                                  {"&gt;", ">"}, {"&amp;", "&"}}) {
    for (std::size_t at; (at = value.find(entity)) != std::string::npos;) {
      value.replace(at, std::string_view(entity).size(), c);
    }
  }
  std::u16string text = platform::from_utf8(value);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kept_byte_at(text, i)) text[i] = 0xFFFD;
  }
  return platform::to_utf8(text);
}


// The fields of the first form posting to action after marker.
Fields form_after(const std::string& page, const std::string& marker, const std::string& action) {
  Fields fields;
  const std::size_t at = page.find(marker);
  std::smatch form;
  const std::string rest = at == std::string::npos ? "" : page.substr(at);
  if (!std::regex_search(rest, form, std::regex("<form method=\"post\" action=\"" + action +
                                                 "\"[^>]*>([\\s\\S]*?)</form>"))) {
    return fields;
  }
  const std::string inside = form[1];
  const std::regex input("name=\"([a-z]+)\" value=\"([^\"]*)\"");
  for (std::sregex_iterator it(inside.begin(), inside.end(), input), end; it != end; ++it) {
    if ((*it)[1] != "csrf") fields.emplace((*it)[1], as_a_browser_sends((*it)[2]));
  }
  return fields;
}

// A store whose pupils chose the names: a mailbox, and files in its folder, its Buffer,
// MailBank and Error, each beside the file a trip through U+FFFD would name instead.
class ConsoleStoreNames : public ConsoleTest {
 protected:
  void SetUp() override {
    log_in();
    store.add_mailbox(kBox);
    for (const std::string folder : {"MailBox/" + kBox + "/Buffer", std::string("Error")}) {
      put(folder + "/" + kLatin1Name, kContent);
      put(folder + "/" + kReplacedName, "another pupil's");
    }
    put("MailBox/" + kBox + "/" + kLatin1Name, kContent);
    put("MailBox/" + kBox + "/Client.ini", "[Errors]\r\nStatus=1<b>\r\n");
    put("MailBank/x" + kLatin1Name, kContent);
    put(kBoxPath + "Buffer/timeStamp.dat", kStamp);
  }
};

TEST_F(ConsoleStoreNames, EveryPageAnswersAndShowsThemEscaped) {
  const std::pair<const char*, std::vector<std::string>> pages[] = {
      {"/", {"<td>x" + kLatin1Shown + "</td>"}},
      {"/mailboxes",
       {"<td>" + kBoxShown + "</td><td class=\"num\">0</td><td class=\"num\"><a href=\"/buffer?"
        "box=cl%E9ment%20%22%3C%26%27\">2</a></td><td>-</td><td>2026-12-08 23:15:02</td><td><span "
        "class=\"state off\">set (1&lt;b&gt;)</span>"}},
      {"/buffer", {"<h2>" + kBoxShown + " &middot; 2 e-mails", "<b>" + kLatin1Shown + "</b>",
                   kSubjectShown}},
      {"/errors", {"<b>" + kLatin1Shown + "</b>", "emSubject: " + kSubjectShown}}};
  for (const auto& [path, shown] : pages) {
    const Response page = get(path);
    EXPECT_EQ(page.status, 200) << path << ": " << page.body;
    EXPECT_TRUE(is_utf8(page.body)) << path;
    EXPECT_THAT(page.body, Not(HasSubstr("\"<&'"))) << path;
    for (const std::string& s : shown) EXPECT_THAT(page.body, HasSubstr(s)) << path;
  }
}

struct FormAction {
  std::string what;
  std::string page;    // the page with the form
  std::string marker;  // what that page shows before it
  std::string action;
  std::string notice;
  std::set<std::string> changes;  // see changed()
};

void PrintTo(const FormAction& c, std::ostream* os) { *os << c.action; }

const std::string kReleased = kLatin1Name + "=" + kContent;
const std::string kTwin = kReplacedName + "=another pupil's";
const FormAction kFormActions[] = {
    {"release", "/buffer", "<b>" + kLatin1Shown + "</b>", "/buffer/release",
     "good: Released &quot;" + kLatin1Shown + "&quot; into the Inbox of " + kBoxShown + ".",
     {"-" + kBoxPath + "Buffer/" + kReleased, "+" + kBoxPath + "Inbox/" + kReleased,
      "+" + kBoxPath + "Inbox/timeStamp.dat=" + kStamp}},
    {"release_all", "/buffer", "<h2>" + kBoxShown, "/buffer/release-all",
     "good: Released 2 e-mail(s) into the Inbox of " + kBoxShown + ".",
     {"-" + kBoxPath + "Buffer/" + kReleased, "+" + kBoxPath + "Inbox/" + kReleased,
      "-" + kBoxPath + "Buffer/" + kTwin, "+" + kBoxPath + "Inbox/" + kTwin,
      "+" + kBoxPath + "Inbox/timeStamp.dat=" + kStamp}},
    {"retry", "/errors", "<b>" + kLatin1Shown + "</b>", "/errors/retry",
     "good: Moved &quot;" + kLatin1Shown + "&quot; back to MailBank: the next round sorts it.",
     {"-Error/" + kReleased, "+MailBank/" + kReleased}},
    {"delete", "/errors", "<b>" + kLatin1Shown + "</b>", "/errors/delete",
     "good: Deleted &quot;" + kLatin1Shown + "&quot;.", {"-Error/" + kReleased}},
    {"clear_flag", "/mailboxes", "<td>" + kBoxShown + "</td>", "/mailboxes/clear-flag",
     "good: The error flag of " + kBoxShown + " is cleared.",
     {"-" + kBoxPath + "Client.ini=[Errors]\r\nStatus=1<b>\r\n",
      "+" + kBoxPath + "Client.ini=[Errors]\r\nStatus=0\r\n"}},
};

class ConsoleStoreNameForm : public ConsoleStoreNames,
                             public ::testing::WithParamInterface<FormAction> {};

TEST_P(ConsoleStoreNameForm, ActsOnExactlyTheListedName) {
  const FormAction& c = GetParam();
  const auto fields = form_after(get(c.page).body, c.marker, c.action);
  ASSERT_FALSE(fields.empty());
  const auto before = files_of(store.root());
  EXPECT_EQ(notice_of(after(post(c.action, fields))), c.notice);
  EXPECT_EQ(changed(before, files_of(store.root())), c.changes);
  EXPECT_EQ(store.log_lines().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Forms, ConsoleStoreNameForm, ::testing::ValuesIn(kFormActions),
                         [](const auto& info) { return info.param.what; });

// ---- log ----

TEST_F(ConsoleTest, LogIsNewestFirstAndFiltersByType) {
  log_in();
  log.LogEvent(u"first <error>", EventType::kError);
  log.LogEvent(u"second warning\r\nwith a second line", EventType::kWarning);
  log.LogEvent(u"third error", EventType::kError);

  const std::string all = get("/log").body;
  EXPECT_LT(all.find("third error"), all.find("second warning"));
  EXPECT_LT(all.find("second warning"), all.find("first &lt;error&gt;"));
  EXPECT_THAT(all, HasSubstr("second warning\nwith a second line"));

  const std::string errors = get("/log", {{"type", "1"}}).body;
  EXPECT_THAT(errors, HasSubstr("third error"));
  EXPECT_THAT(errors, Not(HasSubstr("second warning")));
  const std::string warnings = get("/log", {{"type", "2"}}).body;
  EXPECT_THAT(warnings, Not(HasSubstr("third error")));
  EXPECT_THAT(warnings, HasSubstr("second warning"));
}

// ---- lessons ----

TEST_F(ConsoleTest, LessonsImportedAndShownWithTheImportersAnswerAndTheLessonDisplay) {
  log_in();
  const auto import = [&](const std::string& csv) {
    return send({.method = "POST", .path = "/lessons/import", .params = {{"csrf", csrf}},
                 .files = {{"csv", {"<week>.csv", csv}}}});
  };
  const Response ok = import("2,Ann,Hello,Hi <there>\r\n1,Bob,Re,Bye\r\n2,Cy,Again,More\r\n");
  EXPECT_EQ(ok.status, 200);
  EXPECT_THAT(ok.body, HasSubstr("answered <b>True</b>"));
  EXPECT_THAT(ok.body, HasSubstr("2 step(s), 3 choice(s)"));
  EXPECT_THAT(ok.body,
              HasSubstr("[&lt;week&gt;.csv]\r\nSteps:\r\n\tIndex: 2\tChoices: \r\n"
                        "\t\tFrom: Ann\r\n\t\tSubject: Hello\r\n\t\tMessage: Hi &lt;there&gt;"));

  EXPECT_THAT(import("Step,From,Subject,Message\r\n1,a,b,c\r\n").body,
              HasSubstr("answered <b>False</b>"));
  EXPECT_THAT(import("40000,a,b,c\r\n").body, HasSubstr("failed with error 6"));

  // A lesson file is shown like the lesson display.
  corvane::EmailLesson lesson;
  corvane::LessonStep step;
  step.Index = -3;
  lesson.steps = corvane::List<corvane::LessonStep>::sized(0, {step});
  const auto bytes = corvane::encode_record(lesson);
  Request r{.method = "POST", .path = "/lessons/show", .params = {{"csrf", csrf}},
            .files = {{"lesson", {"l.dat", std::string(bytes.begin(), bytes.end())}}}};
  const std::string page = send(r).body;
  EXPECT_THAT(page, HasSubstr("[l.dat]\r\nSteps:\r\n\tIndex: -3\tChoices: \r\n_____"));

  r.files["lesson"].content = std::string("\5\0", 2);
  EXPECT_THAT(send(r).body, HasSubstr("is not a lesson file"));
}

// ---- moderation ----

// A rejection's notice is an e-mail of its own in MailBank, which a round delivers: to the
// sender, from the teacher (or the configured name, or the console after a token login),
// "Not delivered: " and the subject, the note as its one text.
TEST_F(ConsoleTest, ARejectionTellsTheSenderInAnEmailFromTheTeacher) {
  ::testsupport::TempDir dir;
  const std::string users = (dir / "users").string();
  set_account(users, "ms.lee", hash_password(kPassword));
  const struct {
    const char* notice_from;
    bool teacher;
    std::u16string from;
  } cases[] = {{"", true, u"ms.lee"}, {"", false, u"Store console"}, {"Office", true, u"Office"}};
  for (const auto& c : cases) {
    ConsoleOptions o = options();
    o.users_file = users;
    o.notice_from = c.notice_from;
    ConsoleRig own(o);
    write_text(own.store.root() / "MailBox/ann/Buffer/p.eml",
               bytes_of(mail(u"pupil7", u"ann", u"Party <b>tonight</b>")));
    fs::last_write_time(own.store.root() / "MailBox/ann/Buffer/p.eml",
                        fs::file_time_type::clock::now() - std::chrono::minutes(1));
    const testing::Browser browser(
        own.console, c.teacher ? Fields{{"name", "ms.lee"}, {"password", kPassword}}
                               : Fields{{"token", kToken}});
    const Response rejected = browser.post(
        "/buffer/reject",
        {{"box", "ann"}, {"file", "p.eml"}, {"note", "Not on the school network, please."}});
    EXPECT_EQ(rejected.status, 303);
    const std::string bytes = read_text(own.store.root() / "MailBank" / "Not delivered - p.eml");
    const DecodedEmail notice =
        decode_email(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    ASSERT_FALSE(notice.failure);
    EXPECT_EQ(notice.email.emTo, u"pupil7");
    EXPECT_EQ(notice.email.emFrom, c.from);
    EXPECT_EQ(notice.email.emSubject, u"Not delivered: Party <b>tonight</b>");
    ASSERT_EQ(notice.email.emMsg.Texts.size(), 1u);
    EXPECT_EQ(notice.email.emMsg.Texts.items()[0].Value, u"Not on the school network, please.");
    EXPECT_EQ(notice.email.emDate, kNow);
    EXPECT_FALSE(fs::exists(own.store.root() / "MailBox/ann/Buffer/p.eml"));
  }
}

// The subjects of the e-mails a Buffer page shows, in its order.
std::vector<std::string> subjects_on(const std::string& page) {
  std::vector<std::string> shown;
  static const std::regex subject("<th>Subject</th><td>([^<]*)</td>");
  for (std::sregex_iterator it(page.begin(), page.end(), subject), end; it != end; ++it) {
    shown.push_back((*it)[1].str());
  }
  return shown;
}

// The Buffer page shows one sender's e-mails, or one recipient's, or both filters at once;
// with a sender chosen it offers Release all and Reject all for that sender.
TEST_F(ConsoleTest, TheBufferPageFiltersBySenderAndRecipient) {
  log_in();
  pupils_mail(*this);
  const struct {
    Fields filter;
    const char* shown;  // the subjects on the page
    bool sender_forms;
  } cases[] = {
      {{}, "Hello Hi Yo", false},
      {{{"sender", "pupil7"}}, "Hi Yo", true},
      {{{"box", "ann"}}, "Hello Hi", false},
      {{{"sender", "pupil7"}, {"box", "bob"}}, "Yo", true},
      {{{"sender", "nobody"}}, "", true},
  };
  for (const auto& c : cases) {
    const std::string page = get("/buffer", c.filter).body;
    const std::vector<std::string> shown = subjects_on(page);
    std::string joined;
    for (const std::string& s : shown) joined += (joined.empty() ? "" : " ") + s;
    EXPECT_EQ(joined, c.shown) << page;
    EXPECT_EQ(page.find("action=\"/buffer/reject-all\"") != std::string::npos, c.sender_forms);
  }
}

// A Buffer of more than one page: the counts of every mailbox on each page, one page of e-mails
// in the order of the mailboxes, the filters counted and kept across the pages.
TEST_F(ConsoleTest, TheBufferPageShowsAllCountsAndOnePageOfEmails) {
  log_in();
  pupils_mail(*this);  // ann: b.eml "Hello", p.eml "Hi" (pupil7); bob: q.eml "Yo" (pupil7)
  for (int i = 0; i < 110; ++i) {  // ann: n000..n109 "S000".., even ones from pupil7
    char n[8];
    std::snprintf(n, sizeof n, "%03d", i);
    buffered("ann", std::string("n") + n + ".eml",
             mail(i % 2 ? u"pupil8" : u"pupil7", u"ann", u"S" + testsupport::u16(n)));
  }
  const struct {
    Fields filter;
    std::size_t shown;
    const char *first, *last, *counts, *previous, *next;  // "" for no link
  } cases[] = {
      {{}, 50, "Hello", "S048", "ann</a></td><td>112</td></tr><tr><td><a href=\"/buffer?box=bob\">"
       "bob</a></td><td>1</td></tr><tr><td>All</td><td>113<", "", "/buffer?page=2"},
      {{{"page", "3"}}, 13, "S099", "Yo", "<td>All</td><td>113<", "/buffer?page=2", ""},
      {{{"page", "9"}}, 0, "", "", "<td>All</td><td>113<", "/buffer?page=8", ""},
      {{{"sender", "pupil7"}, {"page", "2"}}, 7, "S100", "Yo",
       "<td>56</td></tr><tr><td><a href=\"/buffer?box=bob&sender=pupil7\">bob</a></td><td>1</td>"
       "</tr><tr><td>All</td><td>57<", "/buffer?sender=pupil7&page=1", ""},
      {{{"sender", "pupil7"}, {"box", "ann"}, {"page", "2"}}, 6, "S100", "Hi",
       "<td>All</td><td>56<", "/buffer?box=ann&sender=pupil7&page=1", ""},
      {{{"page", "x"}}, 50, "Hello", "S048", "<td>All</td><td>113<", "", "/buffer?page=2"},
  };
  for (const auto& c : cases) {
    const std::string page = get("/buffer", c.filter).body;
    const std::vector<std::string> shown = subjects_on(page);
    SCOPED_TRACE(c.first + std::string(" .. ") + c.last);
    ASSERT_EQ(shown.size(), c.shown);
    if (!shown.empty()) EXPECT_EQ(shown.front() + " " + shown.back(), c.first + std::string(" ") + c.last);
    EXPECT_THAT(page, HasSubstr(c.counts));
    for (const auto& [rel, href] : {std::pair{"prev", c.previous}, {"next", c.next}}) {
      const std::string link = std::string("rel=\"") + rel + "\" href=\"";
      const auto at = page.find(link);
      EXPECT_EQ(at == std::string::npos ? "" : page.substr(at + link.size(), std::strlen(href)),
                href);
    }
  }
}

}  // namespace
}  // namespace sorter::console
