#include "update/http_fetch.h"

#include "local_http_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace mistvale {

namespace fs = std::filesystem;

TEST(HttpFetch, OnlyHttpsOrPlainHttpToThisMachine) {
    EXPECT_TRUE(IsAllowedUpdateAddress("https://updates.example.com/common/update.php?p=mistvale"));
    EXPECT_TRUE(IsAllowedUpdateAddress("http://127.0.0.1:8080/common/update.php"));
    EXPECT_TRUE(IsAllowedUpdateAddress("http://127.1.2.3/x"));
    EXPECT_TRUE(IsAllowedUpdateAddress("http://localhost/x"));
    EXPECT_TRUE(IsAllowedUpdateAddress("http://[::1]:81/x"));
    EXPECT_FALSE(IsAllowedUpdateAddress("http://updates.example.com/common/update.php"));
    EXPECT_FALSE(IsAllowedUpdateAddress("http://127.0.0.1.example.com/x"));
    EXPECT_FALSE(IsAllowedUpdateAddress("http://10.0.0.1/x"));
    EXPECT_FALSE(IsAllowedUpdateAddress("ftp://127.0.0.1/x"));
    EXPECT_FALSE(IsAllowedUpdateAddress("file:///etc/passwd"));
    EXPECT_FALSE(IsAllowedUpdateAddress(""));
    std::string body = "left over";
    EXPECT_EQ(FetchToString("http://example.com/", body), FetchResult::NotAllowed);
    EXPECT_TRUE(body.empty());
}

namespace {
int credentialAsks = 0;
int GiveCredentials(const std::string&, std::string& user, std::string& password, void* context) {
    ++credentialAsks;
    user = "operator";
    password = "secret";
    return *static_cast<int*>(context);
}
} // namespace

TEST(HttpFetch, StatusesAndProxyCredentialsAskedOnce) {
    const fs::path root = fs::temp_directory_path() / ("mistvale-fetch-" + std::to_string(getpid()));
    fs::create_directories(root);
    std::ofstream(root / "file.bin", std::ios::binary) << std::string(1000, 'x');
    LocalHttpServer server(root.string());
    ASSERT_TRUE(server.Start());
    std::string body;
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/file.bin?p=1", body), FetchResult::Ok);
    EXPECT_EQ(body.size(), 1000u);
    FetchOptions limited;
    limited.maxBytes = 999;
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/file.bin", body, limited), FetchResult::TooLarge);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/missing", body), FetchResult::BadStatus);
    const fs::path target = root / "download";
    EXPECT_EQ(FetchToFile(server.BaseUrl() + "/missing", target.string()), FetchResult::BadStatus);
    EXPECT_FALSE(fs::exists(target)); // a failed download leaves no file
    EXPECT_EQ(FetchToFile(server.BaseUrl() + "/file.bin", target.string()), FetchResult::Ok);
    EXPECT_EQ(fs::file_size(target), 1000u);
    server.SetStatus(206);
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/file.bin", body), FetchResult::Ok);
    server.SetStatus(500);
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/file.bin", body), FetchResult::BadStatus);

    // 407: the credentials are asked for once and the request sent once more; a refusal ends it.
    server.SetStatus(407);
    int accept = 1;
    FetchOptions withProxy;
    withProxy.credentials = &GiveCredentials;
    withProxy.context = &accept;
    const size_t before = server.Requests().size();
    credentialAsks = 0;
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/file.bin", body, withProxy), FetchResult::BadStatus);
    EXPECT_EQ(credentialAsks, 1);
    EXPECT_EQ(server.Requests().size() - before, 2u);
    accept = 0;
    credentialAsks = 0;
    EXPECT_EQ(FetchToString(server.BaseUrl() + "/file.bin", body, withProxy), FetchResult::BadStatus);
    EXPECT_EQ(credentialAsks, 1);
    EXPECT_EQ(server.Requests().size() - before, 3u);
    std::error_code error;
    fs::remove_all(root, error);
}

} // namespace mistvale
