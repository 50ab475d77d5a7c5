#include "update/update_manifest.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

std::string Utf8(const WideString& text) {
    return text.ToUtf8();
}

} // namespace

TEST(UpdateManifest, LocalizedTextsComeFromTheLanguageThenEnglish) {
    const std::string deOnly =
        "<update><info><de>Neue Version</de></info><version>1.10</version><files/></update>";
    UpdateManifest manifest;
    EXPECT_EQ(ParseUpdateManifest(deOnly, WideString(u"en"), manifest), ManifestResult::NoInfo);
    EXPECT_EQ(ParseUpdateManifest(deOnly, WideString(u"fr"), manifest), ManifestResult::NoInfo);
    ASSERT_EQ(ParseUpdateManifest(deOnly, WideString(u"de"), manifest), ManifestResult::Ok);
    EXPECT_EQ(Utf8(manifest.info), "Neue Version");
    EXPECT_FALSE(manifest.hasRestart);

    const std::string both = "<UPDATE><Info><EN>New</EN><fr>Nouveau</fr></Info><Version>2.0</Version>"
                             "<Restart en=\"Restart?\"/><Application>Mistvale</Application>"
                             "<help>https://example.com/help</help></UPDATE>";
    ASSERT_EQ(ParseUpdateManifest(both, WideString(u"de"), manifest), ManifestResult::Ok);
    EXPECT_EQ(Utf8(manifest.info), "New");
    EXPECT_EQ(Utf8(manifest.caption), "Mistvale");
    EXPECT_EQ(Utf8(manifest.help), "https://example.com/help");
    EXPECT_TRUE(manifest.hasRestart);
    EXPECT_EQ(Utf8(manifest.restart), "Restart?"); // an attribute serves as well as a child
    ASSERT_EQ(ParseUpdateManifest(both, WideString(u"fr"), manifest), ManifestResult::Ok);
    EXPECT_EQ(Utf8(manifest.info), "Nouveau");

    EXPECT_EQ(ParseUpdateManifest("<update><info><en>x</en></info><version>1</version></update>",
                                  WideString(u"en"), manifest),
              ManifestResult::NoVersion);
    EXPECT_EQ(ParseUpdateManifest("not xml <", WideString(u"en"), manifest), ManifestResult::NotXml);
}

// The reply's bytes are decoded as the maker wrote them: UTF-8 by default, or the declared encoding.
TEST(UpdateManifest, TextsAreDecodedNotWidened) {
    UpdateManifest manifest;
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><update><info><de>"
                             "Gr\xC3\xBC\xC3\x9F"
                             "e, m\xC3\xB6"
                             "chten Sie aktualisieren?</de></info><version>1.10</version></update>";
    ASSERT_EQ(ParseUpdateManifest(utf8, WideString(u"de"), manifest), ManifestResult::Ok);
    EXPECT_EQ(manifest.info, WideString(u"Grüße, möchten Sie aktualisieren?"));
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><update><info><de>"
                               "Gr\xFC\xDF"
                               "e</de></info><version>1.10</version></update>";
    ASSERT_EQ(ParseUpdateManifest(latin1, WideString(u"de"), manifest), ManifestResult::Ok);
    EXPECT_EQ(manifest.info, WideString(u"Grüße"));
}

TEST(UpdateManifest, FileEntriesInDocumentOrderAndNamesThatArePathsRefused) {
    const std::string files = "<update><info><en>x</en></info><version>1.10</version><files>"
                              "<url name=\"mistvale\" size=\"1234\" signature=\"c2ln\">https://h/a</url>"
                              "<note>ignored</note>"
                              "<URL><name>lib.so</name><zip>lib.zip</zip><size>10</size>https://h/b</URL>"
                              "<url size=\"1\">https://h/get?file=setup.deb</url>"
                              "<execute>mistvale</execute></files></update>";
    UpdateManifest manifest;
    ASSERT_EQ(ParseUpdateManifest(files, WideString(u"en"), manifest), ManifestResult::Ok);
    ASSERT_EQ(manifest.files.size(), 3u);
    EXPECT_EQ(Utf8(manifest.files[0].name), "mistvale");
    EXPECT_EQ(manifest.files[0].size, 1234);
    EXPECT_EQ(Utf8(manifest.files[0].signature), "c2ln");
    EXPECT_EQ(Utf8(manifest.files[1].zip), "lib.zip");
    EXPECT_EQ(manifest.files[1].size, 10);
    EXPECT_TRUE(manifest.files[2].name.IsEmpty());
    EXPECT_EQ(Utf8(manifest.execute), "mistvale");

    for (const char* bad : {"../mistvale", "/usr/bin/x", "sub/x", "a\\b", ".bashrc", "a..b", ".."}) {
        for (const char* attribute : {"name", "zip"}) {
            const std::string text =
                std::string("<update><info><en>x</en></info><version>1.10</version><files>") + "<url " +
                (std::string(attribute) == "zip" ? "name=\"ok\" " : "") + attribute + "=\"" + bad +
                "\">https://h/a</url></files></update>";
            EXPECT_EQ(ParseUpdateManifest(text, WideString(u"en"), manifest), ManifestResult::UnsafeName)
                << attribute << "=" << bad;
        }
    }
    // Every download has a size: without one it could be as large as the server likes.
    const std::string unsized = "<update><info><en>x</en></info><version>1.10</version><expires>"
                                "2027-01-08T12:00:00Z</expires><help>file:///etc/passwd</help><files>"
                                "<url name=\"a\">https://h/a</url></files></update>";
    EXPECT_EQ(ParseUpdateManifest(unsized, WideString(u"en"), manifest), ManifestResult::NoSize);
    EXPECT_EQ(manifest.expires, 1799409600); // 2027-01-08T12:00:00Z
    EXPECT_TRUE(manifest.help.IsEmpty());    // only https:// is kept
}

} // namespace mistvale
