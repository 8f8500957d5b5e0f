// frmFennick itself, on Qt's offscreen platform: its controls as laid out, the guarded update
// methods, the message boxes, and a press of Remove... running a whole run on a registry held in
// memory, with the questions answered from a script.
#include "cleaner/qt/frmFennick.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/qt/qt_cp1252.h"
#include "cleaner/qt/qt_dialogs.h"
#include "cleaner/run/run.h"
#include "qt_app.h"
#include "tests/cleaner/run/run_fixture.h"
#include "tests/support/faulty_registry.h"

#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace cleaner::test {
namespace {

[[maybe_unused]] auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Str(const QString& text) { return text.toStdString(); }

// --- The controls, as drawn (twips / 15 = pixels).

struct Expected {
    const char* name;
    const char* kind;
    const char* text;
    QRect pixels;
    int tabIndex;
};

const std::vector<Expected>& Layout() {
    static const std::vector<Expected> layout = {
        {"Label3", "QLabel", "Key File", {16, 8, 73, 17}, 7},
        {"txtKeyFile", "QLineEdit", "taRegKeywords.txt", {88, 8, 217, 21}, 8},
        {"Label4", "QLabel", "Reg File", {16, 32, 73, 17}, 10},
        {"txtRegFile", "QLineEdit", "taDeletedRegKeys.reg", {88, 32, 217, 21}, 9},
        {"Check1", "QCheckBox", "Remove Keys", {88, 56, 89, 17}, 15},
        {"Check2", "QCheckBox", "Remove Settings", {192, 56, 113, 17}, 16},
        {"Label1", "QLabel", "Key Word", {16, 80, 73, 17}, 0},
        {"txtKeyWord", "QLineEdit", "", {88, 80, 217, 21}, 2},
        {"Label2", "QLabel", "Registry Hive", {16, 104, 73, 17}, 1},
        {"txtRegistryHive", "QLineEdit", "", {88, 104, 217, 21}, 3},
        {"txtStatus", "QLineEdit", "", {16, 128, 289, 21}, 4},
        {"cmdRemove", "QPushButton", "Remove...", {16, 152, 65, 41}, 6},
        {"Label5", "QLabel", "Start", {96, 152, 57, 17}, 13},
        {"Label6", "QLabel", "End", {168, 152, 57, 17}, 14},
        {"cmdCancel", "QPushButton", "Cancel", {240, 152, 65, 41}, 5},
        {"Text1", "QLineEdit", "", {96, 168, 57, 25}, 11},
        {"Text2", "QLineEdit", "", {168, 168, 57, 25}, 12},
        {"Text3", "QPlainTextEdit", nullptr, {16, 200, 289, 65}, 17},
    };
    return layout;
}

QString TextOf(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) return plain->toPlainText();
    return {};
}

TEST(FrmFennickLayout, EveryControlHasItsNameKindTextPlaceAndTabIndex) {
    frmFennick window;
    for (const Expected& e : Layout()) {
        SCOPED_TRACE(e.name);
        auto* control = window.findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->inherits(e.kind)) << control->metaObject()->className();
        EXPECT_EQ(control->parentWidget(), &window);
        EXPECT_EQ(control->geometry(), e.pixels);
        EXPECT_EQ(control->property("TabIndex").toInt(), e.tabIndex);
        if (e.text != nullptr) {
            EXPECT_EQ(Str(TextOf(control)), e.text);
        }
    }
    auto* line = window.findChild<QFrame*>(QStringLiteral("Line1"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->frameShape(), QFrame::HLine);
    EXPECT_EQ(line->geometry(), QRect(16, 77, 288, 1));  // from 240 to 4560 twips, at 1155
}

TEST(FrmFennickLayout, TheWindowHasItsCaptionIconAndAFixedClientArea) {
    frmFennick window;
    window.show();
    EXPECT_EQ(Str(window.windowTitle()), "Tarvo Registry Cleaner");
    EXPECT_FALSE(window.windowIcon().pixmap(32, 32).isNull());  // the icon's image really loads
    EXPECT_EQ(window.size(), QSize(311, 272));  // 4665 x 4080 twips
    EXPECT_EQ(window.minimumSize(), QSize(311, 272));
    EXPECT_EQ(window.maximumSize(), QSize(311, 272));
}

TEST(FrmFennickLayout, TheStartValuesOfTheBoxes) {
    frmFennick window;
    EXPECT_TRUE(window.Check1->isChecked());
    EXPECT_FALSE(window.Check2->isChecked());
    EXPECT_EQ(window.Check1Value(), 1);
    EXPECT_EQ(window.Check2Value(), 0);
    window.Check2->setTristate(true);
    window.Check2->setCheckState(Qt::PartiallyChecked);
    EXPECT_EQ(window.Check2Value(), 2);
    EXPECT_EQ(window.KeyFileText(), "taRegKeywords.txt");
    EXPECT_EQ(window.RegFileText(), "taDeletedRegKeys.reg");
    window.txtKeyFile->setText(QString::fromUtf8("/tmp/Schlüssel.txt"));
    EXPECT_EQ(window.KeyFileText(), "/tmp/Schl\xc3\xbc" "ssel.txt");  // a path stays UTF-8
}

TEST(FrmFennickLayout, TheWarningTextIsFourLinesEachEndedByCrLf) {
    EXPECT_EQ(std::string(kWarningText),
              "Warning!! This program will alter your system registry.  \r\n"
              "\r\n"
              "Please ensure that you have the means to recover should \r\n"
              "this process fail.\r\n");
    frmFennick window;
    EXPECT_EQ(Str(window.Text3->toPlainText().replace(QStringLiteral("\n"),
                                                      QStringLiteral("\r\n"))),
              kWarningText);
    EXPECT_TRUE(window.Text3->isReadOnly());
}

TEST(FrmFennickLayout, DisplayBoxesAreReadOnlyOnTheButtonFace) {
    frmFennick window;
    const QColor buttonFace = window.palette().color(QPalette::Button);
    for (QLineEdit* box : {window.txtKeyWord, window.txtRegistryHive, window.txtStatus,
                           window.Text1, window.Text2}) {
        SCOPED_TRACE(Str(box->objectName()));
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->palette().color(QPalette::Base), buttonFace);
    }
    for (QLineEdit* box : {window.txtKeyFile, window.txtRegFile}) {
        EXPECT_FALSE(box->isReadOnly());
        EXPECT_EQ(box->palette().color(QPalette::Base), window.palette().color(QPalette::Base));
    }
    EXPECT_EQ(window.Text3->palette().color(QPalette::Base),
              window.palette().color(QPalette::Base));
}

TEST(FrmFennickLayout, TabMovesByTabIndex) {
    frmFennick window;
    const std::vector<std::string> expected = {
        "txtKeyWord", "txtRegistryHive", "txtStatus", "cmdCancel", "cmdRemove", "txtKeyFile",
        "txtRegFile", "Text1", "Text2", "Check1", "Check2", "Text3"};
    std::vector<std::string> chain;
    QWidget* at = window.txtKeyWord;
    do {
        if (at->parentWidget() == &window && (at->focusPolicy() & Qt::TabFocus)) {
            chain.push_back(Str(at->objectName()));
        }
        at = at->nextInFocusChain();
    } while (at != window.txtKeyWord && chain.size() < 40);
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(window.focusWidget(), window.txtKeyWord);  // the lowest index has the focus first
}

// --- The window at work.

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        RegisterSuite(registry);
        RegisterOthers(registry);
        folder.Write("taRegKeywords.txt", "Tarvo\r\n");
        window.Attach(run);
        window.SetAsker([this](const QString& question) {
            questions.push_back(Str(question));
            if (answers.empty()) return RunWindow::Answer::Cancel;
            const auto answer = answers.front();
            answers.pop_front();
            return answer;
        });
        window.SetTeller([this](const QString& text) { reports.push_back(Str(text)); });
        window.SetEnder([this](int status) { endStatuses.push_back(status); });
        window.txtKeyFile->setText(QString::fromStdString(folder.File("taRegKeywords.txt")));
        window.txtRegFile->setText(QString::fromStdString(folder.File("taDeletedRegKeys.reg")));
        window.show();
    }

    TempFolder folder;
    platform::MemoryRegistry registry;
    testsupport::FaultyRegistry faulty{registry};
    frmFennick window;
    modRegFuncs reg{faulty, window};
    modFennick fennick{reg, window};
    FennickRun run{fennick, window};
    std::deque<RunWindow::Answer> answers;
    std::vector<std::string> questions;
    std::vector<std::string> reports;
    std::vector<int> endStatuses;
};

TEST_F(WindowTest, UpdatesChangeNothingBeforeTheFirstRun) {
    window.UpdateStatusText("early");
    window.UpdateRegistryHiveText("early");
    window.UpdateKeywordText("early");
    EXPECT_EQ(window.txtStatus->text(), QString());
    EXPECT_EQ(window.txtRegistryHive->text(), QString());
    EXPECT_EQ(window.txtKeyWord->text(), QString());

    fennick.RunStarted = true;
    window.UpdateStatusText("first");
    window.UpdateStatusText("second");
    window.UpdateRegistryHiveText("HKEY_CLASSES_ROOT\\CLSID");
    window.UpdateKeywordText("Caf\xe9 \x80 \x9f");  // registry text is Windows-1252
    EXPECT_EQ(Str(window.txtStatus->text()), "second");
    EXPECT_EQ(Str(window.txtRegistryHive->text()), "HKEY_CLASSES_ROOT\\CLSID");
    EXPECT_EQ(window.txtKeyWord->text(), QString::fromUtf8("Café € Ÿ"));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST_F(WindowTest, EachUpdatePaintsItsFieldBeforeItReturns) {
    fennick.RunStarted = true;
    QApplication::processEvents();  // the first show's paints are done
    for (QLineEdit* field : {window.txtStatus, window.txtRegistryHive, window.txtKeyWord}) {
        PaintCounter counter;
        field->installEventFilter(&counter);
        if (field == window.txtStatus) window.UpdateStatusText("Registry Search Started");
        if (field == window.txtRegistryHive) window.UpdateRegistryHiveText("HKEY_CLASSES_ROOT");
        if (field == window.txtKeyWord) window.UpdateKeywordText("Tarvo");
        field->removeEventFilter(&counter);
        EXPECT_GE(counter.paints, 1) << Str(field->objectName());  // no event loop ran meanwhile
    }
}

TEST_F(WindowTest, APressOfRemoveRunsAWholeRun) {
    window.Check2->setChecked(true);
    answers = {RunWindow::Answer::Ok, RunWindow::Answer::Ok};

    window.cmdRemove->click();

    EXPECT_THAT(questions, ElementsAre("Press Ok, to remove registry keys",
                                       "Press Ok, to remove settings"));
    EXPECT_EQ(Str(window.txtStatus->text()), "Remove Settings Completed");
    EXPECT_EQ(Str(window.txtRegistryHive->text()), "HKEY_CLASSES_ROOT\\TYPELIB");
    EXPECT_FALSE(window.Text1->text().isEmpty());
    EXPECT_FALSE(window.Text2->text().isEmpty());
    EXPECT_TRUE(SuiteClassesGone(registry));
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    EXPECT_TRUE(OthersThere(registry));
    EXPECT_THAT(folder.Read("taDeletedRegKeys.reg"), HasSubstr(kSuiteClsid));
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(endStatuses.empty());
    EXPECT_TRUE(window.isVisible());  // the window stays for another run
}

TEST_F(WindowTest, ASecondPressWhileAQuestionWaitsIsIgnored) {
    answers = {RunWindow::Answer::Cancel};
    window.SetAsker([this](const QString& question) {
        questions.push_back(Str(question));
        window.cmdRemove->click();  // pressed again while the run is under way
        return RunWindow::Answer::Cancel;
    });

    window.cmdRemove->click();

    EXPECT_THAT(questions, ElementsAre("Press Ok, to remove registry keys"));
    EXPECT_EQ(Str(window.txtStatus->text()), "Remove Keys Cancelled");
    EXPECT_TRUE(SuiteClassesThere(registry));
}

TEST_F(WindowTest, RegistryReportsGoToAnOkBox) {
    faulty.FailOpen(kHkeyClassesRoot, "CLSID", 5);
    window.cmdRemove->click();
    ASSERT_FALSE(reports.empty());
    EXPECT_THAT(reports.front(), HasSubstr("Open Reg:"));
}

// File names in the boxes are the platform's text, not the registry's code page: each message
// names them as the user typed them.
TEST_F(WindowTest, MessagesNameFilesAsTheUserTypedThem) {
    const std::string backup = folder.File("Sicherung-\u00e4\u00f6\u00fc.reg");
    folder.Write("Sicherung-\u00e4\u00f6\u00fc.reg", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\{E}]\r\n");
    window.txtRegFile->setText(QString::fromStdString(backup));
    answers = {RunWindow::Answer::Ok};
    window.cmdRemove->click();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr("\"" + backup + "\""));
    EXPECT_THAT(reports[0], HasSubstr(folder.File("Sicherung-\u00e4\u00f6\u00fc-")));

    const std::string keywords = folder.File("Schl\u00fcssel.txt");
    folder.Write("Schl\u00fcssel.txt", std::string("T\0a\0r\0", 6));
    window.txtKeyFile->setText(QString::fromStdString(keywords));
    window.cmdRemove->click();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_THAT(reports[1], HasSubstr("\"" + keywords + "\" holds NUL bytes"));
}

TEST_F(WindowTest, CancelUnloadsTheWindowAndEndsTheProgram) {
    window.cmdCancel->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_THAT(endStatuses, ElementsAre(0));
}

TEST_F(WindowTest, ClosingTheWindowDuringARunEndsTheProgramAsCancelDoes) {
    window.SetAsker([this](const QString&) {
        window.close();
        return RunWindow::Answer::Cancel;
    });
    window.cmdRemove->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_THAT(endStatuses, ElementsAre(0));
}

TEST_F(WindowTest, ClosingTheIdleWindowOnlyClosesIt) {
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(endStatuses.empty());  // the start-up ends the program when its loop returns
}

// --- The message boxes.

TEST(FennickDialogs, AQuestionHasOkAndCancelNoIconItsTitleAndOkAsDefault) {
    auto box = MakeQuestionBox(nullptr, QStringLiteral("Press Ok, to remove settings"));
    EXPECT_EQ(Str(box->windowTitle()), "Tarvo Fennick");
    EXPECT_EQ(Str(box->text()), "Press Ok, to remove settings");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::Cancel));
}

TEST(FennickDialogs, AReportHasOnlyOkAndTheProgramsName) {
    auto box = MakeReportBox(nullptr, QStringLiteral("Open Reg: CLSID - 5 - Access is denied."));
    EXPECT_EQ(Str(box->windowTitle()), "sorvel");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
}

// Answers the next modal box with a key, from inside its own event loop.
void PressKeyInNextModalBox(int key) {
    QTimer::singleShot(0, [key] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(box, &press);
    });
}

TEST(FennickDialogs, EnterAnswersOkAndEscapeAnswersCancel) {
    PressKeyInNextModalBox(Qt::Key_Return);
    EXPECT_EQ(AskOkCancel(nullptr, QStringLiteral("Press Ok, to remove registry keys")),
              RunWindow::Answer::Ok);
    PressKeyInNextModalBox(Qt::Key_Escape);
    EXPECT_EQ(AskOkCancel(nullptr, QStringLiteral("Press Ok, to remove registry keys")),
              RunWindow::Answer::Cancel);
}

TEST(FennickDialogs, TheTimeOfDayIsTimeOnlyInTheLocalesFormat) {
    const QTime time(14, 3, 27);
    EXPECT_EQ(Str(TimeOfDayText(QLocale(QLocale::German, QLocale::Germany), time)), "14:03:27");
    // Twelve-hour locales keep their day half (the blank before it differs between Qt versions).
    const std::string american =
        Str(TimeOfDayText(QLocale(QLocale::English, QLocale::UnitedStates), time));
    EXPECT_EQ(american.rfind("2:03:27", 0), 0u) << american;
    EXPECT_EQ(american.substr(american.size() - 2), "PM") << american;
    EXPECT_EQ(Str(TimeOfDayText(QLocale::c(), time)), "14:03:27");
}

// --- Windows-1252 text.

TEST(Cp1252, EveryByteComesBackUnchanged) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const QString text = FromCp1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(ToCp1252(text), all);
}

TEST(Cp1252, TheHighRangeMapsToTheCodePagesCharacters) {
    EXPECT_EQ(FromCp1252("\x80\x8a\x99\x9f\xe9"), QString::fromUtf8("€Š™Ÿé"));
    EXPECT_EQ(FromCp1252("\x81"), QString(QChar(0x81)));
    EXPECT_EQ(ToCp1252(QString::fromUtf8("€ – “q”")), "\x80 \x96 \x93q\x94");
    EXPECT_EQ(ToCp1252(QString::fromUtf8("中\U0001F600x")), "???x");  // one '?' a UTF-16 unit
}

}  // namespace
}  // namespace cleaner::test
