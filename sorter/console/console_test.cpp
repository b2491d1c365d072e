// The console's pages and actions, driven request by request over a real store in a temporary
// folder: status, page content, and what changed on disk and in the log.

#include "sorter/console/console.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <thread>

#include "corvane/model/record_codec.h"
#include "sorter/console/console_test_support.h"
#include "sorter/console/email_view.h"
#include "sorter/console/front_door.h"
#include "sorter/engine/time_stamp.h"

namespace sorter::console {
namespace {

using sorter::testing::file_count;
using sorter::testing::kNow;
using sorter::testing::TestStore;
using testing::ConsoleRig;
using testing::form_token;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

constexpr const char* kToken = "the-access-token";

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_all(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

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

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleOptions options() {
    ConsoleOptions o;
    o.access_token = kToken;
    o.clock = [this] { return clock_now; };
    o.random = [this] { return "secret" + std::to_string(++secrets); };
    o.delivery = [this] { return delivery; };
    o.sorter_running = [this] { return sorter_running; };
    return o;
  }

  Response send(Request r) {
    if (!cookie.empty()) r.headers["cookie"] = cookie;
    return console.handle(r);
  }
  Response get(std::string path, std::multimap<std::string, std::string> params = {}) {
    Request r;
    r.path = std::move(path);
    r.params = std::move(params);
    return send(std::move(r));
  }
  Response post(std::string path, std::multimap<std::string, std::string> params = {}) {
    Request r;
    r.method = "POST";
    r.path = std::move(path);
    r.params = std::move(params);
    if (!csrf.empty()) r.params.emplace("csrf", csrf);
    return send(std::move(r));
  }

  // Opens a session with the token and keeps its cookie and form token; answers the
  // Set-Cookie header that came with it.
  std::string log_in() {
    Request r;
    r.method = "POST";
    r.path = "/login";
    r.params.emplace("token", kToken);
    const Response answer = console.handle(r);
    EXPECT_EQ(answer.status, 303);
    const auto set_cookie = answer.headers.find("Set-Cookie");
    if (set_cookie == answer.headers.end()) {
      ADD_FAILURE() << "no session cookie";
      return "";
    }
    cookie = set_cookie->second.substr(0, set_cookie->second.find(';'));
    csrf = form_token(get("/").body);
    EXPECT_NE(csrf, "");
    return set_cookie->second;
  }

  fs::path buffered(const std::string& user, const std::string& name, const corvane::EmailMsg& m) {
    const fs::path path = store.root() / "MailBox" / user / "Buffer" / name;
    write_all(path, bytes_of(m));
    // Delivered a while ago, as a round delivers settled mail.
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(1));
    return path;
  }

  // The page the browser lands on after an action.
  std::string after(const Response& action) {
    EXPECT_EQ(action.status, 303) << action.body;
    const auto location = action.headers.find("Location");
    return location == action.headers.end() ? "" : get(location->second).body;
  }

  std::string log_text() { return read_all(store.root() / "Error" / "SortErr.log"); }

  int secrets = 0;
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
  bool session;         // sent with the cookie of a session opened with the token
  std::string csrf;     // the form token sent: "good" is the session's, "" none
  std::multimap<std::string, std::string> params;
  std::map<std::string, std::string> headers;
  int status;
  std::string answer;  // where a redirect leads, else text of the answer
};

void PrintTo(const Refused& c, std::ostream* os) { *os << c.method << ' ' << c.path; }

const std::multimap<std::string, std::string> kRelease{{"box", "ann"}, {"file", "a.eml"}};

const Refused kRefused[] = {
    {"page_root", "GET", "/", false, "", {}, {}, 303, "/login"},
    {"page_mailboxes", "GET", "/mailboxes", false, "", {}, {}, 303, "/login"},
    {"page_buffer", "GET", "/buffer", false, "", {}, {}, 303, "/login"},
    {"page_errors", "GET", "/errors", false, "", {}, {}, 303, "/login"},
    {"page_log", "GET", "/log", false, "", {}, {}, 303, "/login"},
    {"page_lessons", "GET", "/lessons", false, "", {}, {}, 303, "/login"},
    {"made_up_session", "GET", "/", false, "", {}, {{"cookie", "corvane_console=made-up"}}, 303,
     "/login"},
    {"token_empty", "POST", "/login", false, "", {{"token", ""}}, {}, 403, "not the console"},
    {"token_wrong", "POST", "/login", false, "", {{"token", "wrong"}}, {}, 403, "not the console"},
    {"token_prefix", "POST", "/login", false, "", {{"token", "the-access-toke"}}, {}, 403,
     "not the console"},
    {"token_longer", "POST", "/login", false, "", {{"token", "the-access-tokenX"}}, {}, 403,
     "not the console"},
    {"change_without_session", "POST", "/buffer/release", false, "", kRelease, {}, 403,
     "Not logged in"},
    {"change_without_form_token", "POST", "/buffer/release", true, "", kRelease, {}, 403,
     "form's token is missing"},
    {"change_with_wrong_form_token", "POST", "/buffer/release", true, "x", kRelease, {}, 403,
     "form's token is missing"},
    {"change_with_longer_form_token", "POST", "/buffer/release", true, "good+x", kRelease, {}, 403,
     "form's token is missing"},
    {"change_from_another_site", "POST", "/buffer/release", true, "good", kRelease,
     {{"origin", "http://evil.example"}, {"host", "127.0.0.1:8080"}}, 403, "another site"},
    {"change_from_sandboxed_frame", "POST", "/buffer/release", true, "good", kRelease,
     {{"origin", "null"}, {"host", "127.0.0.1:8080"}}, 403, "another site"},
    {"change_by_get", "GET", "/buffer/release", true, "", kRelease, {}, 405, "Method not allowed"},
    {"unknown_page", "GET", "/nothing", true, "", {}, {}, 404, "No such page"},
};

class ConsoleAccess : public ConsoleTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(ConsoleAccess, IsRefusedAndChangesNothing) {
  const Refused& c = GetParam();
  const fs::path file = buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  if (c.session) log_in();
  Request r;
  r.method = c.method;
  r.path = c.path;
  r.params = c.params;
  r.headers = c.headers;
  if (c.csrf == "good") r.params.emplace("csrf", csrf);
  if (c.csrf == "good+x") r.params.emplace("csrf", csrf + "x");
  if (c.csrf == "x") r.params.emplace("csrf", "x");
  const Response answer = send(r);
  EXPECT_EQ(answer.status, c.status);
  if (c.status == 303) {
    ASSERT_EQ(answer.headers.count("Location"), 1u);
    EXPECT_EQ(answer.headers.find("Location")->second, c.answer);
  } else {
    EXPECT_THAT(answer.body, HasSubstr(c.answer));
  }
  EXPECT_EQ(answer.headers.count("Set-Cookie"), 0u);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(file_count(store.root() / "MailBox" / "ann" / "Inbox"), 0u);
  EXPECT_EQ(log_text(), "");
}

INSTANTIATE_TEST_SUITE_P(Requests, ConsoleAccess, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return info.param.what; });

TEST_F(ConsoleTest, LoggingInSetsAStrictHttpOnlyCookieAndLoggingOutEndsTheSession) {
  const std::string set_cookie = log_in();
  EXPECT_THAT(set_cookie, HasSubstr("HttpOnly"));
  EXPECT_THAT(set_cookie, HasSubstr("SameSite=Strict"));

  const Response page = get("/");
  EXPECT_EQ(page.status, 200);
  EXPECT_THAT(page.headers.find("Content-Security-Policy")->second,
              HasSubstr("default-src 'none'"));
  EXPECT_EQ(page.headers.find("X-Content-Type-Options")->second, "nosniff");

  EXPECT_EQ(post("/logout").status, 303);
  EXPECT_EQ(get("/").status, 303);
}

// Guessing the token: a few wrong tries cost nothing, then each one closes the door to that
// computer for longer, whatever it sends meanwhile, right token included; other computers and
// a quiet hour are not affected.
TEST_F(ConsoleTest, WrongTokensSlowDownTheComputerThatSendsThem) {
  const auto try_token = [&](const std::string& token, const std::string& from) {
    Request r;
    r.method = "POST";
    r.path = "/login";
    r.remote_address = from;
    r.params.emplace("token", token);
    return console.handle(r);
  };
  const double second = 1.0 / 86400;
  for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(try_token("wrong", "10.0.0.7").status, 403) << i;
  }
  EXPECT_EQ(try_token("wrong", "10.0.0.7").status, 403);  // the first that costs a wait
  const Response held = try_token(kToken, "10.0.0.7");
  EXPECT_EQ(held.status, 429);
  EXPECT_THAT(held.body, HasSubstr("wait 1 seconds"));
  EXPECT_EQ(held.headers.find("Retry-After")->second, "1");
  EXPECT_EQ(try_token(kToken, "10.0.0.8").status, 303) << "another computer";

  int waited = 0;
  for (int i = 0; i < 12; ++i) {  // each wrong token doubles the wait, up to a minute
    clock_now += 61 * second;
    ASSERT_EQ(try_token("wrong", "10.0.0.7").status, 403);
    const Response r = try_token("wrong", "10.0.0.7");
    ASSERT_EQ(r.status, 429);
    waited = std::stoi(r.headers.find("Retry-After")->second);
  }
  EXPECT_EQ(waited, 60);
  clock_now += 30 * second;
  EXPECT_EQ(try_token(kToken, "10.0.0.7").status, 429);
  clock_now += 31 * second;
  EXPECT_EQ(try_token(kToken, "10.0.0.7").status, 303);
  EXPECT_EQ(try_token("wrong", "10.0.0.7").status, 403) << "a right token wipes the slate";

  // The addresses of one IPv6 network count as one computer.
  for (int i = 0; i <= LoginThrottle::kFreeFailures; ++i) {
    try_token("wrong", "2001:db8:1:2::" + std::to_string(i + 1));
  }
  EXPECT_EQ(try_token(kToken, "2001:db8:1:2::99").status, 429);
  EXPECT_EQ(try_token(kToken, "2001:db8:1:3::1").status, 303);
  clock_now += 3601 * second;
  for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(try_token("wrong", "2001:db8:1:2::1").status, 403) << "forgotten after an hour";
  }
}

// ---- overview and monitoring ----

TEST_F(ConsoleTest, OverviewShowsDeliveryWaitingMailCountsAndLatestLogEntries) {
  log_in();
  write_all(store.drop() / "<b>waiting.eml", "x");
  buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  log.LogEvent(u"Email sent with no sender information! <img src=x>", EventType::kWarning);
  delivery = DeliveryStatus{kNow, RoundReport{3, 1, 0, 2, 0}, 10};

  const std::string page = get("/").body;
  EXPECT_THAT(page, HasSubstr("Delivery running"));
  EXPECT_THAT(page, HasSubstr("3 delivered, 1 to Error, 0 deleted, 2 waiting, 0 stuck"));
  EXPECT_THAT(page, HasSubstr("Monitoring off"));
  EXPECT_THAT(page, HasSubstr("&lt;b&gt;waiting.eml"));
  EXPECT_THAT(page, HasSubstr("no sender information! &lt;img src=x&gt;"));
  EXPECT_THAT(page, Not(HasSubstr("<img src=x>")));
  EXPECT_THAT(page, Not(HasSubstr("<b>waiting")));
  EXPECT_THAT(page, Not(HasSubstr("delivery seems to have stopped")));

  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  fs::last_write_time(store.drop() / "<b>waiting.eml", old);
  EXPECT_THAT(get("/").body, HasSubstr("has waited 5 min: delivery seems to have stopped"));
}

TEST_F(ConsoleTest, WithoutASorterInProcessTheOverviewTellsWhatTheStoreLockSays) {
  log_in();
  EXPECT_THAT(get("/").body, HasSubstr("Delivery unknown"));
  sorter_running = true;
  EXPECT_THAT(get("/").body, HasSubstr("A sorter holds the store's lock"));
  sorter_running = false;
  EXPECT_THAT(get("/").body, HasSubstr("Delivery stopped"));
}

TEST_F(ConsoleTest, MonitoringSwitchWritesSorterIniAndOneLogEntry) {
  log_in();
  EXPECT_THAT(after(post("/monitoring", {{"value", "on"}})), HasSubstr("Monitoring is on"));
  EXPECT_THAT(read_all(store.root() / "Sorter.ini"), HasSubstr("[Monitoring]\r\nvalue=True"));
  EXPECT_THAT(get("/").body, HasSubstr("Monitoring on"));
  EXPECT_THAT(log_text(), HasSubstr("Info     Store console (127.0.0.1): monitoring switched on"));

  post("/monitoring", {{"value", "off"}});
  EXPECT_THAT(read_all(store.root() / "Sorter.ini"), HasSubstr("value=False"));
  EXPECT_THAT(after(post("/monitoring", {{"value", "maybe"}})), HasSubstr("not changed"));
  const auto lines = store.log_lines();
  EXPECT_EQ(lines.size(), 2u);
}

// ---- mailboxes ----

TEST_F(ConsoleTest, MailboxesShowCountsLastDeliveryAndClearTheErrorFlag) {
  log_in();
  buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  updateTime(testsupport::u16(store.root() / "MailBox" / "ann" / "Inbox" / "timeStamp.dat"), kNow);
  write_all(store.root() / "MailBox" / "bob" / "Client.ini",
            "[Other]\r\nkey=1\r\n[Errors]\r\nStatus=1\r\n");

  std::string page = get("/mailboxes").body;
  EXPECT_THAT(page, HasSubstr("2026-12-08 23:15:02"));
  EXPECT_THAT(page, HasSubstr("set (1)"));

  EXPECT_THAT(after(post("/mailboxes/clear-flag", {{"box", "bob"}})), HasSubstr("is cleared"));
  const std::string ini = read_all(store.root() / "MailBox" / "bob" / "Client.ini");
  EXPECT_THAT(ini, HasSubstr("Status=0"));
  EXPECT_THAT(ini, HasSubstr("key=1"));
  EXPECT_THAT(log_text(), HasSubstr("cleared the error flag of mailbox \"bob\""));

  // A name that is not listed is never used as a path.
  EXPECT_THAT(after(post("/mailboxes/clear-flag", {{"box", "../MailBox/bob"}})),
              HasSubstr("No mailbox named"));
  EXPECT_EQ(store.log_lines().size(), 1u);
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

TEST_F(ConsoleTest, ReleaseMovesIntoTheInboxWithADeliveryStampAndOneLogEntry) {
  log_in();
  const fs::path file = buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  const std::string content = read_all(file);

  const std::string page = after(post("/buffer/release", {{"box", "ann"}, {"file", "a.eml"}}));
  EXPECT_THAT(page, HasSubstr("Released &quot;a.eml&quot; into the Inbox of ann"));
  const fs::path inbox = store.root() / "MailBox" / "ann" / "Inbox";
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(read_all(inbox / "a.eml"), content);
  const auto stamp = time_stamp_bytes(kNow);
  EXPECT_EQ(read_all(inbox / "timeStamp.dat"), std::string(stamp.begin(), stamp.end()));
  const auto lines = store.log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "2026-12-08 23:15:02  Info     Store console (127.0.0.1): released "
            "\"a.eml\" from the Buffer of \"ann\" into the Inbox");
}

// An owner may still be writing into their Buffer: a release takes the file only as a round
// would, when nobody holds it open for writing and its last write has settled.
TEST_F(ConsoleTest, ReleaseWaitsForAFileStillBeingWritten) {
  log_in();
  const fs::path inbox = store.root() / "MailBox" / "ann" / "Inbox";
  const fs::path fresh = store.root() / "MailBox" / "ann" / "Buffer" / "fresh.eml";
  write_all(fresh, bytes_of(mail(u"bob", u"ann", u"Hi")));
  const fs::path open = buffered("ann", "open.eml", mail(u"bob", u"ann", u"Hi"));
  const int writer = ::open(open.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(writer, 0);

  for (const char* name : {"fresh.eml", "open.eml"}) {
    const std::string page = after(post("/buffer/release", {{"box", "ann"}, {"file", name}}));
    EXPECT_THAT(page, HasSubstr("still being written; try again in a moment")) << name;
    EXPECT_FALSE(fs::exists(inbox / name)) << name;
  }
  const std::string all = after(post("/buffer/release-all", {{"box", "ann"}}));
  EXPECT_THAT(all, HasSubstr("Released 0 e-mail(s)"));
  EXPECT_TRUE(fs::exists(fresh) && fs::exists(open));

  ::close(writer);
  fs::last_write_time(fresh, fs::file_time_type::clock::now() - std::chrono::seconds(3));
  EXPECT_THAT(after(post("/buffer/release-all", {{"box", "ann"}})),
              HasSubstr("Released 2 e-mail(s) into the Inbox of ann."));
  EXPECT_TRUE(fs::exists(inbox / "fresh.eml") && fs::exists(inbox / "open.eml"));
}

TEST_F(ConsoleTest, ReleaseNeverReplacesAFileInTheInbox) {
  log_in();
  const fs::path inbox = store.root() / "MailBox" / "ann" / "Inbox";
  write_all(inbox / "a.eml", "the one already delivered");
  write_all(inbox / "B.EML", "another one");
  const fs::path a = buffered("ann", "a.eml", mail(u"bob", u"ann", u"Hi"));
  const fs::path b = buffered("ann", "b.eml", mail(u"bob", u"ann", u"Hi"));

  for (const char* name : {"a.eml", "b.eml"}) {
    const std::string page = after(post("/buffer/release", {{"box", "ann"}, {"file", name}}));
    EXPECT_THAT(page, HasSubstr("Not released"));
    EXPECT_THAT(page, HasSubstr("already holds a file named"));
    EXPECT_THAT(page, HasSubstr("nothing was replaced"));
  }
  EXPECT_TRUE(fs::exists(a));
  EXPECT_TRUE(fs::exists(b));
  EXPECT_EQ(read_all(inbox / "a.eml"), "the one already delivered");
  EXPECT_EQ(read_all(inbox / "B.EML"), "another one");
  EXPECT_FALSE(fs::exists(inbox / "timeStamp.dat"));
  EXPECT_EQ(log_text(), "");
}

TEST_F(ConsoleTest, ReleaseAllMovesWhatItCanAndWritesOneEntry) {
  log_in();
  const fs::path inbox = store.root() / "MailBox" / "ann" / "Inbox";
  write_all(inbox / "2.eml", "old");
  buffered("ann", "1.eml", mail(u"bob", u"ann", u"one"));
  buffered("ann", "2.eml", mail(u"bob", u"ann", u"two"));
  buffered("ann", "3.eml", mail(u"bob", u"ann", u"three"));
  const fs::path buffer_stamp = store.root() / "MailBox" / "ann" / "Buffer" / "timeStamp.dat";
  updateTime(testsupport::u16(buffer_stamp), kNow);
  EXPECT_THAT(get("/buffer").body, Not(HasSubstr("timeStamp.dat")));

  const std::string page = after(post("/buffer/release-all", {{"box", "ann"}}));
  EXPECT_THAT(page, HasSubstr("Released 2 e-mail(s)"));
  EXPECT_THAT(page, HasSubstr("&quot;2.eml&quot;: the Inbox already holds"));
  EXPECT_EQ(file_count(inbox), 4u);  // 1, 2 (old), 3 and the stamp
  EXPECT_EQ(read_all(inbox / "2.eml"), "old");
  EXPECT_TRUE(fs::exists(store.root() / "MailBox" / "ann" / "Buffer" / "2.eml"));
  EXPECT_TRUE(fs::exists(buffer_stamp));
  const auto lines = store.log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr("Warning  Store console (127.0.0.1): released 2 e-mail(s)"));
  EXPECT_THAT(lines[0], HasSubstr("not released: \"2.eml\""));
}

TEST_F(ConsoleTest, NamesFromRequestsAreOnlyMatchedAgainstListedNames) {
  log_in();
  write_all(store.root() / "MailBox" / "ann" / "Sorter.ini", "x");
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
  write_all(outside / "secret.eml", bytes_of(mail(u"x", u"ann", u"OUTSIDE SECRET")));
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
  write_all(outside / "secret.eml", "OUTSIDE SECRET");
  const fs::path buffer = store.root() / "MailBox" / "ann" / "Buffer";
  write_all(buffer / "a.eml", "0123456789");
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
      write_all(buffer / "p.tmp", "0123456789");
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

TEST_F(ConsoleTest, ErrorFolderShowsTheLogEntryAndDumpAndRetriesWithoutReplacing) {
  log_in();
  const fs::path error = store.root() / "Error";
  write_all(error / "lost.eml", bytes_of(mail(u"bob", u"nobody", u"Where <are> you")));
  log.LogEvent(u"Email sent to non-existant recipient!  From: bob; To: nobody", EventType::kWarning);
  // Damaged: the first body list claims two dimensions.
  const std::string damaged("\0\0\0\0\0\0\0\0\0\0\0\0\2\0", 14);
  write_all(error / "bad.eml", damaged);
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

  write_all(store.drop() / "lost.eml", "someone else's");
  EXPECT_THAT(after(post("/errors/retry", {{"file", "lost.eml"}})),
              HasSubstr("MailBank already holds a file named &quot;lost.eml&quot;"));
  EXPECT_EQ(read_all(store.drop() / "lost.eml"), "someone else's");
  fs::remove(store.drop() / "lost.eml");

  EXPECT_THAT(after(post("/errors/retry", {{"file", "lost.eml"}})), HasSubstr("the next round"));
  EXPECT_TRUE(fs::exists(store.drop() / "lost.eml"));
  EXPECT_FALSE(fs::exists(error / "lost.eml"));
  EXPECT_THAT(store.log_lines().back(),
              HasSubstr("Info     Store console (127.0.0.1): moved \"lost.eml\" from Error back "
                        "to MailBank"));
}

TEST_F(ConsoleTest, DeleteRemovesAnErrorFileAndSaysWhoDidIt) {
  log_in();
  write_all(store.root() / "Error" / "bad.eml", "junk");
  EXPECT_THAT(after(post("/errors/delete", {{"file", "bad.eml"}})),
              HasSubstr("Deleted &quot;bad.eml&quot;"));
  EXPECT_FALSE(fs::exists(store.root() / "Error" / "bad.eml"));
  EXPECT_THAT(store.log_lines().back(),
              HasSubstr("Warning  Store console (127.0.0.1): deleted \"bad.eml\" from the Error "
                        "folder"));
  EXPECT_THAT(after(post("/errors/delete", {{"file", "bad.eml"}})),
              HasSubstr("holds no e-mail named"));
  EXPECT_EQ(store.log_lines().size(), 1u);

  // No file goes without its log entry.
  write_all(store.root() / "Error" / "kept.eml", "junk");
  fs::remove(store.root() / "Error" / "SortErr.log");
  fs::create_directory(store.root() / "Error" / "SortErr.log");
  EXPECT_THAT(after(post("/errors/delete", {{"file", "kept.eml"}})),
              HasSubstr("the log cannot be written"));
  EXPECT_TRUE(fs::exists(store.root() / "Error" / "kept.eml"));
}

// ---- names that are not UTF-8 ----

// A name as an old client writes it in the Windows code page, and as the pages show it.
const std::string kLatin1Name = "devoir-\xe9t\xe9.eml";
constexpr const char* kLatin1Shown = "devoir-\\xE9t\\xE9.eml";
// The name a trip through U+FFFD makes of it: another file, which must stay untouched.
const std::string kReplacedName = "devoir-\xef\xbf\xbdt\xef\xbf\xbd.eml";

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

// The fields of the first form posting to action after the file shown as shown.
std::multimap<std::string, std::string> form_after(const std::string& page,
                                                   const std::string& shown,
                                                   const std::string& action) {
  std::multimap<std::string, std::string> fields;
  const std::size_t at = page.find("<b>" + shown + "</b>");
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

struct Planted {
  std::string what;
  std::string folder;  // below the store folder
  std::string page;    // the page that shows it
  std::string shown;   // what that page shows
};

void PrintTo(const Planted& c, std::ostream* os) { *os << c.what; }

const Planted kPlanted[] = {
    {"in_a_buffer", "MailBox/ann/Buffer", "/buffer", kLatin1Shown},
    {"in_a_mailbox_folder", "MailBox/ann", "/mailboxes", "ann"},
    {"in_mail_bank", "MailBank", "/", kLatin1Shown},
    {"in_error", "Error", "/errors", kLatin1Shown},
    {"as_a_mailbox", "MailBox/cl\xe9ment/Buffer", "/mailboxes", "cl\\xE9ment"},
};

class ConsoleLatin1Name : public ConsoleTest, public ::testing::WithParamInterface<Planted> {};

TEST_P(ConsoleLatin1Name, EveryPageAnswersAndShowsTheNameEscaped) {
  const Planted& c = GetParam();
  log_in();
  fs::create_directories(store.root() / c.folder);
  write_all(store.root() / c.folder / kLatin1Name, bytes_of(mail(u"bob", u"ann", u"Devoir")));
  for (const char* path : {"/", "/mailboxes", "/buffer", "/errors"}) {
    const Response page = get(path);
    EXPECT_EQ(page.status, 200) << path << ": " << page.body;
    EXPECT_TRUE(is_utf8(page.body)) << path;
    if (path == c.page) EXPECT_THAT(page.body, HasSubstr(c.shown)) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Planted, ConsoleLatin1Name, ::testing::ValuesIn(kPlanted),
                         [](const auto& info) { return info.param.what; });

struct FormAction {
  std::string what;
  std::string folder;  // where the file lies
  std::string page;    // the page with the form
  std::string action;
  std::string target;  // where the file goes; empty when it is deleted
};

void PrintTo(const FormAction& c, std::ostream* os) { *os << c.action; }

const FormAction kFormActions[] = {
    {"release", "MailBox/cl\xe9ment/Buffer", "/buffer", "/buffer/release",
     "MailBox/cl\xe9ment/Inbox"},
    {"retry", "Error", "/errors", "/errors/retry", "MailBank"},
    {"delete", "Error", "/errors", "/errors/delete", ""},
};

class ConsoleLatin1Form : public ConsoleTest, public ::testing::WithParamInterface<FormAction> {};

TEST_P(ConsoleLatin1Form, ActsOnExactlyTheListedFile) {
  const FormAction& c = GetParam();
  log_in();
  store.add_mailbox("cl\xe9ment");
  const fs::path folder = store.root() / c.folder;
  const std::string content = bytes_of(mail(u"bob", u"ann", u"Devoir"));
  write_all(folder / kLatin1Name, content);
  fs::last_write_time(folder / kLatin1Name, fs::file_time_type::clock::now() - std::chrono::minutes(1));
  write_all(folder / kReplacedName, "another pupil's");

  const auto fields = form_after(get(c.page).body, kLatin1Shown, c.action);
  ASSERT_FALSE(fields.empty());
  const std::string page = after(post(c.action, fields));
  EXPECT_THAT(page, HasSubstr("notice good"));
  EXPECT_THAT(page, HasSubstr(std::string("&quot;") + kLatin1Shown + "&quot;"));
  EXPECT_FALSE(fs::exists(folder / kLatin1Name));
  if (!c.target.empty()) EXPECT_EQ(read_all(store.root() / c.target / kLatin1Name), content);
  EXPECT_EQ(read_all(folder / kReplacedName), "another pupil's");
  EXPECT_EQ(store.log_lines().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Forms, ConsoleLatin1Form, ::testing::ValuesIn(kFormActions),
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

TEST_F(ConsoleTest, LessonImportShowsTheImportersAnswerAndTheLesson) {
  log_in();
  const auto import = [&](const std::string& csv) {
    Request r;
    r.method = "POST";
    r.path = "/lessons/import";
    r.params.emplace("csrf", csrf);
    r.files["csv"] = UploadedFile{"<week>.csv", csv};
    return send(r);
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

  Request no_token;
  no_token.method = "POST";
  no_token.path = "/lessons/import";
  no_token.files["csv"] = UploadedFile{"a.csv", "1,a,b,c\r\n"};
  EXPECT_EQ(send(no_token).status, 403);
  EXPECT_EQ(log_text(), "");
}

TEST_F(ConsoleTest, LessonFileIsShownLikeTheLessonDisplay) {
  log_in();
  corvane::EmailLesson lesson;
  corvane::LessonStep step;
  step.Index = -3;
  lesson.steps = corvane::List<corvane::LessonStep>::sized(0, {step});
  const auto bytes = corvane::encode_record(lesson);
  Request r;
  r.method = "POST";
  r.path = "/lessons/show";
  r.params.emplace("csrf", csrf);
  r.files["lesson"] = UploadedFile{"l.dat", std::string(bytes.begin(), bytes.end())};
  const std::string page = send(r).body;
  EXPECT_THAT(page, HasSubstr("[l.dat]\r\nSteps:\r\n\tIndex: -3\tChoices: \r\n_____"));

  r.files["lesson"].content = std::string("\5\0", 2);
  EXPECT_THAT(send(r).body, HasSubstr("is not a lesson file"));
}

}  // namespace
}  // namespace sorter::console
