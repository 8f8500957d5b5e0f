// The window branch of the start-up: shows frmFennick on the prefix's registry and keeps the
// program alive until the window is gone, then writes back what the runs deleted.
#include "cleaner/window/show_window.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/window/frmFennick.h"
#include "cleaner/window/qt_dialogs.h"
#include "cleaner/window/run.h"
#include "platform/registry/wine_store.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

namespace cleaner {

namespace {

// Writes the registry files that the runs changed. A failure is shown, and the old files stay.
bool SaveChanges(platform::WinePrefixStore& store) {
    if (!store.HasChanges()) {
        return true;
    }
    try {
        store.Save();
        return true;
    } catch (const platform::StoreError& failure) {
        ShowReport(nullptr, QString::fromUtf8(failure.what()));
        return false;
    }
}

}  // namespace

int ShowMainWindow(int argc, char** argv, platform::WinePrefixStore* store,
                   const std::string& storeError) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kReportTitle));

    if (store == nullptr) {
        // The prefix was refused: say why and end before anything could be deleted.
        ShowReport(nullptr, QString::fromUtf8(storeError));
        return 1;
    }

    frmFennick window;
    QApplication::setWindowIcon(window.windowIcon());
    modRegFuncs reg(store->Registry(), window);
    modFennick fennick(reg, window);
    FennickRun run(fennick, window);
    window.Attach(run);
    // Cancel ends the program at once, also from the middle of a run: every block of the backup
    // is on disc before its key is deleted, so saving the registry now loses nothing.
    window.SetEnder([store](int exitStatus) {
        const bool saved = SaveChanges(*store);
        std::fflush(nullptr);
        std::_Exit(saved ? exitStatus : 1);
    });
    window.show();

    const int exitStatus = QApplication::exec();
    return SaveChanges(*store) ? exitStatus : 1;
}

}  // namespace cleaner
