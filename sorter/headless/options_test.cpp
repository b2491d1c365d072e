#include "sorter/headless/options.h"

#include <gtest/gtest.h>

namespace sorter::headless {
namespace {

TEST(HeadlessOptions, DefaultsAndEveryOption) {
  const Options none = parse_options({});
  EXPECT_FALSE(none.store.has_value());
  EXPECT_EQ(none.interval_seconds, 10.0);
  EXPECT_FALSE(none.run_anyway || none.once || none.help);
  EXPECT_FALSE(none.console.has_value());
  const Options all =
      parse_options({"--store", "/srv/mail", "--interval", "2.5", "--run-anyway", "--once",
                     "--console", "8080", "--console-token-file", "/run/t", "--console-host", "a,b"});
  EXPECT_EQ(all.store, "/srv/mail");
  EXPECT_EQ(all.console, "8080");
  EXPECT_EQ(all.console_token_file, "/run/t");
  EXPECT_EQ(all.console_host_names, "a,b");
  EXPECT_EQ(all.interval_seconds, 2.5);
  EXPECT_TRUE(all.run_anyway && all.once);
}

TEST(HeadlessOptions, BadInputIsRefusedWithAMessage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--store"}, {"--store", ""}, {"--interval", "0"}, {"--interval", "ten"},
           {"--interval", "nan"}, {"--interval", "1e9"}, {"--bogus"}, {"store"},
           {"--console"}, {"--console", ""}, {"--console-token-file", ""}, {"--console-host"}}) {
    EXPECT_THROW(parse_options(args), std::invalid_argument) << args[0];
  }
}

}  // namespace
}  // namespace sorter::headless
