// The window branch of the start-up: shows frmFennick on the prefix's registry and keeps the
// program alive until the window is gone, then writes back what the runs deleted.
#include "cleaner/window/show_window.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/window/frmFennick.h"
#include "cleaner/window/qt_dialogs.h"
#include "cleaner/window/run.h"
#include "cleaner/window/startup_prefix.h"
#include "platform/files/durable_files.h"
#include "platform/registry/wine_store.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

namespace cleaner {

int ShowMainWindow(int argc, char** argv, platform::WinePrefixStore* store,
                   const std::string& storeError) {
    if (!DisplayIsThere() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // Qt would abort here, with advice to reinstall the program: say what is missing.
        if (store == nullptr) std::fprintf(stderr, "sorvel: %s\n", storeError.c_str());
        std::fputs("sorvel: there is no display to show the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set). Start sorvel in a desktop session.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kReportTitle));

    if (store == nullptr) {
        // The prefix was refused: say why and end before anything could be deleted.
        ShowReport(nullptr, QString::fromUtf8(storeError));
        return 1;
    }

    frmFennick window;
    QApplication::setWindowIcon(window.windowIcon());
    // Each removal saves the registry's changed files when it ends; the end of the program
    // saves once more, so that nothing deleted is left unsaved however the program ends.
    PrefixCommit commit(*store, [&window](const std::string& failure) {
        ShowReport(&window, QString::fromUtf8(failure));
    });
    modRegFuncs reg(store->Registry(), window);
    modFennick fennick(reg, window);
    // Each backup block is on the disc before its key is deleted, even across a power cut.
    platform::DurableBackupFiles backupFiles;
    fennick.UseBackupFiles(backupFiles);
    fennick.UseRegistryCommit(&commit);
    FennickRun run(fennick, window);
    window.Attach(run);
    // Cancel ends the program at once, also from the middle of a run. Every line of the backup
    // is already with the system (the process's end closes the file), and every key deleted is
    // in the backup before it goes, so saving the registry now loses nothing.
    window.SetEnder([&commit](int exitStatus) {
        const bool saved = commit.Save();
        std::fflush(nullptr);
        std::_Exit(saved ? exitStatus : 1);
    });
    window.show();

    const int exitStatus = QApplication::exec();
    return commit.Save() ? exitStatus : 1;
}

}  // namespace cleaner
