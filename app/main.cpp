// The program's entry point: the one application object exists before main runs and goes at process
// exit; main runs its main window (or, with --headless, the service without one) and returns its result
// as the exit code. --version, --help and --export answer without a display; other arguments go to
// QApplication for the platform's own options.
#include "app/headless_service.h"
#include "app/main_window.h"
#include "app/single_instance.h"
#include "mistvale_version.h"
#include "modbus/frame_trace_file.h"
#include "modbus/telegraf_export.h"
#include "model/config_file.h"
#include "model/locked_list.h"
#include "platform/crash_handler.h"

#include <QApplication>
#include <QCoreApplication>
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
    "Usage: mistvale [OPTION]...\n"
    "\n"
    "A monitor for Modbus devices. The tree is $XDG_DATA_HOME/Mistvale.xml\n"
    "(~/.local/share/Mistvale.xml) unless --tree names another; one Mistvale runs per tree, and a\n"
    "second start brings its window to the front.\n"
    "\n"
    "  --tree FILE          use FILE as the tree\n"
    "  --headless           run the tree's refresh without a window (a service); ends on SIGTERM,\n"
    "                       SIGINT or SIGHUP, saving the tree; logs changes of state to stderr\n"
    "  --record FILE        record every read and write into a CSV file (also MISTVALE_RECORD_FILE)\n"
    "  --trace FILE         append every Modbus frame to a text file (also MISTVALE_TRACE)\n"
    "  --mqtt URL           publish every value to an MQTT broker: mqtt://[user[:password]@]host[:port]\n"
    "                       or mqtts://... (password also from MISTVALE_MQTT_PASSWORD)\n"
    "  --mqtt-ca FILE       CA certificates for mqtts:// (default: the system's)\n"
    "  --mqtt-prefix TEXT   first topic level (default mistvale)\n"
    "  --mqtt-writes        write a source when a message comes on <prefix>/<group>/<source>/set\n"
    "  --export telegraf    print a Telegraf inputs.modbus configuration of the tree and exit\n"
    "  --version            print the version and exit\n"
    "  --help               print this text and exit\n";

struct Arguments {
    bool headless = false;
    std::string tree;
    std::string record;
    std::string trace;
    std::string exportKind;
    bool mqtt = false;
    MqttSettings mqttSettings;
};

// Reads the program's own options; the window leaves the others to Qt. 1 when the program ends at
// once (with *exitCode).
int ReadArguments(int argc, char** argv, Arguments* out, int* exitCode) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](std::string* target) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "mistvale: %s needs a value (see --help)\n", argument.c_str());
                *exitCode = 2;
                return false;
            }
            *target = argv[++i];
            return true;
        };
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
        bool ok = true;
        if (argument == "--headless")
            out->headless = true;
        else if (argument == "--mqtt-writes")
            out->mqttSettings.writes = true;
        else if (argument == "--tree")
            ok = value(&out->tree);
        else if (argument == "--record")
            ok = value(&out->record);
        else if (argument == "--trace")
            ok = value(&out->trace);
        else if (argument == "--export")
            ok = value(&out->exportKind);
        else if (argument == "--mqtt")
            ok = (out->mqtt = value(&out->mqttSettings.url));
        else if (argument == "--mqtt-ca")
            ok = value(&out->mqttSettings.caFile);
        else if (argument == "--mqtt-prefix")
            ok = value(&out->mqttSettings.prefix);
        else if (argument.rfind("--", 0) == 0 && argument.size() > 2 && argument != "--platform") {
            std::fprintf(stderr, "mistvale: unknown option %s (see --help)\n", argument.c_str());
            *exitCode = 2;
            return 1;
        }
        if (!ok)
            return 1;
    }
    if (const char* password = std::getenv("MISTVALE_MQTT_PASSWORD"); password != nullptr)
        out->mqttSettings.password = password;
    if (out->record.empty())
        if (const char* record = std::getenv("MISTVALE_RECORD_FILE"); record != nullptr)
            out->record = record;
    if (out->trace.empty())
        if (const char* trace = std::getenv("MISTVALE_TRACE"); trace != nullptr)
            out->trace = trace;
    if (!out->exportKind.empty() && out->exportKind != "telegraf") {
        std::fprintf(stderr, "mistvale: --export knows only telegraf\n");
        *exitCode = 2;
        return 1;
    }
    if (out->mqtt && out->mqttSettings.prefix.empty()) {
        std::fprintf(stderr, "mistvale: --mqtt-prefix must not be empty\n");
        *exitCode = 2;
        return 1;
    }
    return 0;
}

// The tree as a Telegraf configuration, from the file as it is on disk.
int ExportTelegraf(const std::string& tree) {
    LockedList groups;
    const int loaded = LoadConfigFile(tree, groups);
    if (loaded != kConfigLoaded) {
        std::fprintf(stderr, "mistvale: cannot read the tree %s\n", tree.c_str());
        return 1;
    }
    const std::string config = TelegrafConfig(groups);
    std::fwrite(config.data(), 1, config.size(), stdout);
    return 0;
}

} // namespace

} // namespace mistvale

int main(int argc, char** argv) {
    using namespace mistvale;
    int exitCode = 0;
    Arguments arguments;
    if (ReadArguments(argc, argv, &arguments, &exitCode))
        return exitCode;
    const std::string tree = arguments.tree.empty() ? DefaultConfigPath() : arguments.tree;
    if (!arguments.exportKind.empty())
        return ExportTelegraf(tree);
    InstallProblemReporting();
    // Every frame of the run into a file, for a problem that shows only now and then.
    FrameTraceFile trace;
    if (!arguments.trace.empty()) {
        std::string why;
        if (!trace.Start(arguments.trace, &why))
            std::fprintf(stderr, "mistvale: cannot write the trace %s\n", why.c_str());
    }
    if (arguments.headless) {
        // No display and no GUI platform: a core application is enough for timers and signals.
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Mistvale"));
        QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
        SingleInstance instance;
        if (instance.ClaimTree(tree) != SingleInstance::Claim::Owned) {
            HeadlessService::Log("another Mistvale already runs with the tree " + tree, true);
            return 1;
        }
        HeadlessOptions options;
        options.tree = tree;
        options.recordFile = arguments.record;
        options.mqtt = arguments.mqtt;
        options.mqttSettings = arguments.mqttSettings;
        HeadlessService service;
        return service.Run(options);
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mistvale"));
    QApplication::setOrganizationName(QStringLiteral("Vantorel"));
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
    if (!arguments.tree.empty())
        theApp.SetConfigPath(arguments.tree);
    if (!arguments.record.empty())
        theApp.SetRecordFile(arguments.record);
    if (arguments.mqtt)
        theApp.SetMqtt(arguments.mqttSettings);
    return theApp.RunMain();
}
