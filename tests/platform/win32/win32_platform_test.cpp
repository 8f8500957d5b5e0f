// The Windows platform's side of an uninstall run as SYSTEM, under Wine: in a window station that
// no one sees, the start-up is told that no box can be shown (it then writes every report to
// standard error, and the exit status says what happened), and Windows' own narrow texts are
// read in the system's code page.
#include "cleaner/win32/message_boxes.h"
#include "cleaner/win32/win32_platform.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using ::testing::HasSubstr;

TEST(Win32PlatformTest, AWindowStationNoOneSeesShowsNoBoxAndSaysWhy) {
    cleaner::win32::Win32Platform platform;
    EXPECT_EQ(platform.WindowProblem(), "");  // the user's own station

    const HWINSTA own = ::GetProcessWindowStation();
    const std::wstring name = L"SorvelUnseen" + std::to_wstring(::GetCurrentProcessId());
    const HWINSTA unseen = ::CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(unseen, nullptr) << ::GetLastError();
    ASSERT_TRUE(::SetProcessWindowStation(unseen));
    const std::string problem = platform.WindowProblem();
    ASSERT_TRUE(::SetProcessWindowStation(own));
    ::CloseWindowStation(unseen);
    EXPECT_THAT(problem, HasSubstr("no one sees its windows"));
    EXPECT_THAT(problem, HasSubstr("no message box"));
}

TEST(Win32PlatformTest, NarrowTextIsReadInItsCodePage) {
    // "Отказано в доступе." as a Russian Windows writes it (code page 1251); read as
    // Windows-1252 it would come out as "Îòêàçàíî â äîñòóïå."
    const std::string russian = "\xCE\xF2\xEA\xE0\xE7\xE0\xED\xEE \xE2 \xE4\xEE\xF1\xF2\xF3\xEF\xE5.";
    EXPECT_EQ(cleaner::win32::Utf8FromCodePage(russian, 1251), "Отказано в доступе.");
    EXPECT_EQ(cleaner::win32::Utf8FromCodePage("J\xFCrgen", 1252), "Jürgen");
    // The platform reads the system's own: on a Russian system, Russian.
    if (::GetACP() == 1251) {
        EXPECT_EQ(cleaner::win32::Win32Platform().NarrowToUtf8(russian), "Отказано в доступе.");
    }
}

}  // namespace
