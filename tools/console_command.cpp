#include "tools/console_command.h"

#include <signal.h>

#include <filesystem>
#include <mutex>

#include "platform/instance_guard.h"
#include "platform/utf.h"
#include "sorter/console/console.h"
#include "sorter/console/console_tls.h"
#include "sorter/console/server.h"
#include "sorter/engine/store_paths.h"
#include "tools/cli.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

// The store folder as an absolute path without a trailing separator.
std::u16string store_folder(const std::string& given) {
  std::string path = fs::weakly_canonical(fs::absolute(fs::path(given))).string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return platform::from_utf8(path == "/" ? "" : path);
}

}  // namespace

int run_console_command(const ParsedArgs& a, std::ostream& out, std::ostream& err) {
  auto endpoint = sorter::console::parse_endpoint(a.option("listen").value_or("127.0.0.1:8080"));
  if (const auto names = a.option("host")) {
    endpoint.host_names = sorter::console::parse_host_names(*names);
  }
  const std::u16string store = store_folder(a.positional[0]);
  if (!fs::is_directory(fs::path(platform::to_utf8(store)))) {
    err << "corvane console: " << a.positional[0] << ": no such folder\n";
    return kExitFailed;
  }
  const sorter::StorePaths paths(store);
  const auto access = sorter::console::open_local_store(store);
  sorter::EventLog log;
  log.StartLogging(paths.log_file(), sorter::LogMode::kFile);
  std::mutex lock;

  const std::string store_utf8 = platform::to_utf8(store);
  const auto state = a.option("state");
  const auto tls =
      sorter::console::console_tls(endpoint, {a.option("cert"), a.option("key"), state}, store_utf8);
  sorter::console::ConsoleOptions options;
  options.access_token = sorter::console::random_hex(16);
  options.users_file = a.option("users-file").value_or(sorter::console::default_users_file(state));
  sorter::console::check_outside_store(options.users_file, store_utf8,
                                       "the teachers' accounts file");
  options.token_with_accounts = sorter::console::is_loopback(endpoint.address);
  options.notice_from = a.option("notice-from").value_or("");
  // Whether a headless sorter holds the store folder, asked without taking its lock, so that a
  // sorter starting at that moment is never refused. The Windows sorter's guard is not seen.
  options.sorter_running = [store] { return platform::InstanceGuard::folder_claimed(store); };

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, nullptr);

  sorter::console::Console console(*access, lock, log, options);
  sorter::console::ConsoleServer server(console, endpoint, tls);
  const std::string token_file =
      a.option("token-file").value_or(sorter::console::default_token_file(server.port()));
  sorter::console::write_token_file(token_file, options.access_token);
  out << "store console for " << store_utf8 << " at " << server.url() << "\n";
  if (tls) out << "certificate SHA-256 " << tls->fingerprint() << "\n";
  out << "access token " << options.access_token << " (kept in " << token_file
      << ")\nCtrl-C stops it\n"
      << std::flush;
  int signal_number = 0;
  sigwait(&stop, &signal_number);
  server.stop();
  return kExitOk;
}

}  // namespace corvane::cli
