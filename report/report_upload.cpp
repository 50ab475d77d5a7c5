#include "report/report_upload.h"

#include "platform/machine_identifier.h"
#include "platform/service_address.h"

#include <curl/curl.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace mistvale {

namespace {

std::string Delimiter() {
    return std::string("--") + kReportBoundary;
}

void TextPart(std::string& body, const char* name, const std::string& value) {
    body += Delimiter() + "\r\n";
    body += std::string("Content-Disposition: form-data; name=\"") + name + "\"\r\n\r\n" + value + "\r\n";
}

bool FilePart(std::string& body, const char* name, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    const std::string bytes = content.str();
    if (bytes.find(kReportBoundary) != std::string::npos)
        return false;
    const size_t slash = path.find_last_of('/');
    const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    body += Delimiter() + "\r\n";
    body += std::string("Content-Disposition: form-data; name=\"") + name + "\"; filename=\"" + fileName +
            "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    body += bytes;
    body += "\r\n"; // the next delimiter begins a line of its own
    return true;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count; // the reply is read and not used
}

} // namespace

bool BuildReportBody(const ReportUpload& upload, std::string& body) {
    body.clear();
    TextPart(body, "a", "r");
    TextPart(body, "p", upload.product);
    TextPart(body, "s", "");
    TextPart(body, "v", upload.version);
    TextPart(body, "g", upload.machineId.empty() ? MachineIdentifier("mistvale").ToUtf8() : upload.machineId);
    TextPart(body, "e", upload.email);
    TextPart(body, "x", upload.description);
    if (!upload.files.dump.empty() && !FilePart(body, "d", upload.files.dump))
        return false;
    if (!FilePart(body, "t", upload.files.text))
        return false;
    body += Delimiter() + "--\r\n";
    return true;
}

int SendReport(const ReportUpload& upload) {
    if (!IsAllowedServiceAddress(upload.service))
        return 0;
    std::string body;
    if (!BuildReportBody(upload, body))
        return 0;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return 0;
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        curl_slist_append(
            nullptr, (std::string("Content-Type: multipart/form-data; boundary=") + kReportBoundary).c_str()),
        &curl_slist_free_all);
    headers.reset(curl_slist_append(headers.release(), "Expect:"));
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, upload.service.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 120L);
    if (curl_easy_perform(c) != CURLE_OK)
        return 0;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300 ? 1 : 0;
}

} // namespace mistvale
