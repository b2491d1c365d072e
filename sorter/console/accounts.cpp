#include "sorter/console/accounts.h"

#include <sodium.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "sorter/console/sessions.h"
#include "sorter/console/state_file.h"

namespace sorter::console {
namespace {

void start_sodium() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

std::string folder_of(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

std::string text_of(const std::map<std::string, std::string>& accounts) {
  std::string out;
  for (const auto& [name, hash] : accounts) out += name + ":" + hash + "\n";
  return out;
}

void write_accounts(const std::string& users_file,
                    const std::map<std::string, std::string>& accounts) {
  // An existing file keeps its owner; a new one takes its folder's.
  auto owner = owner_of(users_file);
  if (!owner) owner = owner_of(folder_of(users_file));
  replace_state_file(users_file, text_of(accounts), 0600, owner);
}

}  // namespace

bool valid_account_name(std::string_view name) {
  if (name.empty() || name.size() > 32 || name.front() == '.' || name.front() == '-') return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string hash_password(std::string_view password) {
  start_sodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(),
                            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw std::runtime_error("not enough memory to hash the password");
  }
  return hash;
}

bool password_matches(const std::string& hash, std::string_view password) {
  start_sodium();
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::map<std::string, std::string> read_accounts(const std::string& users_file) {
  std::map<std::string, std::string> accounts;
  if (!state_file_exists(users_file)) return accounts;
  const std::string text = read_state_file(users_file);
  std::size_t from = 0;
  for (int line = 1; from < text.size(); ++line) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string_view row(text.data() + from, end - from);
    from = end + 1;
    if (row.empty()) continue;
    const std::size_t colon = row.find(':');
    const std::string_view name = row.substr(0, colon);
    if (colon == std::string_view::npos || !valid_account_name(name) ||
        row.substr(colon + 1).rfind("$argon2id$", 0) != 0 ||
        row.size() - colon - 1 >= crypto_pwhash_STRBYTES) {
      throw std::runtime_error(users_file + ": line " + std::to_string(line) +
                               " is not NAME:ARGON2ID-HASH");
    }
    accounts[std::string(name)] = std::string(row.substr(colon + 1));
  }
  return accounts;
}

void set_account(const std::string& users_file, const std::string& name,
                 const std::string& hash) {
  if (!valid_account_name(name)) {
    throw std::invalid_argument("a teacher's name is 1 to 32 letters, digits, '.', '_' or '-', not \"" +
                                name + "\"");
  }
  auto accounts = read_accounts(users_file);
  accounts[name] = hash;
  write_accounts(users_file, accounts);
}

bool remove_account(const std::string& users_file, const std::string& name) {
  auto accounts = read_accounts(users_file);
  if (accounts.erase(name) == 0) return false;
  write_accounts(users_file, accounts);
  return true;
}

void Accounts::refresh() {
  struct stat st {};
  if (file_.empty() || ::stat(file_.c_str(), &st) != 0) {
    exists_ = !file_.empty() && errno != ENOENT;
    problem_ = exists_ ? std::optional<std::string>(file_ + ": " + std::strerror(errno))
                       : std::nullopt;
    accounts_.clear();
    stamp_.reset();
    return;
  }
  const Stamp now{st.st_dev, st.st_ino, static_cast<long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
  exists_ = true;
  if (stamp_ == now) return;
  stamp_ = now;
  try {
    accounts_ = read_accounts(file_);
    problem_.reset();
  } catch (const std::exception& e) {
    accounts_.clear();
    problem_ = e.what();
  }
}

bool Accounts::any() {
  refresh();
  return exists_ && (problem_ || !accounts_.empty());
}

std::optional<std::string> Accounts::problem() {
  refresh();
  return problem_;
}

bool Accounts::exists(const std::string& name) {
  refresh();
  return accounts_.count(name) != 0;
}

bool Accounts::verify(const std::string& name, std::string_view password) {
  refresh();
  static const std::string kNobody = hash_password(random_hex(16));
  const auto it = accounts_.find(name);
  const bool matches = password_matches(it == accounts_.end() ? kNobody : it->second, password);
  return matches && it != accounts_.end();
}

}  // namespace sorter::console
