#pragma once
// `corvane send`: writes one e-mail into a drop folder the way a client program does, but
// atomically, because the sorter takes every file it finds there. The e-mail is saved under
// a temporary name in the folder ".corvane-tmp" beside the drop folder (same file system) and
// then renamed into the drop folder as <milliseconds since 1970>-<16 hex digits>.eml.
// An attachment is copied with AddAttachment into the folder "Attachments" beside the drop
// folder, as <the same unique stem>-<original file name>, never into the drop folder itself.

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "corvane/object_model/mail_object_model.h"

namespace corvane::cli {

// A failure with a message for the user.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SendRequest {
  std::filesystem::path drop_folder;
  Text from;
  Text to;
  Text cc;
  Text subject;
  Text text;
  std::optional<std::filesystem::path> attachment;
};

// The e-mail the request describes: one text box holding the text, dated now.
EmailMsg email_for(const SendRequest& request);

// Writes the e-mail and returns the path of the file in the drop folder.
std::filesystem::path send_email(MailObjectModel& model, const SendRequest& request);

}  // namespace corvane::cli
