// The program's entry point: the one application object exists before main runs and goes at process
// exit; main runs its main window and returns the window's result as the exit code. Command-line
// arguments are not used (QApplication only sees them for the platform's own options).
#include "app/main_window.h"
#include "mistvale_version.h"
#include "platform/crash_handler.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace mistvale {

static MainWindow theApp;

namespace {

// A crash leaves a report and a minidump beside the program (the reporter program tells the user and
// sends them where a report service is set). Installed here, before anything else can fault, for the
// program only: the sanitizer builds keep their own fault handlers.
void InstallProblemReporting() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    CrashHandlerSetup setup;
    setup.reporter = ReporterBesideProgram();
    if (setup.reporter.empty() || access(setup.reporter.c_str(), X_OK) != 0)
        return;
    const char* service = std::getenv("MISTVALE_REPORT_HOST");
    setup.service = service ? service : MISTVALE_REPORT_HOST_DEFAULT;
    setup.product = "Mistvale";
    char version[32];
    std::snprintf(version, sizeof version, "%u.%02u", static_cast<unsigned>(MISTVALE_VERSION_MAJOR),
                  static_cast<unsigned>(MISTVALE_VERSION_MINOR));
    setup.version = version;
    InstallCrashHandler(setup);
#endif
}

} // namespace

} // namespace mistvale

int main(int argc, char** argv) {
    using namespace mistvale;
    InstallProblemReporting();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mistvale"));
    QApplication::setOrganizationName(QStringLiteral("Vantorel"));
    return theApp.RunMain();
}
