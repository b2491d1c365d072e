#pragma once
// Test support for the console: a store in a temporary folder with the mailboxes ann and bob,
// its log switched on, and a console over it; and the form token read off a page.

#include <memory>
#include <mutex>
#include <regex>
#include <string>

#include "sorter/console/console.h"
#include "sorter/console/store_access.h"
#include "sorter/engine/test_store.h"

namespace sorter::console::testing {

struct ConsoleRig {
  explicit ConsoleRig(const ConsoleOptions& options) : console(*access, lock, log, options) {
    log.StartLogging(store.paths().log_file(), LogMode::kFile);
    store.add_mailbox("ann");
    store.add_mailbox("bob");
  }

  sorter::testing::TestStore store;
  std::unique_ptr<StoreAccess> access = open_local_store(testsupport::u16(store.root()));
  std::mutex lock;
  EventLog log{[] { return sorter::testing::kNow; }};
  Console console;
};

// The value of the form token field on a page; empty when the page has none.
inline std::string form_token(const std::string& page) {
  std::smatch m;
  if (!std::regex_search(page, m, std::regex("name=\"csrf\" value=\"([^\"]+)\""))) return {};
  return m[1];
}

}  // namespace sorter::console::testing
