#include "platform/service_address.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <memory>

namespace mistvale {

namespace {

bool IsLoopbackHost(std::string host) {
    for (char& c : host)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (host == "localhost" || host == "[::1]" || host == "::1")
        return true;
    // A dotted address in 127.0.0.0/8; a name that merely starts with "127." is somebody's host.
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

} // namespace

bool IsAllowedServiceAddress(const std::string& url) {
    std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    char* host = nullptr;
    bool allowed = false;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        const std::string s(scheme);
        allowed = s == "https" || (s == "http" && IsLoopbackHost(host));
    }
    curl_free(scheme);
    curl_free(host);
    return allowed;
}

} // namespace mistvale
