// mistvale-reporter: started by a crashing Mistvale (never by hand). It reads the crash context from
// its inherited pipe, takes the process's snapshot, lets the process end, writes the minidump and the
// text report beside the program, and, when a report service is set, asks the user whether to send
// them.
#include "platform/crash_context.h"
#include "report/minidump_writer.h"
#include "report/process_snapshot.h"
#include "report/report_dialog.h"
#include "report/report_files.h"
#include "report/report_upload.h"
#include "report/text_report.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace mistvale {} // namespace mistvale

int main(int argc, char** argv) {
    using namespace mistvale;
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    CrashContext context;
    size_t got = 0;
    char* bytes = reinterpret_cast<char*>(&context);
    while (got < sizeof context) {
        const ssize_t n = read(kCrashContextFd, bytes + got, sizeof context - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(kCrashContextFd);
    if (got != sizeof context || context.magic != kCrashContextMagic) {
        close(kCrashDoneFd);
        std::fprintf(stderr, "mistvale-reporter: no crash context (this program is started by Mistvale)\n");
        return 2;
    }
    ProcessSnapshot snapshot;
    TakeProcessSnapshot(context, snapshot);
    const char collected = 1;
    if (write(kCrashDoneFd, &collected, 1) != 1)
        std::fprintf(stderr, "mistvale-reporter: the crashed process did not wait for its report\n");
    close(kCrashDoneFd); // the crashed process may end now

    TextReportInfo info;
    info.programPath = options["--program"];
    std::sscanf(options["--version"].c_str(), "%u.%u", &info.versionMajor, &info.versionMinor);
    context.log[sizeof context.log - 1] = '\0';
    info.log = context.log;
    const ReportFiles files =
        WriteReportFiles(info.programPath, BuildMinidump(snapshot), BuildTextReport(snapshot, info));
    const std::string service = options["--service"];
    if (service.empty() || files.text.empty())
        return 0;

    QApplication application(argc, argv);
    ReportDialogAnswer answer;
    if (!RunReportDialog(options["--product"], files, answer))
        return 0;
    ReportUpload upload;
    upload.service = service;
    upload.product = options["--product"];
    upload.version = options["--version"];
    upload.email = answer.email;
    upload.description = answer.description;
    upload.files = files;
    return SendReport(upload) ? 0 : 1;
}
