#pragma once
// Sends the report files to the report service: an HTTP POST of a multipart/form-data body, part for
// part a, p, s, v, g, e, x, d, t, with the service's fixed boundary. Only https:// (plain http:// to
// this machine, for tests): the e-mail address and the description must not cross the network in clear.
#include <string>

#include "report/report_files.h"

namespace mistvale {

inline constexpr const char* kReportBoundary = "-----------------------------1234567890123";
inline constexpr const char* kReportPath = "/services/corvid/report.php";

struct ReportUpload {
    std::string service; // the full address of the service
    std::string product, version, email, description;
    std::string machineId; // empty: this installation's
    ReportFiles files;
};

// The body; false (and nothing sent) when a file cannot be read or holds the boundary, which would
// cut the body short at the receiver.
bool BuildReportBody(const ReportUpload& upload, std::string& body);
// 1 when the service took the body (status 2xx).
int SendReport(const ReportUpload& upload);

} // namespace mistvale
