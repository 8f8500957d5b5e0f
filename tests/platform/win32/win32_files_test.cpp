// The backup's files on Windows (under Wine): whole writes continued at the end, a rename that
// never replaces, and the paths a backup must not be written to, each with its reason.
#include "cleaner/win32/command_line.h"
#include "platform/win32/win32_files.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using ::testing::HasSubstr;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class Win32FilesTest : public ::testing::Test {
protected:
    Win32FilesTest() {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "sorvel-files-" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(folder.c_str(), nullptr);
    }
    ~Win32FilesTest() override {
        for (const char* name : {"a.reg", "b.reg"}) ::DeleteFileA(PathOf(name).c_str());
        ::RemoveDirectoryA(folder.c_str());
    }
    std::string PathOf(const std::string& name) const { return folder + "\\" + name; }

    std::string folder;
    platform::Win32BackupFiles files;
    std::string reason;
};

TEST_F(Win32FilesTest, WritesWholeBlocksAndRenamesWithoutReplacing) {
    const std::string a = PathOf("a.reg");
    auto writer = files.Create(a, reason);
    ASSERT_NE(writer, nullptr) << reason;
    ASSERT_TRUE(writer->Write("REGEDIT4\r\n", reason)) << reason;
    EXPECT_EQ(ReadAll(a), "REGEDIT4\r\n");  // in the file before Write returned
    ASSERT_TRUE(writer->Close(reason));
    writer = files.Append(a, reason);
    ASSERT_NE(writer, nullptr) << reason;
    EXPECT_EQ(writer->Size(), 10u);
    ASSERT_TRUE(writer->Write("\r\n[X]\r\n", reason));
    writer.reset();
    EXPECT_EQ(ReadAll(a), "REGEDIT4\r\n\r\n[X]\r\n");
    writer = files.Create(a, reason);  // a new backup starts empty
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->Size(), 0u);
    writer.reset();

    const std::string b = PathOf("b.reg");
    std::ofstream(b, std::ios::binary) << "kept";
    EXPECT_FALSE(files.Rename(a, b, reason));
    EXPECT_THAT(reason, HasSubstr("is there already"));
    EXPECT_EQ(ReadAll(b), "kept");
    ASSERT_TRUE(files.Remove(b, reason));
    EXPECT_TRUE(files.Rename(a, b, reason)) << reason;
}

TEST_F(Win32FilesTest, RefusesWhatIsNoFileOnADiscAndNamesAMissingFolder) {
    EXPECT_EQ(files.Create("NUL", reason), nullptr);
    EXPECT_EQ(reason, "it is not a regular file");
    EXPECT_EQ(files.Append(folder + "\\missing\\a.reg", reason), nullptr);
    EXPECT_EQ(reason, "the folder \"" + folder + "\\missing\" does not exist");
    EXPECT_EQ(files.Create(folder, reason), nullptr);  // a folder
    EXPECT_FALSE(reason.empty());
}

TEST(CommandLineTest, IsWhatFollowsTheProgramsNameByWindowsRules) {
    using cleaner::win32::CommandLineText;
    EXPECT_EQ(CommandLineText("sorvel.exe"), "");
    EXPECT_EQ(CommandLineText("sorvel.exe \t Nexbay 3 "), "Nexbay 3 ");
    EXPECT_EQ(CommandLineText("\"C:\\Program Files\\Tarvo\\sorvel.exe\" Nexbay 3"), "Nexbay 3");
    EXPECT_EQ(CommandLineText("\"C:\\Program Files\\sorvel.exe\"\"My App\""), "\"My App\"");
    EXPECT_EQ(CommandLineText("\"unclosed name"), "");
}

}  // namespace
