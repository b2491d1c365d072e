// What the console decides from a request's headers, and the stream bounds that end a request
// a client drags out or inflates.

#include "sorter/console/front_door.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <thread>

#include "sorter/console/socket_stream.h"

namespace sorter::console {
namespace {

TEST(ConsoleHost, AnswersToAddressesItsOwnNamesAndTheGivenOnesWithItsPort) {
  const std::vector<std::string> names = {"console.school.example", "Mail"};
  struct Case {
    const char* host;
    int port;
    bool allowed;
  } const cases[] = {
      {"127.0.0.1:8080", 8080, true},
      {"192.168.1.20:8080", 8080, true},
      {"[::1]:8080", 8080, true},
      {"[fe80::1]:8080", 8080, true},
      {"localhost:8080", 8080, true},
      {"LOCALHOST.:8080", 8080, true},
      {"console.school.example:8080", 8080, true},
      {"Console.School.Example.:8080", 8080, true},
      {"mail:8080", 8080, true},
      {"mail", 80, true},
      {"127.0.0.1", 80, true},
      {"[::1]", 80, true},
      // what a page behind a rebound name sends
      {"evil.example:8080", 8080, false},
      {"console.school.example.evil.example:8080", 8080, false},
      {"127.0.0.1.nip.example:8080", 8080, false},
      // the right name with the wrong port, or a port where none is due
      {"127.0.0.1:8081", 8080, false},
      {"127.0.0.1", 8080, false},
      {"127.0.0.1:", 80, false},
      {"mail:080x", 80, false},
      {"[::1", 8080, false},
      {"[::1]x:8080", 8080, false},
      {"[not-an-address]:8080", 8080, false},
      {"", 8080, false},
      {":8080", 8080, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_is_allowed(c.host, c.port, names), c.allowed) << c.host << " port " << c.port;
  }
  std::array<char, 256> own{};
  ASSERT_EQ(::gethostname(own.data(), own.size() - 1), 0);
  EXPECT_TRUE(host_is_allowed(std::string(own.data()) + ":8080", 8080, {}));
}

TEST(ConsoleHeaders, RefuseWhatWouldBeReadUnboundedBeforeReadingIt) {
  using Headers = std::map<std::string, std::string>;
  const std::string host = "127.0.0.1:8080";
  struct Case {
    const char* what;
    Headers headers;
    bool in_session;
    int status;  // 0: taken
  } const cases[] = {
      {"a plain form", {{"host", host}, {"content-length", "40"}}, false, 0},
      {"no Host", {{"content-length", "40"}}, false, 421},
      {"a foreign Host", {{"host", "evil.example:8080"}}, true, 421},
      {"chunked", {{"host", host}, {"transfer-encoding", "chunked"}}, true, 411},
      {"any transfer coding", {{"host", host}, {"transfer-encoding", "identity"}}, true, 411},
      {"gzip", {{"host", host}, {"content-encoding", "gzip"}, {"content-length", "9"}}, true, 415},
      {"deflate", {{"host", host}, {"content-encoding", "deflate"}}, true, 415},
      {"identity", {{"host", host}, {"content-encoding", "Identity"}}, false, 0},
      {"login-sized without session", {{"host", host}, {"content-length", "65536"}}, false, 0},
      {"too big without session", {{"host", host}, {"content-length", "65537"}}, false, 413},
      {"a lesson in session", {{"host", host}, {"content-length", "16777216"}}, true, 0},
      {"too big in session", {{"host", host}, {"content-length", "16777217"}}, true, 413},
      {"huge", {{"host", host}, {"content-length", "99999999999999999999"}}, true, 413},
      {"not a number", {{"host", host}, {"content-length", "-1"}}, true, 413},
  };
  for (const Case& c : cases) {
    const auto refusal = refuse_on_headers(c.headers, 8080, {}, c.in_session);
    EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.what;
  }
}

TEST(ConsoleClients, CountPerMachineAndBoundConnections) {
  EXPECT_EQ(client_key("10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(client_key("::ffff:10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(client_key("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
  EXPECT_EQ(client_key("2001:db8:1:2::1"), client_key("2001:db8:1:2::ffff"));
  EXPECT_NE(client_key("2001:db8:1:2::1"), client_key("2001:db8:1:3::1"));

  ConnectionGate gate(5, 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(gate.enter("a"));
  EXPECT_FALSE(gate.enter("a"));
  EXPECT_TRUE(gate.enter("b"));
  EXPECT_TRUE(gate.enter("c"));
  EXPECT_FALSE(gate.enter("d")) << "all places taken";
  gate.leave("a");
  EXPECT_TRUE(gate.enter("d"));
  EXPECT_FALSE(gate.enter("a"));
  gate.leave("unknown");
  EXPECT_EQ(gate.held(), 5);
}

// A stream over one end of a socket pair, the test writing into the other.
class BoundedStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    plain = PlainTransport(fds[0]);
  }
  void TearDown() override {
    for (int fd : fds) ::close(fd);
  }
  BoundedSocketStream stream(std::chrono::milliseconds header_time,
                             std::chrono::milliseconds idle_time = std::chrono::seconds(5)) {
    const StreamLimits limits{64, 10, header_time, std::chrono::seconds(5), idle_time};
    return BoundedSocketStream(fds[0], plain, {"10.0.0.1", 1}, {"10.0.0.2", 2}, limits,
                               std::chrono::steady_clock::now());
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads byte by byte, as the library's line reader does, until a read fails.
  std::string read_all(BoundedSocketStream& s) {
    std::string out;
    char c;
    while (s.read(&c, 1) == 1) out += c;
    return out;
  }
  int fds[2] = {-1, -1};
  PlainTransport plain{-1};
};

TEST_F(BoundedStream, HeaderAndBodyEachWithinTheirBytes) {
  auto s = stream(std::chrono::seconds(5), std::chrono::milliseconds(50));
  const std::string header = "POST / HTTP/1.1\r\nA: b\r\n\r\n";
  send(header + "0123456789" + "X");
  EXPECT_EQ(read_all(s), header + "0123456789");
  EXPECT_TRUE(s.header_done());

  auto long_header = stream(std::chrono::seconds(5), std::chrono::milliseconds(50));
  send(std::string(100, 'h'));
  EXPECT_EQ(read_all(long_header).size(), 64u);
  EXPECT_FALSE(long_header.header_done());
}

TEST_F(BoundedStream, HeaderEndsInTimeHoweverSteadilyItDrips) {
  auto s = stream(std::chrono::milliseconds(300), std::chrono::milliseconds(200));
  std::atomic<bool> done{false};
  std::thread drip([&] {  // a byte every 20 ms: never idle, never finished
    for (int i = 0; i < 100 && !done; ++i) {
      if (::write(fds[1], "a", 1) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const std::string got = read_all(s);
  done = true;
  drip.join();
  EXPECT_LT(got.size(), 40u) << "the header time bounds a client that never stops sending";
  EXPECT_GT(got.size(), 0u);
}

TEST_F(BoundedStream, SilenceEndsTheRequest) {
  auto s = stream(std::chrono::seconds(5), std::chrono::milliseconds(100));
  send("GET");
  EXPECT_EQ(read_all(s), "GET");
  EXPECT_FALSE(s.is_readable());
}

}  // namespace
}  // namespace sorter::console
