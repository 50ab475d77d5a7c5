// The program's entry point: the one application object exists before main runs and goes at process
// exit; main runs its main window and returns the window's result as the exit code. --version and
// --help answer without a display; other arguments go to QApplication for the platform's own options.
#include "app/main_window.h"
#include "app/single_instance.h"
#include "mistvale_version.h"
#include "modbus/frame_trace_file.h"
#include "model/config_file.h"
#include "platform/crash_handler.h"

#include <QApplication>
#include <QMessageBox>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

const char* const kUsage =
    "Usage: mistvale [--version] [--help]\n"
    "\n"
    "A desktop monitor for Modbus devices. The tree is $XDG_DATA_HOME/Mistvale.xml\n"
    "(~/.local/share/Mistvale.xml); one Mistvale runs per tree, and a second start\n"
    "brings its window to the front.\n"
    "\n"
    "  --version  print the version and exit\n"
    "  --help     print this text and exit\n"
    "\n"
    "Environment: MISTVALE_RECORD_FILE=FILE records every value into a CSV file;\n"
    "MISTVALE_TRACE=FILE appends every Modbus frame sent and received to a text file.\n";

// 1 when an argument was answered (the program then ends with *exitCode).
int AnswerArguments(int argc, char** argv, int* exitCode) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--version") {
            std::printf("Mistvale %u.%02u\n", static_cast<unsigned>(MISTVALE_VERSION_MAJOR),
                        static_cast<unsigned>(MISTVALE_VERSION_MINOR));
            *exitCode = 0;
            return 1;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            *exitCode = 0;
            return 1;
        }
    }
    return 0;
}

} // namespace

} // namespace mistvale

int main(int argc, char** argv) {
    using namespace mistvale;
    int exitCode = 0;
    if (AnswerArguments(argc, argv, &exitCode))
        return exitCode;
    InstallProblemReporting();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mistvale"));
    QApplication::setOrganizationName(QStringLiteral("Vantorel"));
    const std::string tree = DefaultConfigPath();
    SingleInstance instance;
    switch (instance.ClaimTree(tree)) {
    case SingleInstance::Claim::Owned:
        break;
    case SingleInstance::Claim::RaisedOther:
        return 0;
    case SingleInstance::Claim::Unreachable: {
        // The tree is left alone: whatever the other program holds must not be saved over.
        const QString text = QStringLiteral("Mistvale is already running with this tree (%1), but it does "
                                            "not answer. Close it first, or end it if it hangs.")
                                 .arg(QString::fromStdString(tree));
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        QMessageBox::warning(nullptr, QStringLiteral("Mistvale"), text);
        return 1;
    }
    }
    instance.SetRaiseHandler([] { theApp.BringToFront(); });
    // Every frame of the run into a file, for a problem that shows only now and then.
    FrameTraceFile trace;
    if (const char* tracePath = std::getenv("MISTVALE_TRACE"); tracePath != nullptr && *tracePath) {
        std::string why;
        if (!trace.Start(tracePath, &why))
            std::fprintf(stderr, "mistvale: cannot write the trace %s\n", why.c_str());
    }
    return theApp.RunMain();
}
