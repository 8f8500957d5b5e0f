// sorvel.exe under Wine beside the Linux sorvel, on copies of one prefix in which the suite was
// installed as its 32-bit installer does it (reg import /reg:32), with a few keys of its own in
// the 64-bit node. Three Windows: the x86_64 program in a 64-bit Windows, the i686 program (the
// real target) there through WOW64, and the i686 program in a 32-bit Windows, whose one node
// holds all of the suite. In each, the same whole run, in the window (clicked with xdotool under
// Xvfb) or by --clean without one, gives the same backup file, byte for byte, and the same
// registry, and the documented import of that backup, or --restore, gives the registry back as
// it was; the same command line leaves the same registry; a command line that both refuse is
// refused in the same words.
#include "tests/support/run_program.h"
#include "tests/support/wine.h"
#include "tests/windows_e2e/desktop.h"

#include "cleaner/registry/backup_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#ifndef SORVEL_PROGRAM
#error "SORVEL_PROGRAM must name the Linux program"
#endif
#if !defined(SORVEL_EXE) || !defined(SORVEL_EXE_I686)
#error "SORVEL_EXE and SORVEL_EXE_I686 must name the x86_64 and the i686 Windows programs"
#endif

namespace e2e {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

#define N1 "{5A0F0E01-7E11-4C2B-9A10-0000000000D1}"
#define N2 "{5A0F0E02-7E11-4C2B-9A10-0000000000D2}"
#define NI "{5A0F0E03-7E11-4C2B-9A10-0000000000D3}"
#define NL "{5A0F0E04-7E11-4C2B-9A10-0000000000D4}"
#define UNINSTALL "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"

// What the suite's 32-bit installer writes, in the 32-bit view. The settings hold every kind
// of value the backup writes (a long one, text with a character beyond ASCII, expandable text,
// a list, bytes, a number) and an empty key.
const std::string kSuite32 =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Nexbay.Document]\r\n@=\"Nexbay Document\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Nexbay.Document\\CLSID]\r\n@=\"" N1 "\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "]\r\n@=\"Nexbay Document Class\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "\\InprocServer32]\r\n"
    "@=\"C:\\\\Program Files\\\\Tarvo\\\\nexbay.dll\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "\\ProgID]\r\n@=\"Nexbay.Document\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N1 "\\TypeLib]\r\n@=\"" NL "\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Interface\\" NI "]\r\n@=\"INexbayDocument\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Interface\\" NI "\\TypeLib]\r\n@=\"" NL "\"\r\n\"Version\"=\"1.0\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\" NL "\\1.0]\r\n@=\"Nexbay Types\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\" NL "\\1.0\\0\\win32]\r\n"
    "@=\"C:\\\\Program Files\\\\Tarvo\\\\nexbay.tlb\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\98]\r\n\"Path\"=\"C:\\\\Tarvo\"\r\n"
    "\"Owner\"=\"Caf\xe9 \\\"Nord\\\"\"\r\n\"Seats\"=dword:00000005\r\n\"Key\"=hex:01,02,03\r\n"
    "\"Home\"=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,6c,00,65,00,73,00,25,00,00,00\r\n"
    "\"Modules\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Notes\"=\"" + std::string(300, 'n') + "\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\98\\Empty]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\97]\r\n\"Keep\"=\"yes\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Nexbay 3\\Options]\r\n\"Level\"=\"3\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zelk\\Nexbay 3]\r\n@=\"zelk\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zelk\\Nexbay 30]\r\n@=\"a neighbour\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zelk Company\\Anything]\r\n@=\"x\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\" UNINSTALL "TarvoNexbay 98]\r\n\"DisplayName\"=\"Tarvo Nexbay 98\"\r\n\r\n";

// And what it put in the 64-bit node and for the user.
const std::string kSuite64 =
    "REGEDIT4\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\Nexbay.Shell]\r\n@=\"Nexbay Shell\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N2 "]\r\n@=\"Nexbay Shell Extension\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\" N2 "\\InprocServer32]\r\n"
    "@=\"C:\\\\Program Files\\\\Tarvo\\\\nexshell64.dll\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\98]\r\n\"Path64\"=\"C:\\\\Tarvo64\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Nexbay 3]\r\n\"Seats\"=dword:00000003\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\" UNINSTALL "Tarvo Nexbay 1.0]\r\n\"DisplayName\"=\"Tarvo Nexbay\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Tarvo\\98]\r\n\"Window\"=dword:00000078\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Tarvo\\Nexbay 3]\r\n\"Recent\"=hex(7):61,00,00,00,00,00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Tarvo\\Other]\r\n\"Keep\"=\"yes\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Zelk Company]\r\n\"Seen\"=\"1\"\r\n\r\n";

// The window's client area at 96 dots an inch, and the middle of the controls the run clicks
// (pixels from its top-left corner; the control table's twips over 15).
constexpr int kClientWidth = 311;
constexpr int kClientHeight = 272;
constexpr std::pair<int, int> kCheck2{200, 64};
constexpr std::pair<int, int> kRemove{48, 172};
constexpr std::pair<int, int> kCancel{272, 172};

std::string WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// UTF-16 text (reg's exports) with each character's high byte dropped: its ASCII readable.
std::string Ascii(const std::string& utf16) {
    std::string text;
    for (std::size_t i = 0; i < utf16.size(); i += 2) text.push_back(utf16[i]);
    return text;
}

// A folder of the test's own with a copy of the suite's prefix and the keyword file, removed
// (after the prefix's Wine server ended) with the object.
struct Workspace {
    explicit Workspace(const testsupport::WinePrefix& source)
        : folder(testsupport::MakeTempDir("e2e")), prefix(source.CopyTo(folder)) {
        testsupport::WriteFile(folder + "/taRegKeywords.txt", "Nexbay\r\nTarvo\r\n");
    }
    ~Workspace() {
        testsupport::WaitForWineServer(prefix);
        testsupport::RemoveTree(folder);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    std::string Backup() const { return testsupport::ReadFile(folder + "/taDeletedRegKeys.reg"); }

    // reg export of HKLM\Software and HKCU\Software, as reg writes them (UTF-16), from one
    // start of Wine.
    std::vector<std::string> ExportSoftware() const {
        const std::string machine = folder + "/machine.reg";
        const std::string user = folder + "/user.reg";
        testsupport::WriteFile(folder + "/export.bat",
                               "@echo off\r\n"
                               "reg export HKLM\\Software " + WindowsPath(machine) + " /y\r\n"
                               "if errorlevel 1 exit /b 1\r\n"
                               "reg export HKCU\\Software " + WindowsPath(user) + " /y\r\n"
                               "if errorlevel 1 exit /b 1\r\n");
        const testsupport::WineResult exported =
            testsupport::RunWine(prefix, {"cmd", "/c", WindowsPath(folder + "/export.bat")});
        EXPECT_EQ(exported.status, 0) << exported.output;
        return {testsupport::ReadFile(machine), testsupport::ReadFile(user)};
    }

    std::string folder;
    std::string prefix;
};

// Clicks a whole run in the window as a user would: tick "Remove Settings", Remove..., OK to
// both questions, and Cancel once the settings are gone (settingsGone tells), then waits for
// the program to end. The client area's origin in the X window is where Wine's own frame leaves
// it (Managed=N), or the window's corner when it has none (Qt without a window manager).
void ClickAWholeRun(Desktop& desktop, Process& program, const std::function<bool()>& settingsGone) {
    const std::string window = desktop.WaitForWindow("^Tarvo Registry Cleaner$");
    const auto [width, height] = desktop.Size(window);
    const int left = (width - kClientWidth) / 2;
    const int top = height - kClientHeight - left;
    const auto click = [&](std::pair<int, int> at) {
        desktop.Click(window, left + at.first, top + at.second);
    };
    click(kCheck2);
    click(kRemove);
    const std::string removeKeys = desktop.WaitForWindow("^Tarvo Fennick$");
    desktop.Key("Return");
    desktop.WaitForWindow("^Tarvo Fennick$", {removeKeys});
    desktop.Key("Return");
    ASSERT_TRUE(WaitUntil(settingsGone, 60s)) << "the settings were not removed";
    click(kCancel);
    const std::optional<int> status = program.Wait(60s);
    ASSERT_TRUE(status.has_value()) << "Cancel did not end the program";
    EXPECT_EQ(*status, 0);
}

// A Windows program and the Windows it runs in.
struct Target {
    const char* name;
    const char* program;
    testsupport::WindowsKind windows;
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

const Target kTargets[] = {
    {"x86_64", SORVEL_EXE, testsupport::WindowsKind::Win64},
    {"i686_wow64", SORVEL_EXE_I686, testsupport::WindowsKind::Win64},
    {"i686_win32", SORVEL_EXE_I686, testsupport::WindowsKind::Win32},
};

class WindowsE2e : public ::testing::TestWithParam<Target> {
protected:
    static void TearDownTestSuite() { suites_.clear(); }

    // The prefix with the suite installed, one a kind of Windows, made when first asked for.
    static const testsupport::WinePrefix& Suite(testsupport::WindowsKind windows) {
        std::unique_ptr<testsupport::WinePrefix>& suite = suites_[windows];
        if (suite == nullptr) suite = InstallTheSuite(windows);
        return *suite;
    }

    const testsupport::WinePrefix& Suite() const { return Suite(GetParam().windows); }
    bool Has32BitNode() const { return GetParam().windows == testsupport::WindowsKind::Win64; }
    // The key path where the 32-bit installer's keys are in the 64-bit view: below Wow6432Node,
    // or where it named them in a 32-bit Windows.
    std::string Node32(const std::string& root, const std::string& path) const {
        return Has32BitNode() ? root + "\\Wow6432Node\\" + path : root + "\\" + path;
    }

private:
    static std::unique_ptr<testsupport::WinePrefix> InstallTheSuite(testsupport::WindowsKind windows) {
        auto suite = std::make_unique<testsupport::WinePrefix>(windows);
        const std::string prefix = suite->Path();
        testsupport::RegImport(prefix, kSuite64);
        testsupport::WriteFile(suite->File("suite32.reg"), kSuite32);
        // Wine draws its own frames, without the 2 s it waits for each window that goes when
        // there is no window manager.
        testsupport::WriteFile(suite->File("install.bat"),
                               "reg import " + WindowsPath(suite->File("suite32.reg")) + " /reg:32\r\n"
                               "if errorlevel 1 exit /b 1\r\n"
                               "reg add \"HKCU\\Software\\Wine\\X11 Driver\" /v Managed /d N /f\r\n");
        const testsupport::WineResult installed =
            testsupport::RunWine(prefix, {"cmd", "/c", WindowsPath(suite->File("install.bat"))});
        if (installed.status != 0) throw std::runtime_error("installing the suite failed: " + installed.output);
        return suite;
    }

    static std::map<testsupport::WindowsKind, std::unique_ptr<testsupport::WinePrefix>> suites_;
};

std::map<testsupport::WindowsKind, std::unique_ptr<testsupport::WinePrefix>> WindowsE2e::suites_;

TEST_P(WindowsE2e, AWholeRunInTheWindowOrByCleanGivesTheSameBackupAndRegistryAsOnLinuxAndImportsBack) {
    const Workspace before(Suite());
    const Workspace onLinux(Suite());
    const Workspace onWindows(Suite());
    const VirtualDisplay display;
    Desktop desktop(display.Name());

    {
        Process sorvel({SORVEL_PROGRAM},
                       {{"WINEPREFIX", onLinux.prefix}, {"DISPLAY", display.Name()},
                        {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", {}}},
                       onLinux.folder);
        ClickAWholeRun(desktop, sorvel, [&] {
            return testsupport::ReadFile(onLinux.prefix + "/user.reg")
                       .find("[Software\\\\Tarvo\\\\98]") == std::string::npos;
        });
    }
    const Environment wine{{"WINEPREFIX", onWindows.prefix}, {"WINEDEBUG", "-all"},
                           {"DISPLAY", display.Name()}};
    {
        const std::string loader = testsupport::WineLoader(onWindows.prefix);
        Process sorvel({loader, GetParam().program}, wine, onWindows.folder);
        ClickAWholeRun(desktop, sorvel, [&] {
            Process query({loader, "reg", "query", "HKCU\\Software\\Tarvo\\98"}, wine, onWindows.folder);
            return query.Wait(30s).value_or(0) != 0;
        });
    }
    testsupport::WaitForWineServer(onWindows.prefix);

    const std::string backup = onLinux.Backup();
    EXPECT_THAT(backup, HasSubstr("\r\n[" + Node32("HKEY_CLASSES_ROOT", "CLSID\\" N1) + "]\r\n"));
    EXPECT_THAT(backup, HasSubstr("\r\n[" + Node32("HKEY_LOCAL_MACHINE\\SOFTWARE", "Tarvo\\98") + "]\r\n"));
    if (!Has32BitNode()) {
        EXPECT_THAT(backup, Not(HasSubstr("Wow6432Node")));
    }
    EXPECT_EQ(onWindows.Backup(), backup);
    const std::vector<std::string> byLinux = onLinux.ExportSoftware();
    EXPECT_THAT(Ascii(byLinux[0]), Not(HasSubstr("Nexbay.Document")));
    EXPECT_THAT(Ascii(byLinux[0]), HasSubstr("\\Tarvo\\97]"));
    EXPECT_EQ(onWindows.ExportSoftware(), byLinux);

    // --clean is that run with OK given in advance, with no window: on each system the same
    // backup and the same registry as the window's run.
    const Workspace cleanOnLinux(Suite());
    const Workspace cleanOnWindows(Suite());
    const auto cleanArgs = [](const Workspace& at, bool windows) {
        const auto path = [&](const std::string& name) {
            return windows ? WindowsPath(at.folder + name) : at.folder + name;
        };
        return std::vector<std::string>{"--clean", "--settings", "--keywords",
                                        path("/taRegKeywords.txt"), "--backup",
                                        path("/taDeletedRegKeys.reg")};
    };
    const removal_test::ProgramResult linuxClean = removal_test::RunProgram(
        SORVEL_PROGRAM, cleanArgs(cleanOnLinux, false),
        {{"WINEPREFIX", cleanOnLinux.prefix}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(linuxClean.status, 0) << linuxClean.errors;
    std::vector<std::string> windowsArgs = cleanArgs(cleanOnWindows, true);
    windowsArgs.insert(windowsArgs.begin(), GetParam().program);
    const testsupport::WineResult windowsClean = testsupport::RunWine(cleanOnWindows.prefix, windowsArgs);
    EXPECT_EQ(windowsClean.status, 0) << windowsClean.output;
    EXPECT_THAT(windowsClean.output, HasSubstr("sorvel: Remove Settings Completed"));
    EXPECT_EQ(cleanOnLinux.Backup(), backup);
    EXPECT_EQ(cleanOnWindows.Backup(), backup);
    EXPECT_EQ(cleanOnLinux.ExportSoftware(), byLinux);
    EXPECT_EQ(cleanOnWindows.ExportSoftware(), byLinux);
    // sorvel.exe --restore puts its backup back as reg import does, and reads it all back.
    const testsupport::WineResult restored = testsupport::RunWine(
        cleanOnWindows.prefix,
        {GetParam().program, "--restore", WindowsPath(cleanOnWindows.folder + "/taDeletedRegKeys.reg")});
    EXPECT_EQ(restored.status, 0) << restored.output;
    EXPECT_THAT(restored.output, HasSubstr("every key and value of the file came back"));
    EXPECT_EQ(cleanOnWindows.ExportSoftware(), before.ExportSoftware());

    // The import that --help, the manual and the README give, as a user types it: plain `wine`,
    // the 32-bit loader where 32-bit Wine is installed.
    Process restore({"/bin/sh", "-c", "exec " + cleaner::RestoreCommand("taDeletedRegKeys.reg")},
                    wine, onWindows.folder);
    EXPECT_EQ(restore.Wait(120s), std::optional<int>(0));
    testsupport::WaitForWineServer(onWindows.prefix);
    EXPECT_EQ(onWindows.ExportSoftware(), before.ExportSoftware());
}

TEST_P(WindowsE2e, TheWindowIsLaidOutAtTheSystemsDpi) {
    const Workspace workspace(Suite());
    // 144 dots an inch, and Wine's X windows without a frame of their own: each is then its
    // window's client area.
    testsupport::WriteFile(workspace.folder + "/dpi.bat",
                           "reg add \"HKCU\\Control Panel\\Desktop\" /v LogPixels /t REG_DWORD /d 144 /f\r\n"
                           "reg add \"HKCU\\Software\\Wine\\X11 Driver\" /v Managed /d Y /f\r\n");
    const testsupport::WineResult set =
        testsupport::RunWine(workspace.prefix, {"cmd", "/c", WindowsPath(workspace.folder + "/dpi.bat")});
    ASSERT_EQ(set.status, 0) << set.output;
    const VirtualDisplay display;
    Desktop desktop(display.Name());
    Process sorvel({testsupport::WineLoader(workspace.prefix), GetParam().program},
                   {{"WINEPREFIX", workspace.prefix}, {"WINEDEBUG", "-all"}, {"DISPLAY", display.Name()}},
                   workspace.folder);
    const std::string window = desktop.WaitForWindow("^Tarvo Registry Cleaner$");
    EXPECT_EQ(desktop.Size(window), std::make_pair(467, 408));  // 4665 x 4080 twips
}

TEST_P(WindowsE2e, TheCommandLineLeavesTheSameRegistryAsOnLinux) {
    const Workspace onLinux(Suite());
    const Workspace onWindows(Suite());
    const removal_test::ProgramResult linuxRun = removal_test::RunProgram(
        SORVEL_PROGRAM, {"Nexbay", "3"},
        {{"WINEPREFIX", onLinux.prefix}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(linuxRun.status, 0) << linuxRun.errors;
    const testsupport::WineResult windowsRun =
        testsupport::RunWine(onWindows.prefix, {GetParam().program, "Nexbay", "3"});
    EXPECT_EQ(windowsRun.status, 0) << windowsRun.output;

    const std::vector<std::string> byLinux = onLinux.ExportSoftware();
    for (const std::string& exported : byLinux) {
        EXPECT_THAT(Ascii(exported), Not(HasSubstr("Nexbay 3]")));
        EXPECT_THAT(Ascii(exported), Not(HasSubstr("Zelk Company")));
    }
    EXPECT_THAT(Ascii(byLinux[0]), HasSubstr(Node32("", "Zelk\\Nexbay 30]")));
    EXPECT_THAT(Ascii(byLinux[1]), HasSubstr("\\Tarvo\\Other]"));
    EXPECT_EQ(onWindows.ExportSoftware(), byLinux);
}

// A profile "Ωmega" below the user's Software\Tarvo\98: no narrow name reaches it, so it and 98
// stay. Both programs say so on standard error and exit with 2 (reported, not all done): the
// Linux one without a display, sorvel.exe where no one sees a box (as an uninstaller run as
// SYSTEM), which shows none and so cannot hang.
TEST_P(WindowsE2e, BothNameTheKeyASubkeyOutsideTheCodePageKeptAndExitWith2) {
    std::string omega = "\xFF\xFE";  // the file regedit reads as UTF-16
    for (const char16_t unit : std::u16string(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                              u"[HKEY_CURRENT_USER\\Software\\Tarvo\\98\\\u03A9mega]\r\n"
                                              u"\"Colour\"=\"blue\"\r\n\r\n")) {
        omega.push_back(static_cast<char>(unit & 0xFF));
        omega.push_back(static_cast<char>(unit >> 8));
    }
    const Workspace onLinux(Suite());
    const Workspace onWindows(Suite());
    testsupport::RegImport(onLinux.prefix, omega);
    testsupport::RegImport(onWindows.prefix, omega);
    const std::string stayed = "\nHKEY_CURRENT_USER\\Software\\Tarvo\\98";

    const removal_test::ProgramResult linuxRun = removal_test::RunProgram(
        SORVEL_PROGRAM, {"98"}, {{"WINEPREFIX", onLinux.prefix}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(linuxRun.status, 2) << linuxRun.errors;
    EXPECT_THAT(linuxRun.errors, HasSubstr(stayed));
    const testsupport::WineResult windowsRun =
        testsupport::RunWine(onWindows.prefix, {SORVEL_UNSEEN_EXE, GetParam().program, "98"});
    EXPECT_EQ(windowsRun.status, 2) << windowsRun.output;
    std::string text = windowsRun.output;
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    EXPECT_THAT(text, HasSubstr(stayed));
    EXPECT_TRUE(testsupport::RegKeyExists(onWindows.prefix, "HKCU\\Software\\Tarvo\\98"));
}

TEST_P(WindowsE2e, BothRefuseAnUnknownOptionInTheSameWordsAndPrintTheSameHelp) {
    // Neither reads the registry: the suite's own prefix serves.
    for (const char* option : {"--bogus", "--help"}) {
        SCOPED_TRACE(option);
        const removal_test::ProgramResult byLinux =
            removal_test::RunProgram(SORVEL_PROGRAM, {option}, {{"WINEPREFIX", Suite().Path()}});
        const testsupport::WineResult windows =
            testsupport::RunWine(Suite().Path(), {GetParam().program, option});
        std::string text = windows.output;
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // Windows' line ends
        EXPECT_EQ(windows.status, byLinux.status);
        EXPECT_EQ(text, byLinux.output + byLinux.errors);
    }
}

// Windows' registry keeps every delete at once: sorvel.exe cannot preview by deleting in a copy,
// so it refuses --preview and changes nothing.
TEST_P(WindowsE2e, APreviewListsWhatTheLinuxPreviewListsAndChangesNothing) {
    const Workspace onLinux(Suite());
    const Workspace onWindows(Suite());
    const std::vector<std::string> before = onWindows.ExportSoftware();
    const removal_test::ProgramResult byLinux = removal_test::RunProgram(
        SORVEL_PROGRAM, {"--preview", "--settings", "--keywords", onLinux.folder + "/taRegKeywords.txt"},
        {{"WINEPREFIX", onLinux.prefix}, {"DISPLAY", {}}, {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(byLinux.status, 0) << byLinux.errors;
    EXPECT_THAT(byLinux.output, HasSubstr("found " + Node32("HKEY_CLASSES_ROOT", "CLSID\\" N1)));
    const testsupport::WineResult byWindows = testsupport::RunWine(
        onWindows.prefix, {GetParam().program, "--preview", "--settings", "--keywords",
                           WindowsPath(onWindows.folder + "/taRegKeywords.txt")});
    EXPECT_EQ(byWindows.status, 0) << byWindows.output;
    // Its key lines (standard output) are the Linux ones; the status lines went to standard error.
    std::string lines;
    std::istringstream output(byWindows.output);
    for (std::string line; std::getline(output, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("found ", 0) == 0 || line.rfind("kept ", 0) == 0) lines += line + "\n";
    }
    EXPECT_EQ(lines, byLinux.output);
    EXPECT_EQ(onWindows.ExportSoftware(), before);
}

std::string TargetName(const ::testing::TestParamInfo<Target>& target) { return target.param.name; }

INSTANTIATE_TEST_SUITE_P(Windows, WindowsE2e, ::testing::ValuesIn(kTargets), TargetName);

}  // namespace
}  // namespace e2e
