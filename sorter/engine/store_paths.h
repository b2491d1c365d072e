#pragma once
// The mail store's paths, built from the program folder by plain concatenation with the
// platform's separator, and the test that a user name can serve as a mailbox folder name.

#include <string>
#include <string_view>

namespace sorter {

inline constexpr std::u16string_view kDropFolderName = u"MailBank";
inline constexpr std::u16string_view kMailBoxName = u"MailBox";
inline constexpr std::u16string_view kInboxName = u"Inbox";
inline constexpr std::u16string_view kBufferName = u"Buffer";
inline constexpr std::u16string_view kErrorName = u"Error";
inline constexpr std::u16string_view kTimeStampName = u"timeStamp.dat";
inline constexpr std::u16string_view kClientIniName = u"Client.ini";
inline constexpr std::u16string_view kLogName = u"SortErr.log";

class StorePaths {
 public:
  // program_folder carries no trailing separator.
  explicit StorePaths(std::u16string program_folder);
  StorePaths(std::u16string program_folder, char16_t separator);

  const std::u16string& root() const { return root_; }
  char16_t separator() const { return sep_; }
  std::u16string child(std::u16string_view folder, std::u16string_view name) const;

  std::u16string drop_folder() const { return child(root_, kDropFolderName); }
  std::u16string error_folder() const { return child(root_, kErrorName); }
  std::u16string log_file() const { return child(error_folder(), kLogName); }
  // Read at start and at every tick.
  std::u16string settings_file() const { return child(root_, u"Sorter.ini"); }
  // Written when the main window object ends; the same file where names ignore case.
  std::u16string settings_file_at_exit() const { return child(root_, u"sorter.ini"); }
  std::u16string mailbox(std::u16string_view user) const;
  std::u16string delivery_folder(std::u16string_view user, bool monitoring) const;
  std::u16string client_ini(std::u16string_view user) const {
    return child(mailbox(user), kClientIniName);
  }

 private:
  std::u16string root_;
  char16_t sep_;
};

// A user name names a mailbox folder only when it stays inside MailBox: no path separator
// ('/' or '\'), no drive or stream colon, no control character, and not made of dots and
// blanks alone (".", "..", and names that Windows trims down to them). Other blanks are legal
// and kept.
bool is_mailbox_name(std::u16string_view name);

}  // namespace sorter
