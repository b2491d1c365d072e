// The headless sorter for POSIX systems: the engine's start-up, load, first activation,
// rounds every --interval seconds and, with instant delivery, as soon as a file arrives in
// the drop folder, and on SIGINT or SIGTERM the confirmed exit and the running flag written
// "False". Messages go to standard error; the log goes to Error/SortErr.log, and
// under the service manager also to standard error with the journal's priority prefixes.
// With --console the store console is served from a thread of its own; a round and a console
// action hold the same lock, so they never move the same file at once.

#include <signal.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/handle_limit.h"
#include "platform/instance_guard.h"
#include "platform/utf.h"
#include "sorter/console/console.h"
#include "sorter/console/console_tls.h"
#include "sorter/console/server.h"
#include "sorter/engine/lifecycle.h"
#include "sorter/headless/journal.h"
#include "sorter/headless/options.h"
#include "sorter/headless/round_wait.h"

namespace {

using sorter::headless::Messages;
using sorter::headless::Options;
using sorter::headless::Priority;

class HeadlessHost final : public sorter::EngineHost {
 public:
  HeadlessHost(const Options& options, std::u16string store, const Messages& messages)
      : options_(options), store_(std::move(store)), messages_(messages) {}

  bool start_despite_running_flag() override {
    if (options_.run_anyway) return true;
    messages_.write(Priority::kError,
                    "sorter: Sorter.ini says a sorter is already running on " +
                        platform::to_utf8(store_) +
                        " ([Persistance] running=True).\n"
                        "sorter: not started; use --run-anyway to start all the same.");
    return false;
  }
  // Claims the store once; asked again, the first answer stands.
  bool another_copy_running() override {
    if (!guard_) guard_.emplace(platform::InstanceGuard::for_folder(store_));
    return guard_->another_copy_running();
  }
  void refused_second_copy() override {
    messages_.write(Priority::kError,
                    "sorter: another sorter already runs on this store here; stopping.");
  }
  void arrivals_watched(bool watched, const std::u16string& reason) override {
    instant_ = watched;
    if (!reason.empty()) messages_.write(Priority::kWarning, "sorter: " + platform::to_utf8(reason));
  }
  void loaded() override {
    char every[32];
    std::snprintf(every, sizeof every, "%g", options_.interval_seconds);
    messages_.write(Priority::kInfo, "sorter: sorting " + platform::to_utf8(store_) + " every " +
                                         every + " s" + (instant_ ? " and as files arrive" : "") +
                                         (messages_.for_journal() ? "" : " (Ctrl-C stops)"));
  }
  void stopping() override { messages_.write(Priority::kInfo, "sorter: stopped"); }

 private:
  const Options& options_;
  std::u16string store_;
  const Messages& messages_;
  std::optional<platform::InstanceGuard> guard_;
  bool instant_ = false;
};

// Whether SIGINT or SIGTERM waits (blocked): asked between two files of a round, which then
// ends there; the signal stays pending for wait_for_stop.
bool stop_pending(const sigset_t& stop) {
  sigset_t pending;
  if (::sigpending(&pending) != 0) return false;
  for (const int signal : {SIGINT, SIGTERM}) {
    if (sigismember(&stop, signal) == 1 && sigismember(&pending, signal) == 1) return true;
  }
  return false;
}

// The store as an absolute path without a trailing separator, the same text however it was
// given, so that the single-instance test names one store once.
std::u16string store_folder(const Options& options) {
  if (!options.store) return platform::executable_folder();
  std::string path = std::filesystem::weakly_canonical(std::filesystem::absolute(*options.store));
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return platform::from_utf8(path == "/" ? "" : path);
}

// The store console beside the rounds: what the rounds report, the lock they share with it.
class ConsoleHost {
 public:
  ConsoleHost(const Options& options, const sorter::StorePaths& paths)
      : store_(sorter::console::open_local_store(paths.root())) {
    log_.StartLogging(paths.log_file(), sorter::LogMode::kFile);
    auto endpoint = sorter::console::parse_endpoint(*options.console);
    if (options.console_host_names) {
      endpoint.host_names = sorter::console::parse_host_names(*options.console_host_names);
    }
    const std::string store = platform::to_utf8(paths.root());
    const auto tls = sorter::console::console_tls(
        endpoint, {options.console_cert, options.console_key, options.console_state}, store);
    sorter::console::ConsoleOptions console_options;
    console_options.access_token = sorter::console::random_hex(16);
    console_options.users_file = options.console_users.value_or(
        sorter::console::default_users_file(options.console_state));
    sorter::console::check_outside_store(console_options.users_file, store,
                                         "the teachers' accounts file");
    console_options.token_with_accounts = sorter::console::is_loopback(endpoint.address);
    console_options.notice_from = options.console_notice_from.value_or("");
    console_options.delivery = [this] {
      std::lock_guard guard(status_lock_);
      return status_;
    };
    status_.interval_seconds = options.interval_seconds;
    console_ = std::make_unique<sorter::console::Console>(*store_, store_lock_, log_,
                                                          console_options);
    server_.emplace(*console_, endpoint, tls);
    const std::string token_file = options.console_token_file.value_or(
        sorter::console::default_token_file(server_->port()));
    sorter::console::write_token_file(token_file, console_options.access_token);
    const std::string certificate =
        tls ? "certificate SHA-256 " + tls->fingerprint() + ", " : std::string();
    std::fprintf(stderr, "sorter: store console at %s (%saccess token %s, kept in %s)\n",
                 server_->url().c_str(), certificate.c_str(),
                 console_options.access_token.c_str(), token_file.c_str());
  }

  void tick(sorter::SorterEngine& engine) {
    {
      std::lock_guard guard(store_lock_);
      engine.tick();
    }
    std::lock_guard guard(status_lock_);
    status_.last_round = platform::local_now_as_oa_date();
    status_.last_report = engine.round().last_round();
  }

  void stop() { server_.reset(); }

 private:
  std::unique_ptr<sorter::console::StoreAccess> store_;
  sorter::EventLog log_;
  std::mutex store_lock_;
  std::mutex status_lock_;
  sorter::console::DeliveryStatus status_;
  std::unique_ptr<sorter::console::Console> console_;
  std::optional<sorter::console::ConsoleServer> server_;
};

int run(const Options& options, const Messages& messages) {
  const std::u16string store = store_folder(options);
  const sorter::StorePaths paths(store);
  HeadlessHost host(options, store, messages);
  if (!sorter::start_up(paths, host)) return 3;

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, nullptr);

  // The console writes its token file and binds its port only in the copy that holds the
  // store: a second copy, refused by the load below, leaves the first one's console as it is.
  std::optional<ConsoleHost> console;
  if (options.console && !host.another_copy_running()) console.emplace(options, paths);
  sorter::SorterEngine engine(paths, host, sorter::in_process_mail_reader_factory());
  engine.allow_instant_delivery(options.instant && !options.once);
  engine.round().set_stop_request([&stop] { return stop_pending(stop); });
  if (messages.for_journal()) {
    engine.log().set_echo([&messages](std::u16string_view text, sorter::EventType type) {
      messages.write(sorter::headless::priority_of_event(type), platform::to_utf8(text));
    });
  }
  try {
    if (!engine.load()) {
      engine.terminate();
      return 4;
    }
  } catch (const platform::AutomationError& e) {
    messages.write(Priority::kError, "sorter: " + platform::to_utf8(sorter::load_failure_text(e)));
    return 2;
  }
  engine.activate();
  const auto tick = [&] { console ? console->tick(engine) : engine.tick(); };
  if (options.once) {
    tick();
  } else {
    sorter::headless::RoundWait wait(stop);
    while (wait.next(options.interval_seconds, engine.arrivals()) != sorter::headless::Wake::stop) {
      tick();
    }
  }
  if (console) console->stop();
  engine.exit_confirmed();
  engine.terminate();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program =
      argc > 0 ? std::filesystem::path(argv[0]).filename().string() : std::string("sorter");
  const Messages messages(sorter::headless::stderr_is_journal());
  Options options;
  try {
    options = sorter::headless::parse_options(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    messages.write(Priority::kError, "sorter: " + std::string(e.what()));
    std::fputs(sorter::headless::usage(program).c_str(), stderr);
    return 1;
  }
  if (options.help) {
    std::fputs(sorter::headless::usage(program).c_str(), stdout);
    return 0;
  }
  // A service starts with a soft limit of 1,024 open files whatever its hard limit; the rounds
  // keep mailbox folders open within a share of the soft one.
  try {
    platform::raise_open_handle_limit();
  } catch (const platform::AutomationError& e) {
    messages.write(Priority::kWarning, "sorter: the open-file limit stays as it was: " +
                                           platform::to_utf8(e.description()));
  }
  try {
    return run(options, messages);
  } catch (const std::exception& e) {
    messages.write(Priority::kError, "sorter: " + std::string(e.what()));
    return 2;
  }
}
