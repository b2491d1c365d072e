#pragma once
// The fixed texts of the tray program: captions, menu items, questions and message formats.

#include <string>

namespace sorter::ui {

inline constexpr wchar_t kMainCaption[] = L"Quenby E-mail Sorter";
inline constexpr wchar_t kLoadingText[] = L"Loading... Please Wait.";
inline constexpr wchar_t kTrayTooltip[] = L"Vantry Sorter";

inline constexpr wchar_t kMenuFile[] = L"File";
inline constexpr wchar_t kMenuExit[] = L"Exit Quenby E-mail Sorter";
inline constexpr wchar_t kMenuCrash[] = L"Crash Quenby E-mail Sorter";
inline constexpr wchar_t kMenuAbout[] = L"About...";

// CR only between the sentence and the question, as the message box shows it.
inline constexpr wchar_t kExitQuestion[] =
    L"You are about to exit Quenby E-mail Sorter. Doing so will result in people not "
    L"receiveing their \"Quenby E-mail\".\r\rProceed?";
inline constexpr wchar_t kExitTitle[] = L"Warning";
inline constexpr unsigned kExitStyle = 0x114;  // Yes/No, stop icon, No is the default

inline constexpr wchar_t kAboutTitle[] = L"About...";
inline constexpr unsigned kAboutStyle = 0x40;  // OK, information icon
inline constexpr wchar_t kAboutCredits[] = L"Written and maintained by the mail service team.";
inline constexpr wchar_t kAboutCopyright[] = L"Copyright (C) 2007 the mail service team.";

inline constexpr wchar_t kLoadErrorTitle[] = L"Error";
inline constexpr unsigned kLoadErrorStyle = 0x10;  // OK, stop icon

inline constexpr wchar_t kAlreadyCaption[] = L"::  Already Running  ::";
inline constexpr wchar_t kAlreadyText[] = L"Rerov Udurud is already running somewhere else.";
inline constexpr wchar_t kAlreadyOk[] = L"OK";
inline constexpr wchar_t kAlreadyOverride[] = L"No, you silly computer, run anyway";

struct ProgramVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned revision = 0;
  std::wstring comment;
};

// The about box text: caption, CR, version line, two CRs, credits, two CRs, copyright.
std::wstring about_text(const ProgramVersion& version);

// "Version 1.0.82 - <comment>": plain decimal numbers without leading zeros.
std::wstring version_line(const ProgramVersion& version);

}  // namespace sorter::ui
