// The registry forwarder against Wine's real advapi32: the result codes and behaviours the
// registry layer relies on (registry_api.h), the 32-bit node reached by its path from the 64-bit
// view, link keys, and what the narrow functions cannot give out. Keys are opened for reading, as
// the cleaner opens every key it does not delete. Scratch keys are made with advapi32's own wide
// functions and removed afterwards.
#include "platform/win32/win32_registry.h"
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "tests/cleaner/search/removal_fakes.h"
#include "tests/support/faulty_registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

using platform::DWORD;
using Key = platform::HKEY;  // the contract's handle; ::HKEY is Windows' own
using platform::LONG;

const std::wstring kScratch = L"Software\\SorvelForwarderTest-" + std::to_wstring(::GetCurrentProcessId());
const std::string kScratchNarrow = "Software\\SorvelForwarderTest-" + std::to_string(::GetCurrentProcessId());

// A key made with advapi32 itself, in the given view.
void MakeKey(::HKEY root, const std::wstring& path, REGSAM view = 0) {
    ::HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void SetValue(::HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
              const void* data, DWORD size) {
    ::HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

bool KeyExists(::HKEY root, const std::wstring& path, REGSAM view) {
    ::HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

class ForwarderTest : public ::testing::Test {
protected:
    ~ForwarderTest() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch.c_str());
        ::HKEY machine = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            &machine) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(machine, kScratch.substr(std::wcslen(L"Software\\")).c_str());
            ::RegCloseKey(machine);
        }
    }

    Key Open(Key root, const std::string& path, DWORD options = 0) {
        Key key = 0;
        EXPECT_EQ(registry.RegOpenKeyExA(root, path.c_str(), options, platform::kKeyRead, &key), 0) << path;
        return key;
    }

    platform::Win32Registry registry;
};

TEST_F(ForwarderTest, KeepsTheResultCodesTheLayerReliesOn) {
    MakeKey(HKEY_CURRENT_USER, kScratch + L"\\Parent\\Child");
    SetValue(HKEY_CURRENT_USER, kScratch + L"\\Parent\\Child", L"Colour", REG_SZ, L"blue", 10);

    Key missing = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(platform::kHkeyCurrentUser, (kScratchNarrow + "\\None").c_str(),
                                     0, platform::kKeyRead, &missing),
              2);

    // Subkeys: a name that does not fit gives 234 and nothing past the buffer; a class size of
    // 0 asks for no class; past the last subkey, 259.
    const Key scratch = Open(platform::kHkeyCurrentUser, kScratchNarrow);
    char name[16];
    std::memset(name, 'x', sizeof name);
    DWORD size = 3;
    EXPECT_EQ(registry.RegEnumKeyExA(scratch, 0, name, &size, nullptr, nullptr, nullptr, nullptr), 234);
    EXPECT_EQ(name[3], 'x');
    char className[32];
    DWORD classSize = 0;
    size = sizeof name;
    EXPECT_EQ(registry.RegEnumKeyExA(scratch, 0, name, &size, nullptr, className, &classSize, nullptr), 0);
    EXPECT_EQ(std::string(name, size), "Parent");
    size = sizeof name;
    EXPECT_EQ(registry.RegEnumKeyExA(scratch, 1, name, &size, nullptr, nullptr, nullptr, nullptr), 259);

    // A key that still has subkeys is not deleted; a handle on a key deleted meanwhile gives 1018.
    EXPECT_EQ(registry.RegDeleteKeyA(scratch, "Parent"), 5);
    const Key child = Open(scratch, "Parent\\Child");
    EXPECT_EQ(registry.RegDeleteKeyA(scratch, "Parent\\Child"), 0);
    DWORD type = 0;
    EXPECT_EQ(registry.RegQueryValueExA(child, "Colour", nullptr, &type, nullptr, &size), 1018);
    EXPECT_EQ(registry.RegCloseKey(child), 0);
    EXPECT_EQ(registry.RegCloseKey(child), 6);
    EXPECT_EQ(registry.RegDeleteKeyA(scratch, "Parent"), 0);
    EXPECT_EQ(registry.RegCloseKey(scratch), 0);

    // An empty path below a root is the root's own handle, which closing leaves open.
    const Key root = Open(platform::kHkeyCurrentUser, "");
    EXPECT_EQ(root, platform::kHkeyCurrentUser);
    EXPECT_EQ(registry.RegCloseKey(root), 0);
    Key software = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(root, "Software", 0, platform::kKeyRead, &software), 0);
    registry.RegCloseKey(software);

    char text[256] = {};
    const DWORD length = registry.FormatMessageA(platform::kFormatMessageFromSystem, nullptr, 5,
                                                 0, text, 255, nullptr);
    EXPECT_GT(length, 2u);
    EXPECT_EQ(std::string(text, length).substr(length - 2), "\r\n");
}

// Whether this runs on a 64-bit Windows (natively, or an i686 test through WOW64).
bool On64BitWindows() {
    SYSTEM_INFO system;
    ::GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

TEST_F(ForwarderTest, ReachesThe32BitNodeByItsPathAndOpensALinkItself) {
    if (!On64BitWindows()) {
        // One node: what a 32-bit installer writes is at its own path, and no Wow6432Node
        // stands beside it.
        EXPECT_FALSE(registry.HasWow64Node());
        MakeKey(HKEY_LOCAL_MACHINE, kScratch + L"\\Installed", KEY_WOW64_32KEY);
        const Key key = Open(platform::kHkeyLocalMachine, kScratchNarrow + "\\Installed");
        registry.RegCloseKey(key);
        Key none = 0;
        EXPECT_EQ(registry.RegOpenKeyExA(platform::kHkeyLocalMachine, "Software\\Wow6432Node", 0, platform::kKeyRead, &none), 2);
        EXPECT_EQ(registry.RegDeleteKeyA(platform::kHkeyLocalMachine, (kScratchNarrow + "\\Installed").c_str()), 0);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kScratch + L"\\Installed", 0));
        return;
    }
    ASSERT_TRUE(registry.HasWow64Node());
    // A 32-bit installer's key, and the same path written in the 64-bit view.
    MakeKey(HKEY_LOCAL_MACHINE, kScratch + L"\\Only32", KEY_WOW64_32KEY);
    const std::string node = "Software\\Wow6432Node\\" + kScratchNarrow.substr(9);
    const Key key = Open(platform::kHkeyLocalMachine, node + "\\Only32");
    registry.RegCloseKey(key);
    Key none = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(platform::kHkeyLocalMachine, (kScratchNarrow + "\\Only32").c_str(),
                                     0, platform::kKeyRead, &none),
              2);
    EXPECT_EQ(registry.RegDeleteKeyA(platform::kHkeyLocalMachine, (node + "\\Only32").c_str()), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kScratch + L"\\Only32", KEY_WOW64_32KEY));

    // Software\Wow6432Node\Classes is a link: opened itself it holds the link's value; opened
    // without the option, its target (the 32-bit classes), which has subkeys of its own.
    const Key link = Open(platform::kHkeyLocalMachine, "Software\\Wow6432Node\\Classes",
                           platform::kRegOptionOpenLink);
    DWORD type = 0;
    EXPECT_EQ(registry.RegQueryValueExA(link, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr), 0);
    EXPECT_EQ(type, platform::kRegLink);
    registry.RegCloseKey(link);
    const Key target = Open(platform::kHkeyLocalMachine, "Software\\Wow6432Node\\Classes");
    EXPECT_EQ(registry.RegQueryValueExA(target, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr), 2);
    char name[256];
    DWORD size = sizeof name;
    EXPECT_EQ(registry.RegEnumKeyExA(target, 0, name, &size, nullptr, nullptr, nullptr, nullptr), 0);
    registry.RegCloseKey(target);
}

TEST_F(ForwarderTest, TellsWhatTheNarrowFunctionsCannotGiveOut) {
    const std::wstring plain = kScratch + L"\\Plain";
    SetValue(HKEY_CURRENT_USER, plain, L"Name", REG_SZ, L"caf\u00e9", 10);
    SetValue(HKEY_CURRENT_USER, plain, L"Bytes", REG_BINARY, "\x01\x00\x01", 3);
    MakeKey(HKEY_CURRENT_USER, plain + L"\\Sub");
    const std::wstring names = kScratch + L"\\Names";
    MakeKey(HKEY_CURRENT_USER, names + L"\\\u0100");
    const std::wstring valueName = kScratch + L"\\ValueName";
    SetValue(HKEY_CURRENT_USER, valueName, L"x\u0100", REG_DWORD, "\x01\x00\x00\x00", 4);
    const std::wstring text = kScratch + L"\\Text";
    SetValue(HKEY_CURRENT_USER, text, L"", REG_EXPAND_SZ, L"\u0100", 4);
    const std::wstring odd = kScratch + L"\\Odd";
    SetValue(HKEY_CURRENT_USER, odd, L"", REG_SZ, "abc", 3);

    const auto loss = [&](const std::wstring& path) {
        const std::string narrow(path.begin(), path.end());
        const Key key = Open(platform::kHkeyCurrentUser, narrow);
        DWORD found = 99;
        EXPECT_EQ(registry.QueryNarrowLoss(key, &found), 0);
        registry.RegCloseKey(key);
        return found;
    };
    EXPECT_EQ(loss(plain), 0u);
    EXPECT_EQ(loss(names), platform::kNarrowNamesInexact);
    EXPECT_EQ(loss(valueName), platform::kNarrowNamesInexact);
    EXPECT_EQ(loss(text), platform::kNarrowTextInexact);
    EXPECT_EQ(loss(odd), platform::kNarrowTextInexact);
    EXPECT_EQ(registry.QueryNarrowLoss(platform::kHkeyCurrentUser, nullptr), 87);
}

// The tests' fault injector over advapi32: a fault named by its path hits the key reached
// through a handle of its parent, and the key is untouched until the fault is cleared.
TEST_F(ForwarderTest, TellsAKeyWithAClassName) {
    ::HKEY made = nullptr;
    wchar_t className[] = L"SuiteClass";
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (kScratch + L"\\Classed").c_str(), 0, className, 0,
                                KEY_ALL_ACCESS, nullptr, &made, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(made);
    MakeKey(HKEY_CURRENT_USER, kScratch + L"\\Plain");
    for (const auto& [name, expected] : {std::pair{"\\Classed", true}, std::pair{"\\Plain", false}}) {
        const Key key = Open(platform::kHkeyCurrentUser, kScratchNarrow + name);
        bool hasClass = !expected;
        EXPECT_EQ(registry.QueryKeyClass(key, &hasClass), 0) << name;
        EXPECT_EQ(hasClass, expected) << name;
        registry.RegCloseKey(key);
    }
}

TEST_F(ForwarderTest, TheFaultInjectorNamesKeysOverAdvapi32) {
    MakeKey(HKEY_CURRENT_USER, kScratch + L"\\Locked");
    testsupport::FaultyRegistry faulty(registry);
    faulty.FailOpen(platform::kHkeyCurrentUser, kScratchNarrow + "\\LOCKED", 5);
    faulty.FailDelete(platform::kHkeyCurrentUser, kScratchNarrow + "\\locked", 5);
    Key scratch = 0, locked = 0;
    ASSERT_EQ(faulty.RegOpenKeyExA(platform::kHkeyCurrentUser, kScratchNarrow.c_str(), 0, 0x3F, &scratch), 0);
    EXPECT_EQ(faulty.RegOpenKeyExA(scratch, "Locked", 0, 0x3F, &locked), 5);
    EXPECT_EQ(faulty.RegDeleteKeyA(scratch, "Locked"), 5);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kScratch + L"\\Locked", 0));
    faulty.ClearFaults();
    EXPECT_EQ(faulty.RegDeleteKeyA(scratch, "Locked"), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch + L"\\Locked", 0));
    EXPECT_EQ(faulty.RegCloseKey(scratch), 0);
}

// Windows merges the user's classes into HKEY_CLASSES_ROOT; the removal takes a class key that
// has a user's copy copy by copy, by each copy's own root, and advapi32 opens and deletes both.
TEST_F(ForwarderTest, TheRemovalTakesEachCopyOfAClassByItsOwnRoot) {
    const std::wstring clsid = L"{SorvelUserClassesTest-" + std::to_wstring(::GetCurrentProcessId()) + L"}";
    const std::string narrow(clsid.begin(), clsid.end());
    const std::pair<::HKEY, const wchar_t*> copies[] = {
        {HKEY_CURRENT_USER, L"user copy"}, {HKEY_LOCAL_MACHINE, L"machine copy"}};
    const std::wstring path = L"Software\\Classes\\CLSID\\" + clsid;
    for (const auto& [root, text] : copies) {
        ::HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                         static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    ASSERT_TRUE(registry.MergesUserClasses());
    removal_test::EventLog log;
    removal_test::FakeFiles files{log};
    removal_test::RecordingView view;
    cleaner::modRegFuncs reg{registry, view};
    cleaner::modFennick fennick{reg, view};
    fennick.UseBackupFiles(files);
    fennick.FoundKeys = {{cleaner::kClassBranch, "", narrow, ""}};

    fennick.RemoveFoundKeys("backup.reg");

    for (const auto& copy : copies) {
        const bool left = KeyExists(copy.first, path, KEY_WOW64_64KEY);
        EXPECT_FALSE(left);
        if (left) ::RegDeleteKeyExW(copy.first, path.c_str(), KEY_WOW64_64KEY, 0);
    }
    EXPECT_EQ(files.files["backup.reg"],
              "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n"
              "\r\n[HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\" + narrow + "]\r\n@=\"user copy\"\r\n\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\" + narrow + "]\r\n@=\"machine copy\"\r\n\r\n");
    EXPECT_TRUE(view.messages.empty());
}

}  // namespace
