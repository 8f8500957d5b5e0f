// Where the command-line mode's reports go. A silent run must never wait for an answer that
// nobody can give: without a display (or in a build without the window) the reports are written
// to standard error instead of shown in boxes.
#include "cleaner/window/startup.h"

#include "cleaner/window/show_window.h"

#include <iostream>
#include <memory>
#include <string>

#if __has_include(<QApplication>)
#include "cleaner/window/qt_cp1252.h"
#include "cleaner/window/qt_dialogs.h"

#include <QApplication>
#define SORVEL_STARTUP_HAS_WINDOW 1
#endif

namespace cleaner {
namespace {

#ifdef SORVEL_STARTUP_HAS_WINDOW
// The registry layer's reports as message boxes titled "sorvel". The toolkit starts with the
// first report: a run that has nothing to report never touches the display.
class MessageBoxUi : public RegistryUi {
public:
    MessageBoxUi(int& argc, char** argv) : argc_(argc), argv_(argv) {}

    void ShowMessage(const std::string& text) override {
        if (QCoreApplication::instance() == nullptr) {
            app_ = std::make_unique<QApplication>(argc_, argv_);
            QApplication::setApplicationName(QString::fromLatin1(kReportTitle));
        }
        ShowReport(nullptr, FromCp1252(text));
    }

    void DoEvents() override {
        if (app_ != nullptr) QCoreApplication::processEvents();
    }

private:
    int& argc_;
    char** argv_;
    std::unique_ptr<QApplication> app_;
};
#endif

}  // namespace

std::unique_ptr<RegistryUi> MakeCommandLineUi(int& argc, char** argv) {
#ifdef SORVEL_STARTUP_HAS_WINDOW
    if (DisplayIsThere()) return std::make_unique<MessageBoxUi>(argc, argv);
#else
    (void)argc;
    (void)argv;
#endif
    return MakeConsoleUi(std::cerr);
}

}  // namespace cleaner
