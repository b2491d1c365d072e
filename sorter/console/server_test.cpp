// The HTTP layer over a real socket on loopback: requests reach the console with their form
// fields, uploads and cookies, and the answers carry the console's headers. Also the address
// option and the token file.

#include "sorter/console/server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "sorter/console/console_test_support.h"
#include "sorter/console/front_door.h"
#include "sorter/console/raw_client_test_support.h"
#include "sorter/console/wire_test_support.h"

namespace sorter::console {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::RawClient;
using testing::status_line;

TEST(ConsoleEndpoint, PortAloneMeansLoopback) {
  EXPECT_EQ(parse_endpoint("8080").address, "127.0.0.1");
  EXPECT_EQ(parse_endpoint("8080").port, 8080);
  EXPECT_EQ(parse_endpoint("0.0.0.0:80").address, "0.0.0.0");
  EXPECT_EQ(parse_endpoint("[::1]:9000").address, "::1");
  EXPECT_EQ(parse_endpoint("[::1]:9000").port, 9000);
  for (const char* bad : {"", "host:", ":80", "80000", "x:8o", "[::1]9000"}) {
    EXPECT_THROW(parse_endpoint(bad), std::invalid_argument) << bad;
  }
  EXPECT_EQ(parse_host_names("mail.school.example,mail"),
            (std::vector<std::string>{"mail.school.example", "mail"}));
  for (const char* bad : {"", ",", "a,", ",a", "a,,b", "a b", "a:80", "[::1]", "a/b"}) {
    EXPECT_THROW(parse_host_names(bad), std::invalid_argument) << bad;
  }
}

TEST(ConsoleTokenFile, IsReadableByItsOwnerOnlyAndNeverWrittenThroughALink) {
  testsupport::TempDir dir;
  const std::string path = (dir / "console.token").string();
  write_token_file(path, "abc");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(testsupport::read_text(path), "abc\n");

  testsupport::write_text(dir / "victim", "keep");
  std::filesystem::create_symlink(dir / "victim", dir / "link.token");
  EXPECT_THROW(write_token_file((dir / "link.token").string(), "abc"), std::runtime_error);
  EXPECT_EQ(testsupport::read_text(dir / "victim"), "keep");
}

TEST(ConsoleServer, CarriesFormsUploadsAndCookiesBothWays) {
  ConsoleOptions options;
  options.access_token = "tok";
  testing::ConsoleRig rig(options);
  ConsoleServer server(rig.console, parse_endpoint("127.0.0.1:0"));
  ASSERT_GT(server.port(), 0);
  EXPECT_EQ(server.url(), "http://127.0.0.1:" + std::to_string(server.port()) + "/");

  httplib::Client client("127.0.0.1", server.port());
  auto login = client.Post("/login", httplib::Params{{"token", "tok"}});
  ASSERT_TRUE(login);
  ASSERT_EQ(login->status, 303);
  const std::string set_cookie = login->get_header_value("Set-Cookie");
  EXPECT_THAT(set_cookie, HasSubstr("HttpOnly; SameSite=Strict"));
  const httplib::Headers cookie{{"Cookie", set_cookie.substr(0, set_cookie.find(';'))}};

  auto page = client.Get("/lessons", cookie);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_THAT(page->get_header_value("Content-Security-Policy"), HasSubstr("script-src 'self'"));
  const std::string csrf = testing::form_token(page->body);
  ASSERT_NE(csrf, "");

  const httplib::MultipartFormDataItems upload{{"csrf", csrf, "", ""},
                                               {"csv", "1,Ann,Hi,Hello\r\n", "a.csv", "text/csv"}};
  auto imported = client.Post("/lessons/import", cookie, upload);
  ASSERT_TRUE(imported);
  EXPECT_EQ(imported->status, 200);
  EXPECT_THAT(imported->body, HasSubstr("answered <b>True</b>"));
  server.stop();
}

// The front door's bounds, over plain HTTP and over HTTPS alike.
class ConsoleFrontDoor : public ::testing::TestWithParam<testing::Wire> {
 protected:
  ConsoleFrontDoor() { options.access_token = "tok"; }
  int port() const { return wire.port(); }
  bool tls() const { return GetParam() == testing::Wire::kHttps; }
  std::unique_ptr<RawClient> connect(const char* from = "127.0.0.1") {
    return std::make_unique<RawClient>(port(), from, tls());
  }
  std::string post_head(const std::string& extra) {
    return "POST /login HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port()) +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\n" + extra + "\r\n";
  }
  ConsoleOptions options;
  testing::ConsoleRig rig{options};
  testing::WireConsole wire{rig.console, GetParam()};
  ConsoleServer& server = *wire.server();
};

INSTANTIATE_TEST_SUITE_P(Wires, ConsoleFrontDoor,
                         ::testing::Values(testing::Wire::kHttp, testing::Wire::kHttps),
                         [](const auto& info) { return testing::name_of(info.param); });

// Each of these is answered from its headers alone: the body is never sent, so an answer
// proves that the console did not wait to read it.
TEST_P(ConsoleFrontDoor, BodiesThatCouldGrowWithoutBoundAreRefusedUnread) {
  const struct {
    const char* headers;
    const char* status;
  } cases[] = {
      {"Transfer-Encoding: chunked\r\n", "HTTP/1.1 411 Length Required"},
      {"Content-Encoding: gzip\r\nContent-Length: 130000\r\n", "HTTP/1.1 415 Unsupported Media Type"},
      {"Content-Length: 50331648\r\n", "HTTP/1.1 413 Payload Too Large"},
      {"Content-Length: 1048576\r\n", "HTTP/1.1 413 Payload Too Large"},  // no session
  };
  for (const auto& c : cases) {
    const auto client = connect();
    client->send(post_head(c.headers));
    EXPECT_EQ(status_line(client->answer()), c.status) << c.headers;
  }
}

TEST_P(ConsoleFrontDoor, HeadersPastTheirBoundEndTheRequest) {
  const auto client = connect();
  client->send("GET /login HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port()) + "\r\n");
  std::string lines;
  for (int i = 0; i < 4000; ++i) lines += "X-" + std::to_string(i) + ": y\r\n";  // ~40 KiB
  client->send(lines);
  EXPECT_EQ(status_line(client->answer()), "HTTP/1.1 400 Bad Request");
}

TEST_P(ConsoleFrontDoor, AForeignHostIsRefusedAndTheConsolesOwnNamesServe) {
  const std::string port = std::to_string(this->port());
  for (const std::string host : {"evil.example:" + port, "127.0.0.1:1" + port, std::string()}) {
    const auto client = connect();
    client->send("GET /login HTTP/1.1\r\n" + (host.empty() ? "" : "Host: " + host + "\r\n") + "\r\n");
    EXPECT_EQ(status_line(client->answer()), "HTTP/1.1 421 Misdirected Request") << host;
  }
  for (const std::string host : {"localhost:" + port, "127.0.0.1:" + port}) {
    const auto client = connect();
    client->send("GET /login HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    EXPECT_EQ(status_line(client->answer()), "HTTP/1.1 200 OK") << host;
  }
}

// A client that never falls silent for the idle time but never ends its header either (under
// TLS, after its handshake) is cut off by the header time: the console ends the connection
// long before the client would have finished.
TEST_P(ConsoleFrontDoor, AHeaderDrippedByteByByteIsCutOff) {
  const auto client = connect();
  client->send("GET /login HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port()) +
               "\r\nX-Slow: ");
  int sent = 0;
  for (; sent < 60 && !client->ended(); ++sent) {  // a byte every 0.5 s: 30 s in all
    client->send("x");
    client->answer(std::chrono::milliseconds(500));
  }
  EXPECT_TRUE(client->ended());
  EXPECT_LT(sent, 60) << "the header time bounds the whole header";
}

// A pupil's machine opening connection after connection and sending nothing (under TLS, not
// even its handshake) holds its own share and no more; a teacher's machine is served
// meanwhile, and every place comes back. Under TLS a refused connection is closed unanswered:
// a refusal must not cost a handshake.
TEST_P(ConsoleFrontDoor, IdleConnectionsOfOneMachineDoNotKeepAnotherOut) {
  std::vector<std::unique_ptr<RawClient>> pupil;
  for (int i = 0; i < 20; ++i) pupil.push_back(std::make_unique<RawClient>(port(), "127.0.0.2"));
  std::string refused = pupil.back()->answer(std::chrono::seconds(2));
  EXPECT_EQ(status_line(refused), tls() ? "" : "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(pupil.back()->ended());

  for (const char* teacher : {"127.0.0.3", "127.0.0.4"}) {
    const auto client = connect(teacher);
    client->send("GET /login HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port()) +
                 "\r\n\r\n");
    EXPECT_EQ(status_line(client->answer()), "HTTP/1.1 200 OK") << teacher;
  }
  // A served connection leaves its place just after its answer is out.
  const auto settle = [&](int expected) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server.connections() != expected && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return server.connections();
  };
  EXPECT_EQ(settle(FrontDoorLimits::kMaxConnectionsPerClient),
            FrontDoorLimits::kMaxConnectionsPerClient);
  pupil.clear();
  EXPECT_EQ(settle(0), 0);
}

// Plain HTTP sent to the HTTPS console gets nothing of a page, and the console goes on.
TEST(ConsoleHttps, SpeaksNothingButTls) {
  ConsoleOptions options;
  options.access_token = "tok";
  testing::ConsoleRig rig(options);
  const testing::WireConsole wire(rig.console, testing::Wire::kHttps);
  RawClient plain(wire.port());
  plain.send("GET /login HTTP/1.1\r\nHost: " + wire.host() + "\r\n\r\n");
  EXPECT_THAT(plain.answer(), Not(HasSubstr("Store console")));
  const auto page = wire.client()->Get("/login", {{"Host", wire.host()}});
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
}

TEST(ConsoleServerStop, EndsConnectionsThatAreStillTalking) {
  ConsoleOptions options;
  options.access_token = "tok";
  testing::ConsoleRig rig(options);
  auto server = std::make_unique<ConsoleServer>(rig.console, parse_endpoint("127.0.0.1:0"));
  RawClient slow(server->port());
  slow.send("GET /login HTTP/1.1\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto before = std::chrono::steady_clock::now();
  server.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4))
      << "stop waits neither for the client's idle time nor its header time";
}

}  // namespace
}  // namespace sorter::console
