#include "cleaner/qt/qt_platform.h"

#include "cleaner/qt/frmFennick.h"
#include "cleaner/qt/qt_dialogs.h"
#include "platform/wine/wine_store.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace cleaner {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// Whether Qt will show its windows through the X server: unless QT_QPA_PLATFORM names another
// platform, or only Wayland is there (Qt then uses its Wayland platform when it has one).
bool QtUsesX() {
    const std::string chosen = Environment("QT_QPA_PLATFORM");
    if (!chosen.empty()) return chosen.rfind("xcb", 0) == 0;
    return !Environment("DISPLAY").empty() || Environment("WAYLAND_DISPLAY").empty();
}

// Connects to the X server as Qt would (DISPLAY, and XAUTHORITY for the key), and lets go.
bool XServerAnswers() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

}  // namespace

std::string QtPlatform::WindowProblem() {
    if (QCoreApplication::instance() != nullptr || !QtUsesX()) return {};
    const std::string display = Environment("DISPLAY");
    if (display.empty()) {
        return "there is no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY "
               "is set). Start sorvel in a desktop session.";
    }
    if (XServerAnswers()) return {};
    return "cannot open the display \"" + display + "\": no X server answers there, or it does "
           "not let this user in. Start sorvel in a desktop session, or set DISPLAY to a "
           "display that runs.";
}

void QtPlatform::StartApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setApplicationName(QString::fromLatin1(kReportTitle));
}

void QtPlatform::ShowReport(const std::string& text) {
    StartApplication();
    cleaner::ShowReport(nullptr, QString::fromStdString(text));
}

void QtPlatform::ProcessEvents() {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
}

std::unique_ptr<MainWindow> QtPlatform::CreateMainWindow() {
    StartApplication();
    return std::make_unique<frmFennick>();
}

std::unique_ptr<StartupPlatform> MakeStartupPlatform(int& argc, char** argv) {
    return std::make_unique<QtPlatform>(argc, argv, platform::DefaultWinePrefix());
}

}  // namespace cleaner
