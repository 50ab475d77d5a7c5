// The program's entry point: the one application object exists before main runs and goes at process
// exit; main runs its main window and returns the window's result as the exit code. Command-line
// arguments are not used (QApplication only sees them for the platform's own options).
#include "app/main_window.h"

#include <QApplication>

static MainWindow theApp;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mistvale"));
    QApplication::setOrganizationName(QStringLiteral("Vantorel"));
    return theApp.RunMain();
}
