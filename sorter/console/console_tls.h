#pragma once
// Whether and how a console speaks HTTPS, as its command line says: with the administrator's
// certificate and key when given; else, on any address but a loopback one, with a self-signed
// certificate kept in the console's state folder, which may not lie inside the store (pupils
// write there). Plain HTTP stays on loopback addresses, where nothing crosses a network.

#include <memory>
#include <optional>
#include <string>

#include "sorter/console/server.h"
#include "sorter/console/tls.h"

namespace sorter::console {

struct TlsOptions {
  std::optional<std::string> certificate;  // PEM files the administrator gives, both or neither
  std::optional<std::string> key;
  std::optional<std::string> state_folder;  // default_state_folder() when not given
};

// The context for the endpoint, or none for plain HTTP. Throws std::invalid_argument for a
// certificate without a key (or the other way round) or a state folder inside the store, and
// std::runtime_error when the files cannot be made or read.
std::shared_ptr<const TlsContext> console_tls(const Endpoint& endpoint, const TlsOptions& options,
                                              const std::string& store_folder);

// Throws std::invalid_argument when path lies inside the store folder (what names it).
void check_outside_store(const std::string& path, const std::string& store_folder,
                         const std::string& what);

// $STATE_DIRECTORY (a systemd service's StateDirectory=), else $XDG_STATE_HOME/corvane, else
// $HOME/.local/state/corvane.
std::string default_state_folder();

// The teachers' accounts in the state folder: <folder>/console-users.
std::string default_users_file(const std::optional<std::string>& state_folder);

}  // namespace sorter::console
