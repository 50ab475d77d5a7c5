// The report dialog's texts and buttons, and the upload's body, byte for byte, as a local service
// receives it.
#include "report/report_dialog.h"
#include "report/report_upload.h"

#include "local_http_server.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace mistvale {

namespace fs = std::filesystem;

namespace {

// Bytes like a minidump's: binary, with a zero byte inside.
std::string DumpBytes() {
    return std::string("MDMP\0\x01\x02", 7) + "binary";
}

class ReportFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("mistvale-upload-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        files_.dump = (folder_ / "mistvale_Debug.dmp").string();
        files_.text = (folder_ / "mistvale_Debug.txt").string();
        std::ofstream(files_.dump, std::ios::binary) << DumpBytes();
        std::ofstream(files_.text, std::ios::binary) << "Access Violation [0xC0000005] at ...\r\n";
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    fs::path folder_;
    ReportFiles files_;
};

std::vector<QString> LabelTexts(QDialog& dialog) {
    std::vector<QString> texts;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        texts.push_back(label->text());
    return texts;
}

bool Contains(const std::vector<QString>& texts, const QString& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace

TEST_F(ReportFilesTest, DialogShowsTheTextsAndTwoButtons) {
    std::unique_ptr<QDialog> dialog(
        BuildReportDialog(QStringLiteral("Mistvale"), QString(), QString(), files_));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Mistvale has stopped working."));
    const std::vector<QString> texts = LabelTexts(*dialog);
    EXPECT_TRUE(Contains(texts, QStringLiteral("Please tell us about this problem.")));
    EXPECT_TRUE(Contains(
        texts, QStringLiteral("Can you please describe what you were doing when the problem occurred?")));
    EXPECT_TRUE(
        Contains(texts, QStringLiteral("Your E-mail address. It will be kept private. Only used to contact "
                                       "you for more details.")));
    const QString note =
        QStringLiteral("The files <a href=\"%1\">mistvale_Debug.txt</a> and <a href=\"%2\">"
                       "mistvale_Debug.dmp</a> will be send. They do not contain any personal "
                       "information.")
            .arg(QString::fromStdString(files_.text), QString::fromStdString(files_.dump));
    EXPECT_TRUE(Contains(texts, note));
    EXPECT_EQ(dialog->findChild<QPlainTextEdit*>(kReportDescription)->placeholderText(),
              QStringLiteral(" optional"));
    EXPECT_EQ(dialog->findChild<QLineEdit*>(kReportEmail)->placeholderText(), QStringLiteral(" optional"));
    EXPECT_EQ(dialog->findChild<QPushButton*>(kReportSend)->text(), QStringLiteral("Send Problem Report"));
    EXPECT_EQ(dialog->findChild<QPushButton*>(kReportDontSend)->text(), QStringLiteral("Don't Send"));

    // A company and a website; one file only.
    ReportFiles textOnly = files_;
    textOnly.dump.clear();
    std::unique_ptr<QDialog> other(BuildReportDialog(QStringLiteral("Mistvale"), QStringLiteral("Vantorel"),
                                                     QStringLiteral("https://example.com/"), textOnly));
    const std::vector<QString> otherTexts = LabelTexts(*other);
    EXPECT_TRUE(Contains(otherTexts,
                         QStringLiteral("Please tell Vantorel about this problem.<br><br>You can check the "
                                        "website <a href=\"https://example.com/\">https://example.com/</a> "
                                        "for a newer version.")));
    EXPECT_TRUE(
        Contains(otherTexts, QStringLiteral("The file <a href=\"%1\">mistvale_Debug.txt</a> will be send. It "
                                            "does not contain any personal information.")
                                 .arg(QString::fromStdString(files_.text))));
}

TEST_F(ReportFilesTest, UploadBodyIsThePartsInOrderWithTheFixedBoundary) {
    LocalHttpServer server(folder_.string());
    ASSERT_TRUE(server.Start());
    server.SetStatus(200);
    ReportUpload upload;
    upload.service = server.BaseUrl() + kReportPath;
    upload.product = "Mistvale";
    upload.version = "1.00";
    upload.email = "op@example.com";
    upload.description = "Pressed Search twice";
    upload.machineId = "0123-4567-89AB-CDEF";
    upload.files = files_;
    ASSERT_EQ(SendReport(upload), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("POST /services/corvid/report.php HTTP/1.1\r\n", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find(
                  "Content-Type: multipart/form-data; boundary=-----------------------------1234567890123"),
              std::string::npos);
    const std::string line = "-------------------------------1234567890123\r\n";
    auto text = [&](const char* name, const std::string& value) {
        return line + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    };
    const std::string expected =
        text("a", "r") + text("p", "Mistvale") + text("s", "") + text("v", "1.00") +
        text("g", "0123-4567-89AB-CDEF") + text("e", "op@example.com") + text("x", "Pressed Search twice") +
        line +
        "Content-Disposition: form-data; name=\"d\"; filename=\"mistvale_Debug.dmp\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        DumpBytes() + "\r\n" + line +
        "Content-Disposition: form-data; name=\"t\"; filename=\"mistvale_Debug.txt\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\nAccess Violation [0xC0000005] at ...\r\n\r\n"
        "-------------------------------1234567890123--\r\n";
    ASSERT_EQ(server.Bodies().size(), 1u);
    EXPECT_EQ(server.Bodies()[0], expected);
}

TEST_F(ReportFilesTest, NothingIsSentInClearOrCutShort) {
    LocalHttpServer server(folder_.string());
    ASSERT_TRUE(server.Start());
    ReportUpload upload;
    upload.files = files_;
    upload.service = "http://reports.example.com/services/corvid/report.php"; // clear text to another host
    EXPECT_EQ(SendReport(upload), 0);
    // A file that holds the boundary would end the body early at the receiver: refused.
    std::ofstream(files_.dump, std::ios::binary) << "x-------------------------------1234567890123y";
    upload.service = server.BaseUrl() + kReportPath;
    std::string body;
    EXPECT_FALSE(BuildReportBody(upload, body));
    EXPECT_EQ(SendReport(upload), 0);
    EXPECT_TRUE(server.Requests().empty());
}

} // namespace mistvale
