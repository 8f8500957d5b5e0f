// A small registry with a fictional suite ("Tarvo") registered beside registrations that must
// stay, a keyword file, and a backup path, in a temporary folder of its own.
#pragma once

#include "platform/registry/memory_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace cleaner::test {

using platform::kHkeyClassesRoot;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

inline constexpr const char* kSuiteClsid = "{1A2B3C4D-0000-4000-8000-00000000A001}";
inline constexpr const char* kSuiteIid = "{1A2B3C4D-0000-4000-8000-00000000B001}";
inline constexpr const char* kSuiteLibid = "{1A2B3C4D-0000-4000-8000-00000000C001}";
inline constexpr const char* kOtherClsid = "{9F8E7D6C-0000-4000-8000-00000000A002}";
inline constexpr const char* kOtherIid = "{9F8E7D6C-0000-4000-8000-00000000B002}";
inline constexpr const char* kOtherLibid = "{9F8E7D6C-0000-4000-8000-00000000C002}";

inline std::string ClsidKey(const char* id) { return std::string("CLSID\\") + id; }
inline std::string IidKey(const char* id) { return std::string("Interface\\") + id; }
inline std::string LibidKey(const char* id) { return std::string("TypeLib\\") + id; }

inline void RegisterSuite(platform::MemoryRegistry& reg) {
    const auto hkcr = kHkeyClassesRoot;
    reg.SetString(hkcr, "Tarvo.Ledger", "", "Tarvo Ledger");
    reg.SetString(hkcr, "Tarvo.Ledger\\CLSID", "", kSuiteClsid);
    reg.SetString(hkcr, ClsidKey(kSuiteClsid), "", "Tarvo Ledger Control");
    reg.SetString(hkcr, ClsidKey(kSuiteClsid) + "\\ProgId", "", "Tarvo.Ledger.1");
    reg.SetString(hkcr, ClsidKey(kSuiteClsid) + "\\InprocServer32", "",
                  "C:\\Program Files\\Tarvo\\ledger.dll");
    reg.SetString(hkcr, ClsidKey(kSuiteClsid) + "\\TypeLib", "", kSuiteLibid);
    reg.SetString(hkcr, IidKey(kSuiteIid), "", "ILedger");
    reg.SetString(hkcr, IidKey(kSuiteIid) + "\\TypeLib", "", kSuiteLibid);
    reg.SetString(hkcr, LibidKey(kSuiteLibid) + "\\1.0", "", "Ledger 1.0 Type Library");
    reg.SetString(hkcr, LibidKey(kSuiteLibid) + "\\1.0\\0\\win32", "",
                  "C:\\Program Files\\Tarvo\\ledger.tlb");
    reg.SetString(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98\\Paths", "Data", "C:\\Tarvo\\Data");
    reg.SetString(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98\\Window", "Left", "120");
}

inline void RegisterOthers(platform::MemoryRegistry& reg) {
    const auto hkcr = kHkeyClassesRoot;
    reg.SetString(hkcr, "txtfile", "", "Text Document");
    reg.SetString(hkcr, ClsidKey(kOtherClsid), "", "Shell Helper");
    reg.SetString(hkcr, ClsidKey(kOtherClsid) + "\\InprocServer32", "", "C:\\windows\\helper.dll");
    reg.SetString(hkcr, ClsidKey(kOtherClsid) + "\\TypeLib", "", kOtherLibid);
    reg.SetString(hkcr, IidKey(kOtherIid), "", "IHelper");
    reg.SetString(hkcr, IidKey(kOtherIid) + "\\TypeLib", "", kOtherLibid);
    reg.SetString(hkcr, LibidKey(kOtherLibid) + "\\1.0\\0\\win32", "", "C:\\windows\\helper.tlb");
    reg.SetString(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\Shared", "Keep", "yes");
}

inline bool SuiteClassesGone(const platform::MemoryRegistry& reg) {
    return !reg.KeyExists(kHkeyClassesRoot, "Tarvo.Ledger") &&
           !reg.KeyExists(kHkeyClassesRoot, ClsidKey(kSuiteClsid)) &&
           !reg.KeyExists(kHkeyClassesRoot, IidKey(kSuiteIid)) &&
           !reg.KeyExists(kHkeyClassesRoot, LibidKey(kSuiteLibid));
}

inline bool SuiteClassesThere(const platform::MemoryRegistry& reg) {
    return reg.KeyExists(kHkeyClassesRoot, "Tarvo.Ledger") &&
           reg.KeyExists(kHkeyClassesRoot, ClsidKey(kSuiteClsid)) &&
           reg.KeyExists(kHkeyClassesRoot, IidKey(kSuiteIid)) &&
           reg.KeyExists(kHkeyClassesRoot, LibidKey(kSuiteLibid));
}

inline bool SettingsThere(const platform::MemoryRegistry& reg) {
    return reg.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98") &&
           reg.KeyExists(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98");
}

inline bool OthersThere(const platform::MemoryRegistry& reg) {
    return reg.KeyExists(kHkeyClassesRoot, "txtfile") &&
           reg.KeyExists(kHkeyClassesRoot, ClsidKey(kOtherClsid)) &&
           reg.KeyExists(kHkeyClassesRoot, IidKey(kOtherIid)) &&
           reg.KeyExists(kHkeyClassesRoot, LibidKey(kOtherLibid)) &&
           reg.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\Shared");
}

// A temporary folder holding the keyword file; removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("sorvel-window-" + std::string(info->test_suite_name()) + "-" + info->name() +
                 "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream out(path_ / name, std::ios::binary);
        out << content;
    }

    std::string Read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

private:
    std::filesystem::path path_;
};

inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace cleaner::test
