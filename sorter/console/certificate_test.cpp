// The console's certificate files: made once for the machine's names, kept, made again when
// half of the pair is gone, and refused when the key could be read by others or does not
// belong to the certificate.

#include "sorter/console/certificate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "sorter/console/tls.h"
#include "tests/support/temp_dir.h"

namespace sorter::console {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(ConsoleCertificateNames, AreThisMachinesAndTheGivenOnesWithTheListeningAddress) {
  const CertificateNames names = machine_names("192.168.10.5", {"mail.school.example"});
  ASSERT_EQ(names.dns.size(), 3u);
  EXPECT_EQ(names.dns[1], "localhost");
  EXPECT_EQ(names.dns[2], "mail.school.example");
  EXPECT_EQ(names.ip, (std::vector<std::string>{"127.0.0.1", "::1", "192.168.10.5"}));
  EXPECT_EQ(machine_names("0.0.0.0", {}).ip, (std::vector<std::string>{"127.0.0.1", "::1"}));
}

// What a second start finds in the state folder, and whether it serves with the certificate
// of the first start, a new one, or refuses (the reason's start).
TEST(ConsoleCertificateFiles, AreKeptMadeAgainOrRefusedAsTheStateFolderHoldsThem) {
  const struct {
    const char* what;
    std::function<void(const fs::path& state, const fs::path& other)> change;
    const char* outcome;  // "same", "new", or the start of the refusal
  } cases[] = {
      {"untouched", [](const fs::path&, const fs::path&) {}, "same"},
      {"key gone", [](const fs::path& s, const fs::path&) { fs::remove(s / "console-key.pem"); },
       "new"},
      {"certificate gone",
       [](const fs::path& s, const fs::path&) { fs::remove(s / "console-cert.pem"); }, "new"},
      {"key readable by the group",
       [](const fs::path& s, const fs::path&) { ::chmod((s / "console-key.pem").c_str(), 0640); },
       "must be a file of this user that no one else may read"},
      {"key a link to a key",
       [](const fs::path& s, const fs::path& o) {
         fs::remove(s / "console-key.pem");
         fs::create_symlink(o / "console-key.pem", s / "console-key.pem");
       },
       "must be a file of this user that no one else may read"},
      {"another pair's key",
       [](const fs::path& s, const fs::path& o) {
         fs::copy_file(o / "console-key.pem", s / "console-key.pem",
                       fs::copy_options::overwrite_existing);
       },
       "the key in"},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    const fs::path state = dir / "state", other = dir / "other";
    const CertificateNames names = machine_names("127.0.0.1", {});
    const auto first = self_signed_certificate(state.string(), names);
    self_signed_certificate(other.string(), names);
    struct stat st {};
    ASSERT_EQ(::stat(first.key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string before = TlsContext(first).fingerprint();
    c.change(state, other);
    try {
      const std::string after =
          TlsContext(self_signed_certificate(state.string(), names)).fingerprint();
      EXPECT_EQ(after == before ? "same" : "new", std::string(c.outcome)) << c.what;
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.outcome)) << c.what;
      EXPECT_NE(std::string(c.outcome), "same");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(state), {}), 2) << c.what << ": no leftovers";
  }
}

}  // namespace
}  // namespace sorter::console
