#pragma once
// Teachers' accounts of the console: one line "name:hash" per teacher in the users file, the
// hash an Argon2id string made by libsodium (salt and cost inside it). The file is written
// whole through a temporary file with mode 0600 and its owner kept (a new file takes its
// folder's owner, so that a file that root writes into the service's state folder is the
// service's).

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace sorter::console {

// 1 to 32 of A-Z a-z 0-9 . _ - and not starting with '.' or '-'.
bool valid_account_name(std::string_view name);

// An Argon2id hash string of the password (libsodium's interactive cost); throws
// std::runtime_error when libsodium cannot run or has no memory for it.
std::string hash_password(std::string_view password);
bool password_matches(const std::string& hash, std::string_view password);

// The accounts of a users file by name; none when the file does not exist. Throws
// std::runtime_error for a file that cannot be read or a line that is not "name:hash".
std::map<std::string, std::string> read_accounts(const std::string& users_file);

// Adds or replaces the account's hash; throws std::invalid_argument for a bad name,
// std::runtime_error when the file cannot be read or written.
void set_account(const std::string& users_file, const std::string& name,
                 const std::string& hash);
// Whether there was such an account.
bool remove_account(const std::string& users_file, const std::string& name);

// The accounts as the console sees them: the file read again whenever it changed.
class Accounts {
 public:
  explicit Accounts(std::string users_file) : file_(std::move(users_file)) {}

  // Whether the file holds an account (a file that cannot be read counts: it was meant to).
  bool any();
  // Why the file could not be read, if it could not.
  std::optional<std::string> problem();
  bool exists(const std::string& name);
  // Whether the name and password are an account's; an unknown name costs as long as a
  // wrong password, so that names cannot be told by the time an answer takes.
  bool verify(const std::string& name, std::string_view password);

 private:
  void refresh();
  struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    long long size = -1;
    long long modified_ns = 0;
    bool operator==(const Stamp&) const = default;
  };
  std::string file_;
  std::optional<Stamp> stamp_;
  std::map<std::string, std::string> accounts_;
  std::optional<std::string> problem_;
  bool exists_ = false;
};

}  // namespace sorter::console
