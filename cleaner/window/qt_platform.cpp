#include "cleaner/window/qt_platform.h"

#include "cleaner/window/frmFennick.h"
#include "cleaner/window/qt_dialogs.h"
#include "platform/registry/wine_store.h"

#include <cstdlib>

namespace cleaner {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

std::string QtPlatform::WindowProblem() {
    if (QCoreApplication::instance() != nullptr) return {};
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!Environment(name).empty()) return {};
    }
    return "there is no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY "
           "is set). Start sorvel in a desktop session.";
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
