#include "sorter/engine/event_log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using testsupport::u16;

TEST(LogEntry, LayoutOfErrorsWarningsAndOtherTypes) {
  EXPECT_EQ(format_log_entry(kNow, u"Path not found", EventType::kError),
            "2026-12-08 23:15:02  Error    Path not found\r\n");
  EXPECT_EQ(
      format_log_entry(kNow, u"Email sent with no sender information!", EventType::kWarning),
            "2026-12-08 23:15:02  Warning  Email sent with no sender information!\r\n");
  EXPECT_EQ(format_log_entry(kNow, u"x", EventType::kInformation),
            "2026-12-08 23:15:02  Info     x\r\n");
  EXPECT_EQ(format_log_entry(kNow, u"x", EventType{7}), "2026-12-08 23:15:02  Type 7   x\r\n");
}

TEST(LogEntry, LineBreaksInTheTextCannotForgeEntries) {
  const std::string indent(30, ' ');
  EXPECT_EQ(format_log_entry(kNow, u"a\r\nb\nc\rd", EventType::kWarning),
            "2026-12-08 23:15:02  Warning  a\r\n" + indent + "b\r\n" + indent + "c\r\n" +
                indent + "d\r\n");
  EXPECT_EQ(
      format_log_entry(kNow, std::u16string_view(u"a\u0000b\u001Bc\td", 7), EventType::kError),
            std::string("2026-12-08 23:15:02  Error    a?b?c\td\r\n"));
}

TEST(LogEntry, TextInTheSystemCodePage) {
  EXPECT_EQ(format_log_entry(kNow, u"From: Zo\u00EB", EventType::kWarning),
            "2026-12-08 23:15:02  Warning  From: Zo\xEB\r\n");
}

TEST(EventLogFile, AppendsAcrossStartsAndDropsEntriesWhenOff) {
  TestStore store;
  const std::u16string path = u16(store.root() / "Error" / "SortErr.log");
  std::vector<std::u16string> echoed;
  {
    EventLog log([] { return kNow; });
    log.set_echo([&](std::u16string_view text, EventType type) {
      echoed.push_back(std::u16string(text) + u"/" +
                       static_cast<char16_t>(u'0' + static_cast<int>(type)));
    });
    log.LogEvent(u"before start", EventType::kError);
    log.StartLogging(path, LogMode::kFile);
    log.LogEvent(u"first run", EventType::kError);
    log.StartLogging(path, LogMode::kOff);
    log.LogEvent(u"after stop", EventType::kError);
  }
  EventLog again([] { return kNow; });
  again.StartLogging(path, LogMode::kFile);
  again.LogEvent(u"second run", EventType::kWarning);
  EXPECT_EQ(store.log_entries(),
            (std::vector<std::string>{"Error    first run", "Warning  second run"}));
  EXPECT_EQ(echoed, (std::vector<std::u16string>{u"first run/1"}));
}

TEST(EventLogFile, UnwritableLogNeverStopsTheCaller) {
  TestStore store;
  fs::remove_all(store.root() / "Error");
  EventLog log([] { return kNow; });
  std::u16string echoed;
  log.set_echo([&](std::u16string_view text, EventType) {
    echoed = text;
    throw std::runtime_error("no standard error");
  });
  log.StartLogging(u16(store.root() / "Error" / "SortErr.log"), LogMode::kFile);
  EXPECT_NO_THROW(log.LogEvent(u"lost", EventType::kError));
  EXPECT_EQ(echoed, u"lost");  // the copy still goes out while the file refuses the entry
  EventLog broken_clock([]() -> double { throw std::runtime_error("no clock"); });
  fs::create_directories(store.root() / "Error");
  broken_clock.StartLogging(u16(store.root() / "Error" / "SortErr.log"), LogMode::kFile);
  EXPECT_NO_THROW(broken_clock.LogEvent(u"no time", EventType::kError));
}

}  // namespace
}  // namespace sorter
