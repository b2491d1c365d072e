// End-to-end tests of Sorter.exe: each test starts the real program in a program folder of its
// own and works it through its windows, as a user would. Run inside a Wine virtual desktop by
// run_gui_tests.sh, with the library registered for the sorting round.
//
// Environment: SORTER_GUI_EXE (Sorter.exe), SORTER_GUI_WORK (an empty folder for the program
// folders), SORTER_GUI_OUT (file that receives the test output).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "corvane/object_model/mail_object_model.h"
#include "corvane/model/record_codec.h"
#include "sorter/ui/gui_test/gui_driver.h"

namespace sorter::gui_test {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t kMainCaption[] = L"Quenby E-mail Sorter";
constexpr wchar_t kAlreadyCaption[] = L"::  Already Running  ::";
constexpr wchar_t kExitQuestion[] =
    L"You are about to exit Quenby E-mail Sorter. Doing so will result in people not "
    L"receiveing their \"Quenby E-mail\".\r\rProceed?";
// The about box: caption, the version line from the program's version resource, credits and
// copyright, separated by carriage returns alone.
constexpr wchar_t kAboutText[] =
    L"Quenby E-mail Sorter\rVersion 1.0.82 - 15th May 2007 (16:40:00)\r\r"
    L"Written and maintained by the mail service team.\r\r"
    L"Copyright (C) 2007 the mail service team.";
constexpr UINT kTrayMessage = WM_APP + 1;  // the tray icon's callback message
constexpr auto kRoundWait = 25s;           // two ticks of the ten-second sorting timer

fs::path env_path(const char* name) {
  const char* value = std::getenv(name);
  return value ? fs::path(value) : fs::path();
}

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The size of a file; -1 when it does not exist.
long long size_of(const fs::path& file) {
  std::error_code error;
  const auto size = fs::file_size(file, error);
  return error ? -1 : static_cast<long long>(size);
}

void write_bytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A program folder with Sorter.exe, the mailboxes of alice and bob and the Error folder.
class Store {
 public:
  explicit Store(const std::string& name) : folder_(env_path("SORTER_GUI_WORK") / name) {
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "Error");
    for (const char* user : {"alice", "bob"})
      for (const char* box : {"Inbox", "Buffer"}) fs::create_directories(folder_ / "MailBox" / user / box);
    fs::copy_file(env_path("SORTER_GUI_EXE"), exe());
  }
  fs::path exe() const { return folder_ / "Sorter.exe"; }
  fs::path operator/(const char* part) const { return folder_ / part; }
  std::string log() const { return read_text(folder_ / "Error" / "SortErr.log"); }
  std::string settings() const { return read_text(folder_ / "Sorter.ini"); }

  void drop_email(const char* file, const std::u16string& from, const std::u16string& to) const {
    corvane::EmailMsg mail;
    mail.emFrom = from;
    mail.emTo = to;
    mail.emSubject = u"Hello";
    corvane::MailObjectModel model;
    ASSERT_TRUE(model.SaveEmail((folder_ / "MailBank" / file).u16string(), mail));
  }
  // An e-mail whose list header claims two dimensions: the library cannot read it.
  void drop_damaged_email(const char* file) const {
    corvane::EmailMsg mail;
    mail.emFrom = u"alice";
    mail.emTo = u"bob";
    mail.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0x5A5A5A5A);
    auto bytes = corvane::encode_record(mail);
    const uint8_t mark[] = {0x5A, 0x5A, 0x5A, 0x5A};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(mark), std::end(mark));
    ASSERT_NE(at, bytes.end());
    *(at - 6) = 2;  // dimension count, before the 32-bit element count
    write_bytes(folder_ / "MailBank" / file, bytes);
  }

 private:
  fs::path folder_;
};

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

HWND wait_main_window(const Program& program) {
  return wait_window(program.pid(), nullptr, kMainCaption, 15s);
}

HWND open_tray_menu(const Program& program, HWND main) {
  PostMessageW(main, kTrayMessage, 1, WM_RBUTTONUP);
  return wait_popup_menu(program.pid());
}

bool is_default_button(HWND button) {
  return button != nullptr && (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

// The exit question: its text, Yes and No (nothing else), and No as the default button, so
// that an Enter pressed by chance keeps the sorter running.
void expect_exit_question(HWND box) {
  EXPECT_EQ(message_box_text(box), kExitQuestion);
  EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
  EXPECT_TRUE(is_default_button(GetDlgItem(box, IDNO)));
  EXPECT_FALSE(is_default_button(GetDlgItem(box, IDYES)));
  EXPECT_EQ(GetDlgItem(box, IDOK), nullptr);
  EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
}

// Asks the running program to exit through its close box and answers the question.
void answer_exit(const Program& program, HWND main, int answer) {
  PostMessageW(main, WM_CLOSE, 0, 0);
  HWND box = wait_message_box(program.pid(), L"Warning");
  ASSERT_NE(box, nullptr);
  expect_exit_question(box);
  press(box, answer);
}

// Opens the about box through the tray menu's item at index and closes it again.
void expect_about_box_at(const Program& program, HWND main, int index) {
  HWND menu = open_tray_menu(program, main);
  ASSERT_NE(menu, nullptr);
  choose_menu_item(menu, index);
  HWND about = wait_message_box(program.pid(), L"About...");
  ASSERT_NE(about, nullptr);
  const std::wstring text = message_box_text(about);
  EXPECT_EQ(text, kAboutText) << std::string(text.begin(), text.end());
  EXPECT_NE(GetDlgItem(about, IDOK), nullptr);
  press(about, IDOK);
}

TEST(SorterProgram, LoadsSortsAndExitsOnlyWhenConfirmed) {
  Store store("lifecycle");
  Program program(store.exe());

  // Loading screen: caption, picture-sized client area, the loading notice, no resizing.
  HWND main = wait_main_window(program);
  ASSERT_NE(main, nullptr);
  const SIZE client = client_size(main);
  EXPECT_EQ(client.cx, 469);
  EXPECT_EQ(client.cy, 371);
  const LONG style = GetWindowLongW(main, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0);
  HWND label = find_child(main, L"Static", L"Loading... Please Wait.");
  ASSERT_NE(label, nullptr);
  const RECT at = child_rect(label);
  EXPECT_EQ(at.left, 184);
  EXPECT_EQ(at.top, 344);
  EXPECT_EQ(at.right - at.left, 110);
  EXPECT_EQ(at.bottom - at.top, 13);
  EXPECT_TRUE(fs::is_directory(store / "MailBank"));

  // After the loading period only the tray icon is left.
  EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(main) && IsIconic(main); }, 8s));

  // One round: delivered, deleted, flagged to Error, unreadable to Error.
  store.drop_email("to-bob.eml", u"alice", u"bob");
  store.drop_email("no-sender.eml", u"", u"bob");
  store.drop_email("no-recipient.eml", u"alice", u"");
  store.drop_email("to-nobody.eml", u"alice", u"nobody");
  store.drop_damaged_email("damaged.eml");
  EXPECT_TRUE(wait_until([&] { return fs::is_empty(store / "MailBank"); }, kRoundWait));
  EXPECT_TRUE(fs::exists(store / "MailBox/bob/Inbox/to-bob.eml"));
  EXPECT_EQ(size_of(store / "MailBox/bob/Inbox/timeStamp.dat"), 8);
  EXPECT_TRUE(fs::exists(store / "Error/to-nobody.eml"));
  EXPECT_TRUE(fs::exists(store / "Error/damaged.eml"));
  EXPECT_NE(read_text(store / "MailBox/alice/Client.ini").find("Status=1"), std::string::npos);
  const std::string log = store.log();
  EXPECT_NE(log.find("Email sent with no sender information!"), std::string::npos) << log;
  EXPECT_NE(log.find("Email sent with no recipient information!  From: alice"), std::string::npos);
  EXPECT_NE(log.find("Email sent to non-existant recipient!  From: alice; To: nobody"),
            std::string::npos);

  // Monitoring on: the next delivery goes to the Buffer.
  {
    std::ofstream ini(store / "Sorter.ini", std::ios::binary);
    ini << "[Monitoring]\r\nvalue=True\r\n";
  }
  store.drop_email("watched.eml", u"alice", u"bob");
  EXPECT_TRUE(wait_until([&] { return fs::exists(store / "MailBox/bob/Buffer/watched.eml"); },
                         kRoundWait));
  EXPECT_EQ(size_of(store / "MailBox/bob/Buffer/timeStamp.dat"), 8);

  // The tray menu's second item (no developer item before it) is the about box.
  expect_about_box_at(program, main, 1);

  // A click on the picture asks too. No keeps everything running: the window, the sorting,
  // the log; the flag is not touched.
  PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
  PostMessageW(main, WM_LBUTTONUP, 0, MAKELPARAM(100, 100));
  HWND question = wait_message_box(program.pid(), L"Warning");
  ASSERT_NE(question, nullptr);
  expect_exit_question(question);
  press(question, IDNO);
  answer_exit(program, main, IDNO);
  EXPECT_FALSE(program.wait_exit(1500ms));
  EXPECT_TRUE(IsWindow(main));
  EXPECT_EQ(store.settings().find("running"), std::string::npos);
  store.drop_email("after-no.eml", u"", u"bob");
  EXPECT_TRUE(wait_until([&] { return !fs::exists(store / "MailBank/after-no.eml"); }, kRoundWait));
  EXPECT_EQ(count_of(store.log(), "Email sent with no sender information!"), 2);

  // Yes through the menu ends the program and clears the running flag.
  HWND menu = open_tray_menu(program, main);
  ASSERT_NE(menu, nullptr);
  choose_menu_item(menu, 0);
  HWND box = wait_message_box(program.pid(), L"Warning");
  ASSERT_NE(box, nullptr);
  expect_exit_question(box);
  press(box, IDYES);
  EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(0));
  const std::string settings = store.settings();
  EXPECT_NE(settings.find("[Persistance]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("running=False"), std::string::npos) << settings;
  EXPECT_NE(settings.find("value=True"), std::string::npos) << settings;
}

class RunningFlagSet : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream ini(store_ / "Sorter.ini", std::ios::binary);
    ini << "[Persistance]\r\nrunning=True\r\n";
  }
  HWND wait_dialog(const Program& program) {
    return wait_window(program.pid(), nullptr, kAlreadyCaption, 15s);
  }
  void expect_ended_untouched(const Program& program) {
    EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(0));
    EXPECT_EQ(store_.settings(), "[Persistance]\r\nrunning=True\r\n");
    EXPECT_FALSE(fs::exists(store_ / "MailBank"));
    EXPECT_EQ(find_window(program.pid(), nullptr, kMainCaption, false), nullptr);
  }
  Store store_{::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(RunningFlagSet, DialogShowsItsTextsAndOkGivesUp) {
  Program program(store_.exe());
  HWND dialog = wait_dialog(program);
  ASSERT_NE(dialog, nullptr);
  const SIZE client = client_size(dialog);
  EXPECT_EQ(client.cx, 281);
  EXPECT_EQ(client.cy, 177);
  EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_NE(find_child(dialog, L"Static", L"Rerov Udurud is already running somewhere else."), nullptr);
  HWND override_button = find_child(dialog, L"Button", L"No, you silly computer, run anyway");
  ASSERT_NE(override_button, nullptr);
  const RECT at = child_rect(override_button);
  EXPECT_EQ(at.left, 144);
  EXPECT_EQ(at.top, 80);
  HWND ok = find_child(dialog, L"Button", L"OK");
  ASSERT_NE(ok, nullptr);
  send_click(ok);
  expect_ended_untouched(program);
}

TEST_F(RunningFlagSet, OkClickedWithTheMouseGivesUp) {
  Program program(store_.exe());
  HWND dialog = wait_dialog(program);
  ASSERT_NE(dialog, nullptr);
  click_with_mouse_until_gone(dialog, find_child(dialog, L"Button", L"OK"));
  expect_ended_untouched(program);
}

TEST_F(RunningFlagSet, ClosingTheDialogGivesUp) {
  Program program(store_.exe());
  HWND dialog = wait_dialog(program);
  ASSERT_NE(dialog, nullptr);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  expect_ended_untouched(program);
}

TEST_F(RunningFlagSet, OverrideShowsTheMainWindow) {
  Program program(store_.exe());
  HWND dialog = wait_dialog(program);
  ASSERT_NE(dialog, nullptr);
  // The button's command, sent from this process as automation tools send it.
  HWND override_button = find_child(dialog, L"Button", L"No, you silly computer, run anyway");
  ASSERT_NE(override_button, nullptr);
  send_command(dialog, GetDlgCtrlID(override_button));
  HWND main = wait_main_window(program);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(fs::is_directory(store_ / "MailBank"));
  answer_exit(program, main, IDYES);
  EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(0));
  EXPECT_NE(store_.settings().find("running=False"), std::string::npos);
}

TEST_F(RunningFlagSet, OverrideClickedWithTheMouseShowsTheMainWindow) {
  Program program(store_.exe());
  HWND dialog = wait_dialog(program);
  ASSERT_NE(dialog, nullptr);
  click_with_mouse_until_gone(dialog,
                              find_child(dialog, L"Button", L"No, you silly computer, run anyway"));
  HWND main = wait_main_window(program);
  ASSERT_NE(main, nullptr);
  answer_exit(program, main, IDYES);
  EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(0));
}

TEST(SorterProgram, SecondCopyRefusesItselfAndLeavesTheFirstRunning) {
  Store first_store("first-copy");
  Store second_store("second-copy");
  Program first(first_store.exe());
  HWND first_main = wait_main_window(first);
  ASSERT_NE(first_main, nullptr);
  Program second(second_store.exe());
  // The second copy asks to unload itself during its load, before its window shows.
  HWND box = wait_message_box(second.pid(), L"Warning", 15s);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(find_window(second.pid(), nullptr, kMainCaption), nullptr);
  press(box, IDYES);
  EXPECT_EQ(second.wait_exit(10s), std::optional<DWORD>(0));
  EXPECT_FALSE(fs::exists(second_store / "MailBank"));
  EXPECT_TRUE(first.running());
  answer_exit(first, first_main, IDYES);
  EXPECT_EQ(first.wait_exit(10s), std::optional<DWORD>(0));
}

TEST(SorterProgram, DeveloperAccountsCanEndTheProgramAtOnce) {
  Store store("developer");
  Program program(store.exe(), {L"USERDOMAIN=KESTREL", L"USERNAME=Noor"});
  HWND main = wait_main_window(program);
  ASSERT_NE(main, nullptr);
  expect_about_box_at(program, main, 2);  // about moves down one for the immediate end
  HWND menu = open_tray_menu(program, main);
  ASSERT_NE(menu, nullptr);
  choose_menu_item(menu, 1);  // the immediate end, between exit and about
  EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(0));
  EXPECT_EQ(find_window(program.pid(), L"#32770", L"Warning"), nullptr);
  EXPECT_FALSE(fs::exists(store / "Sorter.ini"));
}

TEST(SorterProgram, FailedLoadSaysWhyAndEndsWithoutWritingTheFlag) {
  Store store("load-failure");
  write_bytes(store / "MailBank", {'x'});  // a file where the drop folder must be
  Program program(store.exe());
  HWND box = wait_message_box(program.pid(), L"Error");
  ASSERT_NE(box, nullptr);
  const std::wstring text = message_box_text(box);
  EXPECT_EQ(text.rfind(L"Error: ", 0), 0u) << std::string(text.begin(), text.end());
  EXPECT_NE(text.find(L" - "), std::wstring::npos);
  press(box, IDOK);
  EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(1));
  EXPECT_FALSE(fs::exists(store / "Sorter.ini"));
  EXPECT_EQ(read_text(store / "MailBank"), "x");
}

TEST(SorterProgram, SessionEndAsksNothingAndClearsTheFlag) {
  Store store("session-end");
  Program program(store.exe());
  HWND main = wait_main_window(program);
  ASSERT_NE(main, nullptr);
  PostMessageW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(program.wait_exit(10s), std::optional<DWORD>(0));
  EXPECT_EQ(find_window(program.pid(), L"#32770", L"Warning"), nullptr);
  EXPECT_NE(store.settings().find("running=False"), std::string::npos);
}

}  // namespace
}  // namespace sorter::gui_test

int main(int argc, char** argv) {
  // Inside the virtual desktop the standard output is not the caller's: write to a file.
  if (const char* out = std::getenv("SORTER_GUI_OUT")) {
    std::freopen(out, "w", stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
