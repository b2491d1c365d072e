#pragma once
// Test support for the engine: a mail store in a temporary folder, e-mail files written with
// the library, a fixed clock, sorting rounds bound to the store, and the log read back as lines.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvane/object_model/mail_object_model.h"
#include "platform/utf.h"
#include "sorter/engine/event_log.h"
#include "sorter/engine/sorting_round.h"
#include "tests/support/temp_dir.h"

namespace sorter::testing {

namespace fs = std::filesystem;

// 8 December 2026, 23:15:02 as an automation date.
inline constexpr double kNow = 46364.0 + (23 * 3600 + 15 * 60 + 2) / 86400.0;

inline std::string utf8(std::u16string_view s) { return platform::to_utf8(s); }

class TestStore {
 public:
  TestStore() {
    fs::create_directories(drop());
    fs::create_directories(root() / "Error");
    fs::create_directories(root() / "MailBox");
  }
  // Everything removed and the empty store laid out again, for the next row of a table.
  void reset() const {
    for (const auto& entry : fs::directory_iterator(root())) fs::remove_all(entry.path());
    fs::create_directories(drop());
    fs::create_directories(root() / "Error");
    fs::create_directories(root() / "MailBox");
  }
  const fs::path& root() const { return dir_.path(); }
  fs::path drop() const { return root() / "MailBank"; }
  StorePaths paths() const { return StorePaths(testsupport::u16(root())); }

  // A mailbox with Inbox and Buffer.
  fs::path add_mailbox(const std::string& user) const {
    const fs::path box = root() / "MailBox" / user;
    fs::create_directories(box / "Inbox");
    fs::create_directories(box / "Buffer");
    return box;
  }

  // Writes an e-mail file into the drop folder.
  fs::path drop_mail(const std::string& name, const std::u16string& from, const std::u16string& to,
                     const std::u16string& subject = u"Hello") const {
    corvane::EmailMsg mail;
    mail.emFrom = from;
    mail.emTo = to;
    mail.emSubject = subject;
    const fs::path path = drop() / name;
    corvane::MailObjectModel model;
    if (!model.SaveEmail(testsupport::u16(path), mail)) throw std::runtime_error("SaveEmail");
    return path;
  }

  // The bytes of an e-mail as the library writes it, left nowhere in the store.
  std::vector<uint8_t> mail_bytes(const std::u16string& from, const std::u16string& to,
                                  const std::u16string& subject = u"Hello") const {
    const fs::path path = drop_mail(".bytes.tmp", from, to, subject);
    auto bytes = testsupport::read_bytes(path);
    fs::remove(path);
    return bytes;
  }

  std::vector<std::string> log_lines() const {
    std::ifstream in(root() / "Error" / "SortErr.log", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  // The log's entries without their time stamps: "Warning  text".
  std::vector<std::string> log_entries() const {
    std::vector<std::string> entries;
    for (const auto& line : log_lines()) entries.push_back(line.size() > 21 ? line.substr(21) : line);
    return entries;
  }
  // The same in sorted order: a round takes files in the order the folder lists them.
  std::vector<std::string> sorted_log_entries() const {
    auto entries = log_entries();
    std::sort(entries.begin(), entries.end());
    return entries;
  }

 private:
  testsupport::TempDir dir_;
};

// Options with every field given, so that no test's rounds rest on the product's defaults
// (sorter/headless/options_test.cpp checks those): settling time, whether writers are asked
// about, how old a file must be where they cannot be seen; a report repeated after an hour.
inline constexpr RoundOptions round_options(double settle_seconds, bool ask_writers = true,
                                            double unseen_writers_seconds = 0.0) {
  RoundOptions options;
  options.settle_seconds = settle_seconds;
  options.repeat_seconds = 3600.0;
  options.ask_writers = ask_writers;
  options.unseen_writers_seconds = unseen_writers_seconds;
  return options;
}

// Rounds that read a file as soon as they see it (where writers cannot be seen, once it is
// unchanged since the round before) and repeat a report only after an hour.
inline constexpr RoundOptions kNoSettling = round_options(0.0);

// A round of a sorter on the store, logging into the store's SortErr.log and timed by now.
inline std::unique_ptr<SortingRound> bound_round(const TestStore& store, EventLog& log,
                                                 const double& now, MailReaderFactory factory,
                                                 RoundOptions options = kNoSettling) {
  log.StartLogging(testsupport::u16(store.root() / "Error" / "SortErr.log"), LogMode::kFile);
  auto round = std::make_unique<SortingRound>(store.paths(), std::move(factory), log,
                                              [&now] { return now; }, options);
  round->bind(testsupport::u16(store.drop()));
  return round;
}

// The library's reader with a step of the test's own before each read: the round has the
// file open then, so the step can meddle with the store (take files, advance the clock, fail).
class HookedReader final : public MailReader {
 public:
  using Hook = std::function<void(const std::u16string& path)>;
  explicit HookedReader(Hook hook) : hook_(std::move(hook)) {}
  OpenedEmail open(const std::u16string& path, platform::DropFile& file) override {
    if (hook_) hook_(path);
    return inner_->open(path, file);
  }

 private:
  Hook hook_;
  std::unique_ptr<MailReader> inner_ = in_process_mail_reader_factory()();
};

inline MailReaderFactory hooked_reader(HookedReader::Hook hook) {
  return [hook = std::move(hook)] { return std::make_unique<HookedReader>(hook); };
}

// Dates the file's last write age ago (a negative age: in the future).
inline void set_age(const fs::path& file, std::chrono::seconds age) {
  fs::last_write_time(file, fs::file_time_type::clock::now() - age);
}

inline std::size_t file_count(const fs::path& folder) {
  std::size_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

}  // namespace sorter::testing
