#include "sorter/engine/lifecycle.h"

#include <exception>

#include "platform/clock.h"
#include "platform/decimal_text.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/store_folders.h"

namespace sorter {

bool is_developer_account(const std::optional<std::u16string>& domain,
                          const std::optional<std::u16string>& user) {
  if (!domain || !user || platform::fold_case(*domain) != kDeveloperDomain) return false;
  const std::u16string name = platform::fold_case(*user);
  for (const auto developer : kDeveloperUsers) {
    if (name == developer) return true;
  }
  return false;
}

bool running_flag_set(const StorePaths& paths) {
  return read_boolean_setting(paths.settings_file(), u"Persistance", u"running");
}

bool instant_delivery_set(const StorePaths& paths) {
  return read_boolean_setting(paths.settings_file(), u"Delivery", u"instant", true);
}

bool start_up(const StorePaths& paths, EngineHost& host) {
  if (!running_flag_set(paths)) return true;
  try {
    return host.start_despite_running_flag();
  } catch (const std::exception&) {
    return false;  // the question could not be asked: the flag's answer stands
  }
}

std::u16string load_failure_text(const platform::AutomationError& e) {
  return u"Error: " + platform::decimal_text(e.number()) + u" - " + e.description();
}

SorterEngine::SorterEngine(StorePaths paths, EngineHost& host, MailReaderFactory factory)
    : SorterEngine(std::move(paths), host, std::move(factory), platform::environment_variable,
                   platform::local_now_as_oa_date, RoundOptions{}) {}

SorterEngine::SorterEngine(StorePaths paths, EngineHost& host, MailReaderFactory factory,
                           Environment environment, Clock clock, RoundOptions options)
    : paths_(std::move(paths)),
      host_(host),
      environment_(std::move(environment)),
      log_(clock),
      round_(paths_, std::move(factory), log_, clock, options) {}

bool SorterEngine::load() {
  if (host_.another_copy_running()) {
    host_.refused_second_copy();
    return false;
  }
  host_.developer_account(
      is_developer_account(environment_(u"USERDOMAIN"), environment_(u"USERNAME")));
  drop_folder_ = paths_.drop_folder();
  host_.loading();
  const std::u16string existing = platform::resolve_ignoring_case(drop_folder_);
  if (platform::folder_exists(existing)) {
    drop_folder_ = existing;
  } else {
    platform::create_folder(drop_folder_);
  }
  remove_store_leftovers(paths_);  // of moves and rewrites a crash interrupted
  round_.bind(drop_folder_);
  watch_arrivals();
  host_.loaded();
  return true;
}

void SorterEngine::watch_arrivals() {
  if (!instant_allowed_ || !instant_delivery_set(paths_)) {
    host_.arrivals_watched(false, {});
    return;
  }
  try {
    arrivals_.emplace(drop_folder_);
  } catch (const platform::AutomationError& e) {
    unwatched_ = u"The drop folder \"" + drop_folder_ +
                 u"\" cannot be watched for arriving files: " + e.description() +
                 u". Files are sorted at each tick only.";
    host_.arrivals_watched(false, unwatched_);
    return;
  }
  host_.arrivals_watched(true, {});
}

// A folder removed or renamed took its watch along: the folder at the name now is watched,
// once there is one again.
void SorterEngine::keep_watching() {
  if (!arrivals_ || arrivals_->watching()) return;
  try {
    *arrivals_ = platform::FolderWatch(drop_folder_);
  } catch (const platform::AutomationError&) {
    // Tried again after the next round; the round itself says what is wrong with the folder.
  }
}

void SorterEngine::activate() {
  if (!awake_) WakeUp();
}

void SorterEngine::WakeUp() {
  awake_ = true;
  log_.StartLogging(paths_.log_file(), LogMode::kFile);
  if (!unwatched_.empty()) log_.LogEvent(unwatched_, EventType::kWarning);
}

void SorterEngine::tick() {
  if (!timer_enabled_ || !round_.bound()) return;
  round_.CheckMonitoring();
  round_.DoRounds([this] { host_.round_ended(); });
  keep_watching();
}

void SorterEngine::exit_confirmed() {
  log_.StartLogging(paths_.log_file(), LogMode::kOff);
  timer_enabled_ = false;
  arrivals_.reset();
  host_.rounds_stopped();
  round_.release();
  host_.stopping();
}

void SorterEngine::exit_for_session_end() { host_.stopping(); }

void SorterEngine::terminate() {
  WriteINI(paths_.settings_file_at_exit(), u"Persistance", u"running", u"False");
}

}  // namespace sorter
