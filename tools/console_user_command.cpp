#include "tools/console_user_command.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "sorter/console/accounts.h"
#include "sorter/console/console_tls.h"
#include "tools/cli.h"
#include "tools/send_command.h"

namespace corvane::cli {
namespace {

constexpr std::size_t kMinPasswordLength = 10;

std::string users_file(const ParsedArgs& a) {
  return a.option("users-file").value_or(sorter::console::default_users_file(a.option("state")));
}

// Echo off on the terminal for as long as it lives.
class NoEcho {
 public:
  NoEcho() : saved_ok_(::tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!saved_ok_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~NoEcho() {
    if (saved_ok_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  termios saved_{};
  bool saved_ok_;
};

std::string read_line() {
  std::string line;
  if (!std::getline(std::cin, line)) throw CommandError("no password given");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string prompted(std::ostream& err, const char* prompt) {
  err << prompt << std::flush;
  const NoEcho quiet;
  std::string line = read_line();
  err << '\n';
  return line;
}

std::string read_password(const std::string& name, std::ostream& err) {
  std::string password;
  if (::isatty(STDIN_FILENO)) {
    password = prompted(err, ("Password for " + name + ": ").c_str());
    if (prompted(err, "Again: ") != password) throw CommandError("the passwords differ");
  } else {
    password = read_line();
  }
  if (password.size() < kMinPasswordLength) {
    throw CommandError("a password has at least " + std::to_string(kMinPasswordLength) +
                       " characters");
  }
  return password;
}

const std::string& account_name(const ParsedArgs& a) {
  const std::string& name = a.positional[0];
  if (!sorter::console::valid_account_name(name)) {
    throw UsageError("a teacher's name is 1 to 32 letters, digits, '.', '_' or '-', not \"" +
                     name + "\"");
  }
  return name;
}

}  // namespace

int console_user_usage(const ParsedArgs& a, std::ostream&, std::ostream&) {
  throw UsageError("unknown subcommand \"" + a.positional[0] + "\"; add, remove or list");
}

int console_user_add(const ParsedArgs& a, std::ostream& out, std::ostream& err) {
  const std::string& name = account_name(a);
  const std::string file = users_file(a);
  if (!a.option("users-file")) {
    const std::string folder = file.substr(0, file.rfind('/'));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      throw CommandError("cannot make " + folder + ": " + std::strerror(errno));
    }
  }
  const bool known = sorter::console::read_accounts(file).count(name) != 0;
  sorter::console::set_account(file, name, sorter::console::hash_password(read_password(name, err)));
  out << (known ? "new password for " : "added ") << name << " in " << file << "\n";
  return kExitOk;
}

int console_user_remove(const ParsedArgs& a, std::ostream& out, std::ostream&) {
  const std::string& name = account_name(a);
  const std::string file = users_file(a);
  if (!sorter::console::remove_account(file, name)) {
    throw CommandError("no account " + name + " in " + file);
  }
  out << "removed " << name << " from " << file << "\n";
  return kExitOk;
}

int console_user_list(const ParsedArgs& a, std::ostream& out, std::ostream&) {
  for (const auto& [name, hash] : sorter::console::read_accounts(users_file(a))) out << name << "\n";
  return kExitOk;
}

}  // namespace corvane::cli
