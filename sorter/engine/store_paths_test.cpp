#include "sorter/engine/store_paths.h"

#include <gtest/gtest.h>

namespace sorter {
namespace {

TEST(StorePaths, BuiltByConcatenationWithTheSeparator) {
  const StorePaths windows(u"C:\\Sorter", u'\\');
  EXPECT_EQ(windows.drop_folder(), u"C:\\Sorter\\MailBank");
  EXPECT_EQ(windows.delivery_folder(u" bob ", false), u"C:\\Sorter\\MailBox\\ bob \\Inbox");
  EXPECT_EQ(windows.delivery_folder(u"bob", true), u"C:\\Sorter\\MailBox\\bob\\Buffer");
  EXPECT_EQ(windows.client_ini(u"ann"), u"C:\\Sorter\\MailBox\\ann\\Client.ini");
  EXPECT_EQ(windows.log_file(), u"C:\\Sorter\\Error\\SortErr.log");
  EXPECT_EQ(windows.settings_file(), u"C:\\Sorter\\Sorter.ini");
  EXPECT_EQ(windows.settings_file_at_exit(), u"C:\\Sorter\\sorter.ini");
  const StorePaths posix(u"/srv/store", u'/');
  EXPECT_EQ(posix.error_folder(), u"/srv/store/Error");
}

TEST(MailboxName, NamesThatStayInsideTheMailStore) {
  for (const std::u16string_view ok : {u"bob", u" bob ", u"Zo\u00EB", u"a.b", u"...x", u"a b"}) {
    EXPECT_TRUE(is_mailbox_name(ok)) << std::string(ok.begin(), ok.end());
  }
  for (const std::u16string_view bad : std::initializer_list<std::u16string_view>{
       u"", u".", u"..", u"...", u" ", u". .", u".. ", u"a/b", u"a\\b", u"c:", u"x:stream",
        std::u16string_view(u"a\u0000b", 3), u"tab\t", u"del\u007F"}) {
    EXPECT_FALSE(is_mailbox_name(bad)) << std::string(bad.begin(), bad.end());
  }
}

}  // namespace
}  // namespace sorter
