#include "sorter/engine/open_ahead.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

#include "sorter/engine/store_folders.h"

namespace sorter {
namespace {

// An e-mail's header and its first text boxes: most e-mails whole. Bounds the memory of the
// files waiting opened (at most 32 of them) to half a mebibyte.
constexpr std::size_t kReadAhead = 16 * 1024;

}  // namespace

std::size_t OpenAhead::depth_for(std::size_t handle_limit) {
  // Where an open file refuses moves, a file opened ahead would fail another sorter's move of
  // it for as long as it waits: there the round opens each file itself as it comes to it.
  if (platform::kOpenDropFileBlocksMoves) return 0;
  return std::clamp<std::size_t>(handle_limit / 32, 1, 32);
}

OpenAhead::OpenAhead(platform::FolderReader files, const platform::DropFolder* folder,
                     bool ask_writers, std::size_t depth)
    : files_(std::move(files)),
      folder_(folder),
      ask_writers_(ask_writers),
      depth_(depth),
      low_water_(depth / 2) {
  if (depth_ == 0) return;  // the round lists and opens itself
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread to be had (the process is short of them): the round lists and opens itself.
  }
}

OpenAhead::~OpenAhead() {
  if (thread_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_opener_.notify_one();
    thread_.join();
  }
  // Whatever is left closes here: files opened ahead the round never took, and hand-backs.
}

std::optional<OpenAhead::Entry> OpenAhead::list_one() {
  while (auto entry = files_.next()) {
    if (entry->kind != platform::EntryKind::file) continue;
    // Another sorter's move by copy in progress (or its leftover for the start-up clean-up):
    // no e-mail of its own, and no name a delivery could take.
    if (platform::is_temporary_name(entry->name)) continue;
    Entry e;
    e.name = std::move(entry->name);
    return e;
  }
  return std::nullopt;
}

void OpenAhead::open(Entry& entry) {
  if (folder_ == nullptr || !opening_) return;
  try {
    entry.opened = folder_->open(entry.name);
    platform::DropOpenResult& opened = *entry.opened;
    if (ask_writers_ && opened.status == platform::DropOpenStatus::opened &&
        opened.file->facts().kind == platform::EntryKind::file) {
      entry.writers = opened.file->writers();
      // Nobody can write it now: its head is read here too, off the round's thread.
      if (entry.writers == platform::Writers::none) opened.file->read_ahead(kReadAhead);
    }
  } catch (const platform::AutomationError& e) {
    entry.opened.reset();
    if (is_resource_failure(e)) {
      opening_ = false;  // the round opens this one and the rest itself, with its remedy
    } else {
      entry.failure = e;
    }
  } catch (const std::bad_alloc&) {
    entry.opened.reset();
    opening_ = false;
  }
}

void OpenAhead::run() {
  std::vector<platform::DropFile> closing;
  bool listed_all = false;
  bool full = false;  // set at depth_ waiting, cleared once the round took them to low_water_
  for (;;) {
    closing.clear();  // outside the lock: closing also gives each file's lease up
    std::optional<Entry> entry;
    std::optional<platform::AutomationError> failure;
    if (!listed_all && !full) {
      try {
        entry = list_one();
        if (entry) open(*entry);
      } catch (const platform::AutomationError& e) {
        failure = e;
      } catch (const std::exception&) {
        failure = platform::AutomationError(platform::errnum::kOutOfMemory);
      }
      if (!entry) listed_all = true;
    }
    std::unique_lock lock(mutex_);
    if (entry) ready_.push_back(std::move(*entry));
    if (listed_all && !listed_all_) {
      listed_all_ = true;
      listing_failure_ = std::move(failure);
    }
    short_ = !opening_;
    if (round_waits_) wake_round_.notify_one();
    if (ready_.size() >= depth_) full = true;
    while (!stopping_ && to_close_.size() <= low_water_ &&
           (listed_all || (full && ready_.size() > low_water_))) {
      opener_waits_ = true;
      wake_opener_.wait(lock);
      opener_waits_ = false;
    }
    if (stopping_) return;
    if (ready_.size() <= low_water_) full = false;
    closing.swap(to_close_);
  }
}

std::optional<OpenAhead::Entry> OpenAhead::next() {
  if (!thread_.joinable()) return list_one();  // the round's own thread does it all
  std::unique_lock lock(mutex_);
  round_waits_ = true;
  wake_round_.wait(lock, [&] { return !ready_.empty() || listed_all_; });
  round_waits_ = false;
  if (ready_.empty()) {
    if (listing_failure_) throw *listing_failure_;
    return std::nullopt;
  }
  Entry entry = std::move(ready_.front());
  ready_.pop_front();
  if (opener_waits_ && ready_.size() <= low_water_ && !listed_all_) wake_opener_.notify_one();
  return entry;
}

void OpenAhead::done_with(platform::DropFile file) {
  if (!thread_.joinable()) return;  // closed right here, as the file goes out of scope
  std::unique_lock lock(mutex_);
  // Short of handles, or the opener has not come round to closing yet: closed right here,
  // once unlocked, as the file goes out of scope.
  if (short_ || to_close_.size() >= depth_) return;
  to_close_.push_back(std::move(file));
  if (opener_waits_ && to_close_.size() > low_water_) wake_opener_.notify_one();
}

}  // namespace sorter
