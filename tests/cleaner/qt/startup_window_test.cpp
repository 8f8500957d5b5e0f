// The window mode of the start-up from end to end, with the Qt platform: on a Wine prefix that
// the demo's generator writes, driven as a user would drive it (a timer fills the fields, presses
// the buttons and answers the boxes), then the prefix read back by the real Wine, and the backup
// restored with Wine's regedit. Also: a refused prefix is only reported.
#include "cleaner/startup/startup.h"
#include "cleaner/qt/frmFennick.h"
#include "cleaner/qt/qt_platform.h"
#include "tests/support/run_program.h"
#include "tests/support/wine.h"

#include <nlohmann/json.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#ifndef SORVEL_PROGRAM
#error "SORVEL_PROGRAM must name the program (for its unattended modes)"
#endif
#ifndef SORVEL_SOURCE_DIR
#error "SORVEL_SOURCE_DIR must name the source tree (for the demo's generator)"
#endif

namespace cleaner::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kLedgerClsid = "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20A001}";
constexpr const char* kLibid = "{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20C001}";
constexpr const char* kHelperClsid = "{D4E2A871-03B6-4C2F-8E19-7A5B3C60A001}";

// What the driver does once the program's QApplication exists (the driver is started from a
// routine that Qt calls when an application object is made).
enum class Script { None, AnswerTheReport, CleanAndCancel, CancelDuringRemoval };
Script gScript = Script::None;
std::string gKeyFile;
std::string gRegFile;
std::string gReportTitle;
std::string gReportText;

frmFennick* FindWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<frmFennick*>(widget); window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

// The suite's keys in HKEY_CLASSES_ROOT that a run removes, as the prefix file and as the backup
// (in upper case) name them.
const std::vector<std::pair<std::string, std::string>>& RemovedKeys() {
    static const std::vector<std::pair<std::string, std::string>> keys = {
        {"Wow6432Node\\\\Tarvo.Invoice", "WOW6432NODE\\TARVO.INVOICE"},
        {"Wow6432Node\\\\Tarvo.Invoice.1", "WOW6432NODE\\TARVO.INVOICE.1"},
        {"Wow6432Node\\\\Tarvo.Ledger", "WOW6432NODE\\TARVO.LEDGER"},
        {"Wow6432Node\\\\Tarvo.Ledger.1", "WOW6432NODE\\TARVO.LEDGER.1"},
        {std::string("Wow6432Node\\\\CLSID\\\\") + kLedgerClsid,
         std::string("WOW6432NODE\\CLSID\\") + kLedgerClsid},
        {"TypeLib\\\\{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20C001}\\\\1.0",
         "TYPELIB\\{6B1D0C4A-2F3E-4A51-9C07-5E1A7D20C001}"},
    };
    return keys;
}

// How many of those keys have their own block in the backup file so far.
int BlocksInBackup() {
    std::string backup = testsupport::ReadFile(gRegFile);
    for (char& c : backup) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int blocks = 0;
    for (const auto& key : RemovedKeys()) {
        if (backup.find("\r\n[HKEY_CLASSES_ROOT\\" + key.second + "]\r\n") != std::string::npos)
            ++blocks;
    }
    return blocks;
}

void Step() {
    static int stage = 0;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        gReportTitle = box->windowTitle().toStdString();
        gReportText = box->text().toStdString();
        std::fprintf(stderr, "box: %s: %s\n", gReportTitle.c_str(), gReportText.c_str());
        box->button(QMessageBox::Ok)->click();
        return;
    }
    if (gScript == Script::None || gScript == Script::AnswerTheReport) return;
    frmFennick* window = FindWindow();
    if (window == nullptr) return;
    if (gScript == Script::CancelDuringRemoval && stage == 1 &&
        window->txtStatus->text() == QStringLiteral("Remove Keys Started")) {
        // Cancel while the removal lets the window process its events, once the backup holds
        // three of the found keys: those are deleted, and the removal is inside a later one.
        if (BlocksInBackup() >= 3) {
            std::fprintf(stderr, "cancel while removing\n");
            window->cmdCancel->click();  // ends the program here
        }
        return;
    }
    if (stage == 0) {
        stage = 1;
        window->txtKeyFile->setText(QString::fromStdString(gKeyFile));
        window->txtRegFile->setText(QString::fromStdString(gRegFile));
        window->Check2->setChecked(true);
        QMetaObject::invokeMethod(window->cmdRemove, "click", Qt::QueuedConnection);
    } else if (stage == 1 && window->txtStatus->text() == QStringLiteral("Remove Settings Completed")) {
        stage = 2;
        std::fprintf(stderr, "run done: %s\n", window->txtStatus->text().toStdString().c_str());
        QMetaObject::invokeMethod(window->cmdCancel, "click", Qt::QueuedConnection);
    }
}

void StartDriver() {
    if (gScript == Script::None) return;
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, &Step);
    // Every pass of the event processing when cancelling inside the removal's yields.
    timer->start(gScript == Script::CancelDuringRemoval ? 0 : 20);
}

[[maybe_unused]] const bool kDriverInstalled = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qAddPreRoutine(&StartDriver);
    return true;
}();

// The program started without a command line on the prefix.
int StartOn(const std::string& prefix) {
    static int argc = 1;
    static char name[] = "sorvel";
    static char* argv[] = {name, nullptr};
    QtPlatform platform(argc, argv, prefix);
    return Startup(platform);
}

bool HasBlock(const std::string& regFile, const std::string& keyPath) {
    return regFile.find("\n[" + keyPath + "]") != std::string::npos;
}

// A Wine registry file without the times Wine keeps of each key: "[KEY] SECONDS" lines lose
// their number and "#time=" lines go.
std::string WithoutTimes(const std::string& file) {
    std::string out;
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t end = file.find('\n', at);
        if (end == std::string::npos) end = file.size();
        std::string line = file.substr(at, end - at);
        at = end + 1;
        if (line.rfind("#time=", 0) == 0) continue;
        if (const std::size_t close = line.rfind("] "); !line.empty() && line[0] == '[' &&
                                                         close != std::string::npos) {
            line.resize(close + 1);
        }
        out += line + "\n";
    }
    return out;
}

// Runs first (death tests before the others), while this process has started no threads yet.
TEST(StartupWindowDeathTest, ARunOnTheDemoPrefixRemovesTheSuiteAndItsBackupRestoresIt) {
    const std::string folder = testsupport::MakeTempDir("window-demo");
    const std::string prefix = folder + "/prefix";
    ASSERT_EQ(std::system(("python3 '" SORVEL_SOURCE_DIR "/demo/make_demo_prefix.py' '" + prefix + "'")
                              .c_str()),
              0);
    // Wine reads the prefix once (and completes it, as on a user's first start), so the run below
    // works on files that Wine itself wrote.
    // The demo's suite was installed by a 32-bit installer: its classes are in the 32-bit node.
    const std::string classKey = std::string("HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\") + kLedgerClsid;
    const std::string libKey = std::string("HKEY_CLASSES_ROOT\\TypeLib\\") + kLibid;
    const std::string settingsKey = "HKEY_CURRENT_USER\\Software\\Tarvo\\98";
    const std::string classBefore = testsupport::RegExport(prefix, classKey);
    const std::string libBefore = testsupport::RegExport(prefix, libKey);
    const std::string settingsBefore = testsupport::RegExport(prefix, settingsKey);
    ASSERT_THAT(classBefore, HasSubstr("ledger.dll"));
    // Copies of the prefix as the window run finds it, for the unattended modes beside it.
    const std::string previewed = folder + "/previewed";
    const std::string cleaned = folder + "/cleaned";
    testsupport::WaitForWineServer(prefix);
    ASSERT_EQ(std::system(("cp -a '" + prefix + "' '" + previewed + "' && cp -a '" + prefix +
                           "' '" + cleaned + "'").c_str()),
              0);

    gScript = Script::CleanAndCancel;
    gKeyFile = SORVEL_SOURCE_DIR "/demo/taRegKeywords.txt";
    gRegFile = folder + "/taDeletedRegKeys.reg";
    EXPECT_EXIT(std::exit(StartOn(prefix)),  // Cancel ends the program inside
        ::testing::ExitedWithCode(0),
        "box: Tarvo Fennick: Press Ok, to remove registry keys\n"
        ".*box: Tarvo Fennick: Press Ok, to remove settings\n"
        ".*run done: Remove Settings Completed");
    gScript = Script::None;

    // Saved by the end of the program: the suite is gone, other software stays.
    const std::string system = testsupport::ReadFile(prefix + "/system.reg");
    const std::string user = testsupport::ReadFile(prefix + "/user.reg");
    EXPECT_FALSE(HasBlock(system, "Software\\\\Classes\\\\Wow6432Node\\\\Tarvo.Ledger"));
    EXPECT_FALSE(HasBlock(system, std::string("Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\") +
                                      kLedgerClsid));
    EXPECT_TRUE(HasBlock(system, std::string("Software\\\\Classes\\\\CLSID\\\\") + kHelperClsid));
    EXPECT_TRUE(HasBlock(system, "Software\\\\Classes\\\\Orlen.Helper"));
    EXPECT_TRUE(HasBlock(system, "Software\\\\Wow6432Node\\\\Tarvo\\\\Shared"));
    EXPECT_THAT(user, Not(HasSubstr("Software\\\\Tarvo\\\\98")));
    EXPECT_FALSE(testsupport::RegKeyExists(prefix, classKey));
    EXPECT_FALSE(testsupport::RegKeyExists(prefix, settingsKey));
    EXPECT_TRUE(testsupport::RegKeyExists(prefix, "HKEY_CLASSES_ROOT\\Orlen.Helper"));

    // The backup, imported with Wine's regedit, brings every removed key back as it was.
    const std::string backup = testsupport::ReadFile(gRegFile);
    ASSERT_EQ(backup.rfind("REGEDIT4\r\n", 0), 0u);
    testsupport::RegImport(prefix, backup);
    EXPECT_EQ(testsupport::RegExport(prefix, classKey), classBefore);
    EXPECT_EQ(testsupport::RegExport(prefix, libKey), libBefore);
    EXPECT_EQ(testsupport::RegExport(prefix, settingsKey), settingsBefore);
    EXPECT_TRUE(testsupport::RegKeyExists(prefix, "HKEY_CLASSES_ROOT\\Wow6432Node\\Tarvo.Ledger"));

    // --preview lists what the window run removed, in its order, and changes nothing; --clean
    // with the same options then removes exactly that, into the same backup, leaving the same
    // files. Both documents hold every field.
    const std::string keywords = SORVEL_SOURCE_DIR "/demo/taRegKeywords.txt";
    const auto unattended = [&](const std::string& at, std::vector<std::string> args) {
        args.insert(args.end(), {"--keywords", keywords, "--settings", "--json"});
        const removal_test::ProgramResult result =
            removal_test::RunProgram(SORVEL_PROGRAM, args, {{"WINEPREFIX", at}, {"DISPLAY", {}}});
        EXPECT_EQ(result.status, 0) << result.errors;
        nlohmann::json document = nlohmann::json::parse(result.output);
        for (const char* field : {"mode", "registry", "keys", "backup", "kept_aside", "reports", "exit"})
            EXPECT_TRUE(document.contains(field)) << field;
        EXPECT_EQ(document["registry"], at);
        EXPECT_EQ(document["exit"], 0);
        EXPECT_EQ(document["reports"], nlohmann::json::array());
        return document;
    };
    const std::string systemBefore = testsupport::ReadFile(previewed + "/system.reg");
    const std::string userBefore = testsupport::ReadFile(previewed + "/user.reg");
    const nlohmann::json preview = unattended(previewed, {"--preview"});
    // (Compared as truths: a diff of two registries is too large for the test's report.)
    EXPECT_TRUE(testsupport::ReadFile(previewed + "/system.reg") == systemBefore);
    EXPECT_TRUE(testsupport::ReadFile(previewed + "/user.reg") == userBefore);
    EXPECT_EQ(preview["backup"], nullptr);
    const std::string cleanBackup = folder + "/clean.reg";
    const nlohmann::json clean = unattended(cleaned, {"--clean", "--backup", cleanBackup});
    EXPECT_EQ(clean["backup"], cleanBackup);
    EXPECT_TRUE(testsupport::ReadFile(cleanBackup) == backup);
    // The same files but for when the parents of removed keys were last written.
    EXPECT_TRUE(WithoutTimes(testsupport::ReadFile(cleaned + "/system.reg")) == WithoutTimes(system));
    EXPECT_TRUE(WithoutTimes(testsupport::ReadFile(cleaned + "/user.reg")) == WithoutTimes(user));

    ASSERT_EQ(preview["keys"].size(), clean["keys"].size());
    ASSERT_GE(preview["keys"].size(), 10u);
    std::size_t keyLines = 0;
    for (std::size_t at = backup.find("\r\n["); at != std::string::npos; at = backup.find("\r\n[", at + 1))
        ++keyLines;
    std::size_t trees = 1;  // the header's [HKEY_CLASSES_ROOT]
    std::size_t last = 0;
    for (std::size_t i = 0; i < preview["keys"].size(); ++i) {
        const nlohmann::json& found = preview["keys"][i];
        SCOPED_TRACE(found.dump());
        EXPECT_EQ(found["state"], "found");
        EXPECT_EQ(clean["keys"][i]["state"], "removed");
        EXPECT_EQ(clean["keys"][i]["key"], found["key"]);
        EXPECT_EQ(clean["keys"][i]["tree"], found["tree"]);
        trees += found["tree"].get<std::size_t>();
        // The tree's own key line ends its block, after the last tree's.
        const std::size_t line = backup.find("\r\n[" + found["key"].get<std::string>() + "]\r\n");
        ASSERT_NE(line, std::string::npos);
        EXPECT_GT(line, last);
        last = line;
    }
    EXPECT_EQ(trees, keyLines);

    testsupport::WaitForWineServer(prefix);
    testsupport::RemoveTree(folder);
}

// Cancel in the middle of the removal ends the program there: what was deleted is saved, and
// every key that is gone is in the backup.
TEST(StartupWindowDeathTest, CancelDuringTheRemovalKeepsEveryDeletedKeyInTheBackup) {
    const std::string folder = testsupport::MakeTempDir("window-cancel");
    const std::string prefix = folder + "/prefix";
    ASSERT_EQ(std::system(("python3 '" SORVEL_SOURCE_DIR "/demo/make_demo_prefix.py' '" + prefix + "'")
                              .c_str()),
              0);
    gScript = Script::CancelDuringRemoval;
    gKeyFile = SORVEL_SOURCE_DIR "/demo/taRegKeywords.txt";
    gRegFile = folder + "/taDeletedRegKeys.reg";
    EXPECT_EXIT(std::exit(StartOn(prefix) + 10),  // reached only if Cancel did not end it
        ::testing::ExitedWithCode(0), "cancel while removing");
    gScript = Script::None;

    const std::string system = testsupport::ReadFile(prefix + "/system.reg");
    const std::string user = testsupport::ReadFile(prefix + "/user.reg");
    std::string backup = testsupport::ReadFile(gRegFile);
    for (char& c : backup) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto& keys = RemovedKeys();
    int gone = 0;
    for (const auto& [inFile, inBackup] : keys) {
        SCOPED_TRACE(inFile);
        if (!HasBlock(system, "Software\\\\Classes\\\\" + inFile)) {
            ++gone;
            EXPECT_THAT(backup, HasSubstr("[HKEY_CLASSES_ROOT\\" + inBackup + "]"));
        }
    }
    EXPECT_GE(gone, 1);                                   // the removal had begun
    EXPECT_LT(gone, static_cast<int>(keys.size()));       // and did not go on to the end
    EXPECT_THAT(user, HasSubstr("Software\\\\Tarvo\\\\98"));  // the settings step never came
    testsupport::RemoveTree(folder);
}

TEST(StartupWindow, ARefusedPrefixIsReportedAndNothingElseHappens) {
    gScript = Script::AnswerTheReport;
    const int status = StartOn("/nowhere");
    gScript = Script::None;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(gReportTitle, "sorvel");
    EXPECT_THAT(gReportText, HasSubstr("\"/nowhere\""));
}

}  // namespace
}  // namespace cleaner::test
