// Paths with characters beyond ASCII on Windows (under Wine), on whatever ANSI code page the
// system has: a current folder that the code page may lack (C:\Jürgen on a Russian system) finds
// its keyword file, and an older backup in a folder named with a character of 0x80-0x9F in
// Windows-1252 (the en dash of C:\a–b) is seen, read and kept aside, never emptied.
#include "cleaner/search/modFennick.h"
#include "platform/registry/memory_registry.h"
#include "platform/win32/win32_files.h"
#include "tests/cleaner/search/fake_view.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Run in a named code page (tests/platform/win32/CMakeLists.txt), the system must have it.
TEST(Win32PathsTest, TheSystemHasTheCodePageTheTestRunIsFor) {
    const char* wanted = std::getenv("SORVEL_TESTS_CODE_PAGE");
    if (wanted != nullptr) {
        EXPECT_EQ(::GetACP(), static_cast<UINT>(std::atoi(wanted)));
    }
}

// A folder of the given wide name in the temporary folder, removed with what the test left in it.
class WideFolder {
public:
    explicit WideFolder(const std::wstring& name) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + name + L"-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~WideFolder() {
        for (const wchar_t* file : {L"taRegKeywords.txt", L"backup.reg", L"backup-aside.reg"})
            ::DeleteFileW((path_ + L"\\" + file).c_str());
        ::RemoveDirectoryW(path_.c_str());
    }
    void Write(const wchar_t* file, const std::string& content) const {
        const HANDLE handle = ::CreateFileW((path_ + L"\\" + file).c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        ::CloseHandle(handle);
    }
    // The folder's path as the program's narrow text gives it: in the ANSI code page.
    std::string Narrow() const {
        char narrow[MAX_PATH * 2] = {};
        ::WideCharToMultiByte(CP_ACP, 0, path_.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
        return narrow;
    }
    const std::wstring& Wide() const { return path_; }

private:
    std::wstring path_;
};

TEST(Win32PathsTest, ACurrentFolderOutsideTheCodePageFindsItsKeywordFile) {
    const WideFolder folder(L"J\u00FCrgen");
    folder.Write(L"taRegKeywords.txt", "Tarvo\r\n");
    wchar_t before[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.Wide().c_str()));

    platform::MemoryRegistry registry;
    cleaner::testing::FakeView view;
    cleaner::modRegFuncs reg(registry, view);
    cleaner::modFennick fennick(reg, view);
    platform::Win32BackupFiles files;
    fennick.UseBackupFiles(files);
    const bool loaded = fennick.LoadKeywords("taRegKeywords.txt");
    ::SetCurrentDirectoryW(before);

    EXPECT_TRUE(loaded) << "code page " << ::GetACP();
    ASSERT_EQ(fennick.Keywords.size(), 1u);
    EXPECT_EQ(fennick.Keywords[0].Text, "Tarvo");
}

TEST(Win32PathsTest, AnOlderBackupInAFolderWithAnEnDashIsSeenReadAndKeptAside) {
    const WideFolder folder(L"a\u2013b");
    folder.Write(L"backup.reg", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Tarvo.Old]\r\n\r\n");
    const std::string backup = folder.Narrow() + "\\backup.reg";
    ASSERT_EQ(backup.find('?'), std::string::npos) << "the dash is in every code page tested";

    platform::Win32BackupFiles files;
    platform::PathFacts facts;
    std::string reason;
    ASSERT_TRUE(files.Look(backup, facts, reason)) << reason;
    EXPECT_EQ(facts.kind, platform::PathFacts::Kind::RegularFile) << "code page " << ::GetACP();
    EXPECT_EQ(facts.size, 45u);
    std::string start;
    ASSERT_TRUE(files.ReadStart(backup, 8, start, reason)) << reason;
    EXPECT_EQ(start, "REGEDIT4");
    const std::string aside = folder.Narrow() + "\\backup-aside.reg";
    ASSERT_TRUE(files.Rename(backup, aside, reason)) << reason;
    ASSERT_TRUE(files.Look(aside, facts, reason)) << reason;
    EXPECT_EQ(facts.size, 45u);
    ASSERT_TRUE(files.Remove(aside, reason)) << reason;
    ASSERT_TRUE(files.Look(aside, facts, reason)) << reason;
    EXPECT_EQ(facts.kind, platform::PathFacts::Kind::Nothing);
}

}  // namespace
