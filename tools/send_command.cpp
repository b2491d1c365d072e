#include "tools/send_command.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

#include "corvane/mail/text_email.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/utf.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

Text u16_of(const fs::path& path) {
  const auto text = path.u16string();
  return Text(text.begin(), text.end());
}

std::string utf8_of(const fs::path& path) { return platform::to_utf8(u16_of(path)); }

std::string unique_stem() {
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  std::random_device device;
  const uint64_t random = (static_cast<uint64_t>(device()) << 32) ^ device();
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(random));
  return std::to_string(millis) + "-" + hex;
}

// The drop folder as an absolute path without a trailing separator.
fs::path checked_drop_folder(const fs::path& given) {
  std::error_code ec;
  fs::path folder = fs::absolute(given, ec).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  if (ec || !fs::is_directory(folder, ec)) {
    throw CommandError("drop folder " + utf8_of(given) + " does not exist");
  }
  return folder;
}

// Copies the attachment and records the copy in the e-mail; returns the copy's path.
fs::path attach(MailObjectModel& model, const fs::path& source, const fs::path& folder,
                const std::string& stem, EmailMsg& email) {
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) {
    throw CommandError("attachment " + utf8_of(source) + " is not a readable file");
  }
  fs::create_directories(folder);
  fs::path name(stem + "-");
  name += source.filename();
  const fs::path copy = folder / name;
  // Copied under a temporary name and renamed when complete: a copy cut short (a full disk)
  // never stands under the name the e-mail records, and is removed.
  const fs::path partial = folder / ("." + stem + ".part");
  std::error_code ignored;
  if (!model.AddAttachment(u16_of(source), u16_of(partial), email)) {
    fs::remove(partial, ignored);
    throw CommandError(platform::to_utf8(model.ErrorString()));
  }
  if (fs::exists(copy, ec)) {
    fs::remove(partial, ignored);
    throw CommandError(utf8_of(copy) + " exists already");
  }
  fs::rename(partial, copy, ec);
  if (ec) {
    fs::remove(partial, ignored);
    throw CommandError("attachment " + utf8_of(copy) + ": " + ec.message());
  }
  email.emAttachments.FilePath = u16_of(copy);
  return copy;
}

// Saves the e-mail in the staging folder beside the drop folder and moves it, complete, into
// the drop folder without replacing anything. The staged file goes on every path, and the
// staging folder with it once empty (another sender may be using it).
void save_into(MailObjectModel& model, const EmailMsg& email, const fs::path& staging,
               const fs::path& target) {
  fs::create_directories(staging);
  const fs::path temporary = staging / target.filename();
  std::error_code ignored;
  try {
    if (!model.SaveEmail(u16_of(temporary), email)) {
      throw CommandError(platform::to_utf8(model.ErrorString()));
    }
    platform::move_file_no_replace(u16_of(temporary), u16_of(target));
  } catch (...) {
    fs::remove(temporary, ignored);
    fs::remove(staging, ignored);
    throw;
  }
  fs::remove(staging, ignored);
}

}  // namespace

EmailMsg email_for(const SendRequest& request) {
  EmailMsg email = text_email(request.from, request.to, request.subject, request.text,
                              platform::local_now_as_oa_date());
  email.emCC = request.cc;
  return email;
}

fs::path send_email(MailObjectModel& model, const SendRequest& request) {
  const fs::path drop = checked_drop_folder(request.drop_folder);
  const fs::path store = drop.parent_path();
  const std::string stem = unique_stem();
  EmailMsg email = email_for(request);
  std::optional<fs::path> copy;
  if (request.attachment) {
    copy = attach(model, *request.attachment, store / "Attachments", stem, email);
  }
  const fs::path target = drop / (stem + ".eml");
  try {
    save_into(model, email, store / ".corvane-tmp", target);
  } catch (...) {
    // No e-mail records the copy: it must not stay behind in the shared folder.
    std::error_code ignored;
    if (copy) fs::remove(*copy, ignored);
    throw;
  }
  return target;
}

}  // namespace corvane::cli
