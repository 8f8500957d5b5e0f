// The in-memory registry must answer every operation as Windows (in a Wine prefix) does: the
// cleaner's walks and searches are tested against it.
#include "platform/registry/memory_registry.h"

#include "platform/registry/registry_tree.h"
#include "tests/support/faulty_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

class MemoryRegistryTest : public ::testing::Test {
protected:
    HKEY Open(HKEY root, const char* path) {
        HKEY key = 0;
        EXPECT_EQ(reg.RegOpenKeyExA(root, path, 0, 0x3F, &key), kErrorSuccess) << path;
        return key;
    }

    std::vector<std::string> SubkeyNames(HKEY key) {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof name;
            LONG rc = reg.RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc == kErrorNoMoreItems) break;
            EXPECT_EQ(rc, kErrorSuccess);
            if (rc != kErrorSuccess) break;
            EXPECT_EQ(size, std::strlen(name));
            names.emplace_back(name);
        }
        return names;
    }

    MemoryRegistry reg;
};

TEST_F(MemoryRegistryTest, OpensKeysWithoutRegardToCaseAndEmptyPathsOpenTheKeyItself) {
    reg.CreateKey(kHkeyLocalMachine, "Software\\Maker\\Suite");
    HKEY key = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\maker\\SUITE", 0, 0x3F, &key), 0);
    HKEY same = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(key, "", 0, 0x3F, &same), 0);
    EXPECT_NE(same, key);
    HKEY viaNull = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(key, nullptr, 0, 0x3F, &viaNull), 0);
    HKEY root = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "", 0, 0x3F, &root), 0);
    EXPECT_EQ(SubkeyNames(root), std::vector<std::string>{"Software"});
    HKEY below = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(root, "software\\Maker", 0, 0x3F, &below), 0);
    EXPECT_EQ(SubkeyNames(below), std::vector<std::string>{"Suite"});
    EXPECT_EQ(reg.OpenHandleCount(), 5u);
    for (HKEY h : {key, same, viaNull, root, below}) EXPECT_EQ(reg.RegCloseKey(h), 0);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, ReportsMissingKeysAndBadHandles) {
    reg.CreateKey(kHkeyCurrentUser, "Software\\Maker");
    HKEY key = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(kHkeyCurrentUser, "Software\\Other", 0, 0x3F, &key), kErrorFileNotFound);
    EXPECT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, "Software\\Maker", 0, 0x3F, &key), kErrorFileNotFound);
    EXPECT_EQ(reg.RegOpenKeyExA(0x1234, "x", 0, 0x3F, &key), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegOpenKeyExA(0x80000003u, "", 0, 0x3F, &key), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegCloseKey(0x1234), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegCloseKey(kHkeyLocalMachine), kErrorSuccess);
    key = Open(kHkeyCurrentUser, "Software\\Maker");
    EXPECT_EQ(reg.RegCloseKey(key), kErrorSuccess);
    EXPECT_EQ(reg.RegCloseKey(key), kErrorInvalidHandle);
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(reg.RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), kErrorInvalidHandle);
}

TEST_F(MemoryRegistryTest, ClassesRootIsMachineSoftwareClasses) {
    reg.CreateKey(kHkeyClassesRoot, "CLSID\\{00000000-0000-0000-0000-000000000001}");
    EXPECT_TRUE(reg.KeyExists(kHkeyLocalMachine, "Software\\Classes\\CLSID"));
    reg.SetString(kHkeyLocalMachine, "Software\\Classes\\.abc", "", "abcfile");
    HKEY key = Open(kHkeyClassesRoot, ".ABC");
    char data[32];
    DWORD size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<unsigned char*>(data), &size), 0);
    EXPECT_STREQ(data, "abcfile");
    EXPECT_EQ(SubkeyNames(kHkeyClassesRoot), (std::vector<std::string>{".abc", "CLSID"}));
    reg.RegCloseKey(key);
}

// Windows' HKEY_CLASSES_ROOT: the user's copy of a key over the machine's, the subkeys of both.
TEST_F(MemoryRegistryTest, AMergedClassesRootShowsTheUsersCopyOverTheMachines) {
    reg.MergeUserClasses(true);
    reg.SetString(kHkeyClassesRoot, "CLSID\\{B}", "", "machine");
    reg.CreateKey(kHkeyClassesRoot, "CLSID\\{B}\\InprocServer32");
    reg.CreateKey(kHkeyClassesRoot, "CLSID\\{M}");
    reg.SetString(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{B}", "", "user");
    reg.CreateKey(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{B}\\DefaultIcon");
    reg.CreateKey(kHkeyCurrentUser, "Software\\Classes\\clsid\\{u}");
    const HKEY clsid = Open(kHkeyClassesRoot, "CLSID");
    EXPECT_EQ(SubkeyNames(clsid), (std::vector<std::string>{"{B}", "{M}", "{u}"}));
    const HKEY both = Open(clsid, "{b}");
    EXPECT_EQ(SubkeyNames(both), (std::vector<std::string>{"DefaultIcon", "InprocServer32"}));
    char data[16];
    DWORD size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(both, "", nullptr, nullptr, reinterpret_cast<unsigned char*>(data), &size), 0);
    EXPECT_STREQ(data, "user");
    EXPECT_EQ(reg.RegDeleteKeyA(clsid, "{u}"), 0);
    EXPECT_FALSE(reg.KeyExists(kHkeyCurrentUser, "Software\\Classes\\CLSID\\{u}"));
    EXPECT_TRUE(reg.KeyExists(kHkeyClassesRoot, "CLSID\\{M}"));
    for (HKEY h : {both, clsid}) EXPECT_EQ(reg.RegCloseKey(h), 0);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, EnumeratesSubkeysInWinesOrderKeepingTheirCase) {
    // Wine folds to lowercase, so [ \ ] ^ _ ` sort before letters, and a prefix comes first.
    for (const char* name : {"\xE9", "~t", "Z", "B", "abc", "ab_", "aB", "a1", "A", "`b", "_u", "^c"})
        reg.CreateKey(kHkeyLocalMachine, std::string("Order\\") + name);
    HKEY key = Open(kHkeyLocalMachine, "Order");
    EXPECT_EQ(SubkeyNames(key), (std::vector<std::string>{"^c", "_u", "`b", "A", "a1", "aB", "ab_", "abc",
                                                          "B", "Z", "~t", "\xE9"}));
    reg.CreateKey(kHkeyLocalMachine, "order\\AB");  // the same key: no second one, first case kept
    EXPECT_EQ(SubkeyNames(key).size(), 12u);
    reg.RegCloseKey(key);
}

TEST_F(MemoryRegistryTest, NamesThatDoNotFitGiveMoreDataWithoutWritingPastTheBuffer) {
    reg.CreateKey(kHkeyLocalMachine, "K\\LongerName");
    reg.SetString(kHkeyLocalMachine, "K", "ValueName", "x");
    HKEY key = Open(kHkeyLocalMachine, "K");
    char name[8];
    std::memset(name, '#', sizeof name);
    DWORD size = 5;
    std::uint64_t time = 0;
    EXPECT_EQ(reg.RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, &time), kErrorMoreData);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::string(name + 5, 3), "###");
    size = 10;  // room for the characters but not the NUL
    EXPECT_EQ(reg.RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), kErrorMoreData);
    char big[11];
    size = sizeof big;
    EXPECT_EQ(reg.RegEnumKeyExA(key, 0, big, &size, nullptr, nullptr, nullptr, &time), kErrorSuccess);
    EXPECT_STREQ(big, "LongerName");
    EXPECT_EQ(size, 10u);
    EXPECT_GT(time, 116444736000000000ull);  // a FILETIME after 1970
    size = 3;
    DWORD dataSize = 1;
    EXPECT_EQ(reg.RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, &dataSize), kErrorMoreData);
    EXPECT_EQ(size, 9u);
    size = 1;
    EXPECT_EQ(reg.RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr), kErrorNoMoreItems);
    EXPECT_EQ(reg.RegEnumValueA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr), kErrorNoMoreItems);
    reg.RegCloseKey(key);
}

TEST_F(MemoryRegistryTest, QueriesValuesWithWindowsSizeRules) {
    reg.SetString(kHkeyLocalMachine, "V", "Text", "abc");
    reg.SetString(kHkeyLocalMachine, "V", "", "default");
    reg.SetDword(kHkeyLocalMachine, "V", "Number", 0x12345678u);
    reg.SetValue(kHkeyLocalMachine, "V", "Bytes", kRegBinary, std::string("\x00\x01\xFF", 3));
    HKEY key = Open(kHkeyLocalMachine, "V");
    DWORD type = 99, size = 0;
    EXPECT_EQ(reg.RegQueryValueExA(key, "TEXT", nullptr, &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 4u);  // the NUL included
    unsigned char data[255];
    size = 3;
    EXPECT_EQ(reg.RegQueryValueExA(key, "Text", nullptr, nullptr, data, &size), kErrorMoreData);
    EXPECT_EQ(size, 4u);
    size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, "Text", nullptr, nullptr, data, &size), kErrorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("abc", 4));
    size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, nullptr, nullptr, nullptr, data, &size), kErrorSuccess);
    EXPECT_STREQ(reinterpret_cast<char*>(data), "default");
    size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, "Number", nullptr, &type, data, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "\x78\x56\x34\x12");
    size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, "Bytes", nullptr, &type, data, &size), kErrorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("\x00\x01\xFF", 3));
    EXPECT_EQ(reg.RegQueryValueExA(key, "Missing", nullptr, nullptr, data, &size), kErrorFileNotFound);
    reg.RegCloseKey(key);
}

TEST_F(MemoryRegistryTest, EnumeratesValuesInStoredOrder) {
    reg.SetString(kHkeyLocalMachine, "V", "zeta", "1");
    reg.SetString(kHkeyLocalMachine, "V", "Alpha", "2");
    reg.SetString(kHkeyLocalMachine, "V", "ZETA", "3");  // replaces zeta in its place
    HKEY key = Open(kHkeyLocalMachine, "V");
    std::vector<std::string> seen;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name, type = 0, dataSize = 1;
        LONG rc = reg.RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize);
        if (rc == kErrorNoMoreItems) break;
        ASSERT_EQ(rc, kErrorSuccess);
        EXPECT_EQ(dataSize, 2u);
        EXPECT_EQ(type, kRegSz);
        unsigned char data[8];
        DWORD size = sizeof data;
        ASSERT_EQ(reg.RegQueryValueExA(key, name, nullptr, nullptr, data, &size), 0);
        seen.push_back(std::string(name) + "=" + reinterpret_cast<char*>(data));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"zeta=3", "Alpha=2"}));
    reg.RegCloseKey(key);
}

TEST_F(MemoryRegistryTest, NarrowTextIsWindows1252) {
    // 0x80 is the euro sign, 0xE9 e-acute; both survive the trip through UTF-16.
    reg.SetString(kHkeyLocalMachine, "Caf\xE9", "Pr\x80is", "10 \x80");
    HKEY key = Open(kHkeyLocalMachine, "CAF\xC9");
    unsigned char data[16];
    DWORD size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, "PR\x80IS", nullptr, nullptr, data, &size), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("10 \x80", 5));
    reg.RegCloseKey(key);
    // A name with a character that Windows-1252 lacks comes out with '?'.
    detail::Tree& tree = reg.Tree();
    tree.Child(tree.Root(detail::Hive::kMachine), u"\u0100x");
    char name[8];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(reg.RegEnumKeyExA(kHkeyLocalMachine, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "?x");
    // A NUL inside a name would cut it short and make a walk open the parent again.
    tree.Child(tree.Root(detail::Hive::kMachine), std::u16string(u"\0y", 2));
    nameSize = sizeof name;
    EXPECT_EQ(reg.RegEnumKeyExA(kHkeyLocalMachine, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "?y");
    HKEY key2 = 0;
    EXPECT_EQ(reg.RegOpenKeyExA(kHkeyLocalMachine, name, 0, 0x3F, &key2), kErrorFileNotFound);
}

TEST_F(MemoryRegistryTest, DeletesOnlyKeysWithoutSubkeys) {
    reg.CreateKey(kHkeyLocalMachine, "Software\\Maker\\Suite\\Part");
    HKEY maker = Open(kHkeyLocalMachine, "Software\\Maker");
    HKEY part = Open(kHkeyLocalMachine, "Software\\Maker\\Suite\\Part");
    EXPECT_EQ(reg.RegDeleteKeyA(maker, "Suite"), kErrorAccessDenied);
    EXPECT_EQ(reg.RegDeleteKeyA(maker, "Nothing"), kErrorFileNotFound);
    EXPECT_EQ(reg.RegDeleteKeyA(maker, "SUITE\\part"), kErrorSuccess);
    EXPECT_FALSE(reg.KeyExists(kHkeyLocalMachine, "Software\\Maker\\Suite\\Part"));
    // A handle on a deleted key answers 1018 to everything but closing.
    char name[8];
    DWORD size = sizeof name;
    HKEY sub = 0;
    EXPECT_EQ(reg.RegEnumKeyExA(part, 0, name, &size, nullptr, nullptr, nullptr, nullptr), kErrorKeyDeleted);
    EXPECT_EQ(reg.RegQueryValueExA(part, "", nullptr, nullptr, nullptr, nullptr), kErrorKeyDeleted);
    EXPECT_EQ(reg.RegOpenKeyExA(part, "", 0, 0x3F, &sub), kErrorKeyDeleted);
    EXPECT_EQ(reg.RegDeleteKeyA(part, ""), kErrorKeyDeleted);
    EXPECT_EQ(reg.RegCloseKey(part), kErrorSuccess);
    // An empty path deletes the key the handle stands for; roots cannot be deleted.
    HKEY suite = Open(maker, "Suite");
    EXPECT_EQ(reg.RegDeleteKeyA(suite, nullptr), kErrorSuccess);
    EXPECT_EQ(SubkeyNames(maker), std::vector<std::string>{});
    EXPECT_EQ(reg.RegDeleteKeyA(kHkeyLocalMachine, ""), kErrorAccessDenied);
    reg.CreateKey(kHkeyCurrentUser, "Empty");
    HKEY userRoot = Open(kHkeyCurrentUser, "");
    EXPECT_EQ(reg.RegDeleteKeyA(userRoot, ""), kErrorAccessDenied);
    for (HKEY h : {maker, suite, userRoot}) reg.RegCloseKey(h);
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

// The tests' fault injector, over this registry: a fault names a key, whichever way it is reached.
TEST_F(MemoryRegistryTest, InjectedFaultsHitTheNamedKeyThroughEveryPath) {
    testsupport::FaultyRegistry faulty{reg};
    reg.CreateKey(kHkeyClassesRoot, "CLSID\\{A}\\InprocServer32");
    reg.CreateKey(kHkeyClassesRoot, "CLSID\\{B}");
    faulty.FailOpen(kHkeyClassesRoot, "CLSID\\{a}", kErrorAccessDenied);
    faulty.FailDelete(kHkeyLocalMachine, "Software\\Classes\\CLSID\\{B}", kErrorAccessDenied);
    faulty.FailEnumKey(kHkeyClassesRoot, "clsid", 1, 1009);
    HKEY key = 0;
    EXPECT_EQ(faulty.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\Classes\\CLSID\\{A}", 0, 0x3F, &key), kErrorAccessDenied);
    HKEY clsid = 0;
    ASSERT_EQ(faulty.RegOpenKeyExA(kHkeyClassesRoot, "CLSID", 0, 0x3F, &clsid), kErrorSuccess);
    EXPECT_EQ(faulty.RegOpenKeyExA(clsid, "{A}", 0, 0x3F, &key), kErrorAccessDenied);
    EXPECT_EQ(faulty.RegOpenKeyExA(clsid, "{A}\\InprocServer32", 0, 0x3F, &key), kErrorSuccess);
    faulty.RegCloseKey(key);
    EXPECT_EQ(faulty.RegDeleteKeyA(clsid, "{B}"), kErrorAccessDenied);
    char name[64];
    DWORD size = sizeof name;
    EXPECT_EQ(faulty.RegEnumKeyExA(clsid, 0, name, &size, nullptr, nullptr, nullptr, nullptr), kErrorSuccess);
    size = sizeof name;
    EXPECT_EQ(faulty.RegEnumKeyExA(clsid, 1, name, &size, nullptr, nullptr, nullptr, nullptr), 1009);
    faulty.ClearFaults();
    EXPECT_EQ(faulty.RegDeleteKeyA(clsid, "{B}"), kErrorSuccess);
    EXPECT_EQ(faulty.RegOpenKeyExA(clsid, "{A}", 0, 0x3F, &key), kErrorSuccess);
    faulty.RegCloseKey(key);
    faulty.RegCloseKey(clsid);
}

TEST_F(MemoryRegistryTest, FormatsWindowsTextsForItsCodes) {
    char text[255];
    auto format = [&](DWORD code) {
        DWORD n = reg.FormatMessageA(kFormatMessageFromSystem, nullptr, code, 0, text, sizeof text, nullptr);
        return n == std::strlen(text) ? std::string(text, n) : std::string("<length mismatch>");
    };
    EXPECT_EQ(format(0), "The operation completed successfully.\r\n");
    EXPECT_EQ(format(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(format(5), "Access is denied.\r\n");
    EXPECT_EQ(format(6), "The handle is invalid.\r\n");
    EXPECT_EQ(format(234), "More data is available.\r\n");
    EXPECT_EQ(format(259), "No more data is available.\r\n");
    EXPECT_EQ(format(1018),
              "Illegal operation attempted on a registry key that has been marked for deletion.\r\n");
    EXPECT_EQ(reg.FormatMessageA(kFormatMessageFromSystem, nullptr, 424242, 0, text, sizeof text, nullptr), 0u);
    EXPECT_EQ(reg.FormatMessageA(kFormatMessageFromSystem, nullptr, 5, 0, text, 5, nullptr), 0u);
}

}  // namespace
}  // namespace platform
