// The HTTP layer over a real socket on loopback: requests reach the console with their form
// fields, uploads and cookies, and the answers carry the console's headers. Also the address
// option and the token file.

#include "sorter/console/server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <fstream>

#include "sorter/console/console_test_support.h"

namespace sorter::console {
namespace {

using ::testing::HasSubstr;

TEST(ConsoleEndpoint, PortAloneMeansLoopback) {
  EXPECT_EQ(parse_endpoint("8080").address, "127.0.0.1");
  EXPECT_EQ(parse_endpoint("8080").port, 8080);
  EXPECT_EQ(parse_endpoint("0.0.0.0:80").address, "0.0.0.0");
  EXPECT_EQ(parse_endpoint("[::1]:9000").address, "::1");
  EXPECT_EQ(parse_endpoint("[::1]:9000").port, 9000);
  for (const char* bad : {"", "host:", ":80", "80000", "x:8o", "[::1]9000"}) {
    EXPECT_THROW(parse_endpoint(bad), std::invalid_argument) << bad;
  }
}

TEST(ConsoleTokenFile, IsReadableByItsOwnerOnlyAndNeverWrittenThroughALink) {
  testsupport::TempDir dir;
  const std::string path = (dir / "console.token").string();
  write_token_file(path, "abc");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ifstream in(path);
  std::string token;
  std::getline(in, token);
  EXPECT_EQ(token, "abc");

  std::ofstream(dir / "victim") << "keep";
  std::filesystem::create_symlink(dir / "victim", dir / "link.token");
  EXPECT_THROW(write_token_file((dir / "link.token").string(), "abc"), std::runtime_error);
  std::ifstream victim(dir / "victim");
  std::getline(victim, token);
  EXPECT_EQ(token, "keep");
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

  auto refused = client.Post("/lessons/import", cookie,
                             httplib::MultipartFormDataItems{{"csv", "1,a,b,c", "a.csv", ""}});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
  server.stop();
}

}  // namespace
}  // namespace sorter::console
