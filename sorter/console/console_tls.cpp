#include "sorter/console/console_tls.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace sorter::console {
namespace {

namespace fs = std::filesystem;

std::string first_of(const char* list) {
  std::string text = list;
  if (const std::size_t colon = text.find(':'); colon != std::string::npos) text.resize(colon);
  return text;
}

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

bool lies_within(const fs::path& inner, const fs::path& outer) {
  const fs::path a = fs::weakly_canonical(fs::absolute(inner));
  const fs::path b = fs::weakly_canonical(fs::absolute(outer));
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // the trailing separator of a folder
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

}  // namespace

void check_outside_store(const std::string& path, const std::string& store_folder,
                         const std::string& what) {
  if (lies_within(path, store_folder)) {
    throw std::invalid_argument(what + " " + path + " lies inside the store; give one outside it");
  }
}

std::string default_state_folder() {
  if (const char* state = variable("STATE_DIRECTORY")) return first_of(state);
  if (const char* xdg = variable("XDG_STATE_HOME")) return std::string(xdg) + "/corvane";
  if (const char* home = variable("HOME")) return std::string(home) + "/.local/state/corvane";
  return "./corvane-state";
}

std::string default_users_file(const std::optional<std::string>& state_folder) {
  return state_folder.value_or(default_state_folder()) + "/console-users";
}

std::shared_ptr<const TlsContext> console_tls(const Endpoint& endpoint, const TlsOptions& options,
                                              const std::string& store_folder) {
  if (options.certificate.has_value() != options.key.has_value()) {
    throw std::invalid_argument("the console's certificate and key are given together");
  }
  if (options.certificate) {
    return std::make_shared<const TlsContext>(CertificateFiles{*options.certificate, *options.key});
  }
  if (is_loopback(endpoint.address)) return nullptr;
  const std::string folder = options.state_folder.value_or(default_state_folder());
  check_outside_store(folder, store_folder, "the console's state folder");
  fs::create_directories(fs::path(folder).parent_path().empty() ? fs::path(".")
                                                                 : fs::path(folder).parent_path());
  const CertificateFiles files =
      self_signed_certificate(folder, machine_names(endpoint.address, endpoint.host_names));
  return std::make_shared<const TlsContext>(files);
}

}  // namespace sorter::console
