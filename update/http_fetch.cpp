#include "update/http_fetch.h"

#include "platform/service_address.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <arpa/inet.h>
#include <unistd.h>

namespace mistvale {

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    CURL* curl = nullptr;
    std::string* text = nullptr;
    std::FILE* file = nullptr;
    long long maxBytes = -1;
    long long received = 0;
    bool tooLarge = false;
    const std::atomic<bool>* cancel = nullptr;
};

bool GoodStatus(long status) {
    return status == 200 || status == 206;
}

size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
    if (!GoodStatus(status))
        return bytes; // an error page or a proxy's 407 page: read and dropped
    if (sink->maxBytes >= 0 && sink->received + static_cast<long long>(bytes) > sink->maxBytes) {
        sink->tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    sink->received += static_cast<long long>(bytes);
    if (sink->text) {
        sink->text->append(data, bytes);
        return bytes;
    }
    return std::fwrite(data, 1, bytes, sink->file);
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* sink = static_cast<Sink*>(user);
    return sink->cancel && sink->cancel->load() ? 1 : 0;
}

// The proxy an address goes through, as libcurl takes it from the environment; named in the question.
std::string ProxyOf(const std::string& url) {
    static const char* const kHttps[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", nullptr};
    static const char* const kHttp[] = {"http_proxy", "all_proxy", "ALL_PROXY", nullptr};
    for (const char* const* name = url.rfind("https://", 0) == 0 ? kHttps : kHttp; *name != nullptr; ++name)
        if (const char* value = std::getenv(*name); value != nullptr && *value)
            return value;
    return "the proxy";
}

FetchResult Fetch(const std::string& url, Sink& sink, const FetchOptions& options) {
    if (!IsAllowedUpdateAddress(url))
        return FetchResult::NotAllowed;
    GlobalInit();
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return FetchResult::Failed;
    sink.curl = curl.get();
    sink.maxBytes = options.maxBytes;
    sink.cancel = options.cancel;
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(nullptr, &curl_slist_free_all);
    for (const char* header : {"Accept: */*", "Cache-Control: no-cache", "Pragma: no-cache"})
        headers.reset(curl_slist_append(headers.release(), header));
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "AutoUpdate");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https"); // http only passed the loopback check
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_COOKIEFILE, ""); // cookies of this transfer are sent back
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options.stallSeconds);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Write);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &sink);

    ProxyLogin own;
    ProxyLogin& login = options.login != nullptr ? *options.login : own;
    const auto useLogin = [&] {
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, login.user.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, login.password.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    };
    if (login.given)
        useLogin();
    for (int attempt = 0; attempt < 2; ++attempt) {
        sink.received = 0;
        if (sink.text)
            sink.text->clear();
        if (sink.file && (std::fflush(sink.file) != 0 || std::fseek(sink.file, 0, SEEK_SET) != 0))
            return FetchResult::Failed;
        const CURLcode code = curl_easy_perform(c);
        if (sink.tooLarge)
            return FetchResult::TooLarge;
        if (code == CURLE_ABORTED_BY_CALLBACK)
            return FetchResult::Cancelled;
        long status = 0;
        long connectStatus = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        // An https:// address goes through the proxy's tunnel: its 407 is the CONNECT's status.
        curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
        if ((status == 407 || connectStatus == 407) && attempt == 0 && options.credentials && !login.asked) {
            login.asked = true;
            login.given = options.credentials(ProxyOf(url), login.user, login.password, options.context) != 0;
            if (!login.given)
                return FetchResult::BadStatus;
            useLogin();
            continue;
        }
        if (status == 407 || connectStatus == 407)
            return FetchResult::BadStatus;
        if (code != CURLE_OK)
            return FetchResult::Failed;
        return GoodStatus(status) ? FetchResult::Ok : FetchResult::BadStatus;
    }
    return FetchResult::BadStatus;
}

} // namespace

bool IsAllowedUpdateAddress(const std::string& url) {
    GlobalInit();
    return IsAllowedServiceAddress(url);
}

FetchResult FetchToString(const std::string& url, std::string& body, const FetchOptions& options) {
    body.clear();
    Sink sink;
    sink.text = &body;
    const FetchResult result = Fetch(url, sink, options);
    if (result != FetchResult::Ok)
        body.clear();
    return result;
}

FetchResult FetchToFile(const std::string& url, const std::string& path, const FetchOptions& options) {
    if (!IsAllowedUpdateAddress(url))
        return FetchResult::NotAllowed;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return FetchResult::Failed;
    Sink sink;
    sink.file = file;
    FetchResult result = Fetch(url, sink, options);
    if (result == FetchResult::Ok && ftruncate(fileno(file), static_cast<off_t>(sink.received)) != 0)
        result = FetchResult::Failed;
    if (std::fclose(file) != 0 && result == FetchResult::Ok)
        result = FetchResult::Failed;
    if (result != FetchResult::Ok)
        std::remove(path.c_str());
    return result;
}

} // namespace mistvale
