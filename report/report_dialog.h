#pragma once
// The dialog that tells the user the program stopped and offers to send the report files.
#include <QDialog>
#include <QString>
#include <string>

#include "report/report_files.h"

namespace mistvale {

struct ReportDialogAnswer {
    std::string email;
    std::string description;
};

// The dialog, ready to show; `company` empty asks the user to tell "us". `website` empty leaves the
// website sentence out.
QDialog* BuildReportDialog(const QString& product, const QString& company, const QString& website,
                           const ReportFiles& files);
// Shows it; 1 when the user chose "Send Problem Report", with what they typed.
int RunReportDialog(const std::string& product, const ReportFiles& files, ReportDialogAnswer& answer);

// Object names of the dialog's parts, for tests.
inline constexpr const char* kReportDescription = "description";
inline constexpr const char* kReportEmail = "email";
inline constexpr const char* kReportSend = "send";
inline constexpr const char* kReportDontSend = "dontSend";

} // namespace mistvale
