// The teachers' users file: what is written reads back, lies in a file only its owner reads,
// and a damaged file is refused by line; the console's view follows the file as it changes.

#include "sorter/console/accounts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace sorter::console {
namespace {

using Accounts_ = std::map<std::string, std::string>;

TEST(ConsoleAccountNames, AreShortPlainWords) {
  for (const char* good : {"a", "ms.lee", "j_smith-2", "ABC", "x1234567890123456789012345678901"}) {
    EXPECT_TRUE(valid_account_name(good)) << good;
  }
  for (const char* bad : {"", ".hidden", "-rf", "ann:x", "ann lee", "ann\n", "\xC3\xA9va", "a/b",
                          "x12345678901234567890123456789012"}) {
    EXPECT_FALSE(valid_account_name(bad)) << bad;
  }
}

// One hash per password, salted: the same password twice gives two hashes, each of which
// takes that password only.
TEST(ConsolePasswords, AreArgon2idHashesThatTakeTheirPasswordOnly) {
  const std::string a = hash_password("correct horse");
  const std::string b = hash_password("correct horse");
  EXPECT_EQ(a.rfind("$argon2id$", 0), 0u) << a;
  EXPECT_NE(a, b);
  for (const std::string& hash : {a, b}) {
    EXPECT_TRUE(password_matches(hash, "correct horse"));
    for (const char* wrong : {"", "correct hors", "correct horse ", "Correct horse"}) {
      EXPECT_FALSE(password_matches(hash, wrong)) << wrong;
    }
  }
  EXPECT_FALSE(password_matches("not a hash", "correct horse"));
}

TEST(ConsoleUsersFile, KeepsEachAccountOnceInAFileOnlyItsOwnerReads) {
  testsupport::TempDir dir;
  const std::string file = (dir / "users").string();
  EXPECT_EQ(read_accounts(file), Accounts_{});
  set_account(file, "ann", "$argon2id$one");
  set_account(file, "bob", "$argon2id$two");
  set_account(file, "ann", "$argon2id$three");
  EXPECT_EQ(read_accounts(file), (Accounts_{{"ann", "$argon2id$three"}, {"bob", "$argon2id$two"}}));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(remove_account(file, "ann"));
  EXPECT_FALSE(remove_account(file, "ann"));
  EXPECT_EQ(read_accounts(file), (Accounts_{{"bob", "$argon2id$two"}}));
  EXPECT_THROW(set_account(file, "bad name", "$argon2id$x"), std::invalid_argument);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "no temporary file is left";
}

TEST(ConsoleUsersFile, ADamagedLineIsRefusedByNumber) {
  testsupport::TempDir dir;
  const std::string file = (dir / "users").string();
  for (const auto& [text, line] :
       {std::pair{"ann:$argon2id$x\nbob\n", 2}, {"ann:plain-password\n", 1},
        {"\nann:$argon2id$x\nbad name:$argon2id$x\n", 3}, {":$argon2id$x\n", 1},
        {"ann:$argon2i$v=19$x\n", 1}}) {
    std::ofstream(file, std::ios::trunc) << text;
    try {
      read_accounts(file);
      ADD_FAILURE() << text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()),
                file + ": line " + std::to_string(line) + " is not NAME:ARGON2ID-HASH");
    }
  }
}

// The console sees accounts added, changed and removed without a restart; a file that cannot be
// read still counts as holding accounts (so the token does not become the way in again).
TEST(ConsoleAccountsView, FollowsTheFileAsItChanges) {
  testsupport::TempDir dir;
  const std::string file = (dir / "users").string();
  Accounts accounts(file);
  EXPECT_FALSE(accounts.any());
  set_account(file, "ann", hash_password("first password"));
  EXPECT_TRUE(accounts.any());
  EXPECT_TRUE(accounts.verify("ann", "first password"));
  EXPECT_FALSE(accounts.verify("bob", "first password"));
  set_account(file, "ann", hash_password("second password"));
  EXPECT_FALSE(accounts.verify("ann", "first password"));
  EXPECT_TRUE(accounts.verify("ann", "second password"));
  remove_account(file, "ann");
  EXPECT_FALSE(accounts.exists("ann"));
  EXPECT_FALSE(accounts.any()) << "an empty file holds no account";
  std::ofstream(file, std::ios::trunc) << "damaged\n";
  EXPECT_TRUE(accounts.any());
  EXPECT_EQ(accounts.problem().value_or(""), file + ": line 1 is not NAME:ARGON2ID-HASH");
  EXPECT_FALSE(accounts.verify("damaged", ""));
}

}  // namespace
}  // namespace sorter::console
