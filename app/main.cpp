#include "call_watch.h"
#include "crash_guard.h"
#include "folder_lock.h"
#include "main_window.h"
#include "module_host.h"
#include "narrow_text.h"
#include "qt_translations.h"
#include "startup_environment.h"

#include <QApplication>
#include <clocale>

int main(int argc, char* argv[])
{
    // Before a module's code can change it: the scripts run with this one.
    CaptureStartupEnvironment();
    QApplication app(argc, argv);
    // The narrow code page is the locale's character set, fixed for the whole session.
    std::setlocale(LC_ALL, "");
    FixNarrowCodeset();
    DetachStandardInput();
    LoadQtTranslations();

    // Before the window restores (and may create) "T.cpp".
    const QString workDir = FormMain::DefaultWorkDir();
    FolderLock lock(workDir);
    if (!ClaimWorkFolder(lock, workDir, nullptr))
        return 1;

    // Here and not in library code: a test program that linked it would start helpers too.
    InstallCrashGuard();
    StartCallWatch(QCoreApplication::applicationDirPath() + QStringLiteral("/vornak-stop"));

    FormMain window;
    window.show();
    return app.exec();
}
