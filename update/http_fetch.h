#pragma once
// Fetching from the maker's update service over libcurl: agent "AutoUpdate", "Accept: */*", no caches,
// the system's proxy (libcurl's proxy environment variables). Only https:// addresses, and plain
// http:// to a loopback address (tests); redirects only to https://. Status 200 and 206 deliver the
// body; a 407 from the proxy (on a plain request, or on the CONNECT of an https:// one) asks for its
// credentials once and tries again; any other status fails.
#include <atomic>
#include <string>

namespace mistvale {

// Asked on a 407: 1 with the user name and password to try again with, 0 to give up.
typedef int (*ProxyCredentialsHandler)(const std::string& proxy, std::string& user, std::string& password,
                                       void* context);

// Proxy credentials kept for the fetches of one check, so that they are asked for once.
struct ProxyLogin {
    bool asked = false;
    bool given = false;
    std::string user;
    std::string password;
};

struct FetchOptions {
    long long maxBytes = -1; // a body longer than this is cut off and the fetch fails; -1: no limit
    const std::atomic<bool>* cancel = nullptr; // set: the transfer ends within about a second
    ProxyCredentialsHandler credentials = nullptr;
    void* context = nullptr;
    ProxyLogin* login = nullptr; // shared by the fetches of one check; nullptr: asked per fetch
    long connectTimeoutSeconds = 15;
    long stallSeconds = 30; // a transfer that moves no byte this long fails
};

enum class FetchResult { Ok, NotAllowed, Failed, BadStatus, TooLarge, Cancelled };

bool IsAllowedUpdateAddress(const std::string& url);

FetchResult FetchToString(const std::string& url, std::string& body, const FetchOptions& options = {});
// Writes the body into path (created or truncated); the file is removed unless the fetch succeeds.
FetchResult FetchToFile(const std::string& url, const std::string& path, const FetchOptions& options = {});

} // namespace mistvale
