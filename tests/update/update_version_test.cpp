#include "update/update_version.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

UpdateVersion V(unsigned major, unsigned minor) {
    UpdateVersion v;
    v.major = major;
    v.minor = minor;
    return v;
}

bool Offered(const char16_t* offeredText, UpdateVersion running) {
    UpdateVersion offered;
    return ParseUpdateVersion(WideString(offeredText), offered) && IsNewerVersion(offered, running);
}

std::string Utf8(const WideString& text) {
    return text.ToUtf8();
}

} // namespace

TEST(UpdateVersion, ComparesMajorThenMinorAsNumbers) {
    EXPECT_TRUE(Offered(u"1.10", V(1, 9)));
    EXPECT_FALSE(Offered(u"1.1", V(1, 9)));
    EXPECT_TRUE(Offered(u"2.0", V(1, 9)));
    EXPECT_FALSE(Offered(u"1.09", V(1, 9)));
    EXPECT_FALSE(Offered(u"0.99", V(1, 9)));
    UpdateVersion parsed;
    EXPECT_FALSE(ParseUpdateVersion(WideString(u"1"), parsed));
    EXPECT_FALSE(ParseUpdateVersion(WideString(u"v1.2"), parsed));
    EXPECT_FALSE(ParseUpdateVersion(WideString(u""), parsed));
    ASSERT_TRUE(ParseUpdateVersion(WideString(u" 3.7 beta"), parsed)); // as "%u.%u" reads it
    EXPECT_EQ(parsed.major, 3u);
    EXPECT_EQ(parsed.minor, 7u);
    EXPECT_EQ(Utf8(UpdateVersionText(V(1, 9))), "1.09");
    EXPECT_EQ(Utf8(UpdateVersionText(V(1, 0))), "1.00");
    EXPECT_EQ(Utf8(UpdateVersionText(V(2, 123))), "2.123");
}

TEST(UpdateVersion, RequestAddressAddsQuestionMarkOrAmpersand) {
    const WideString id(u"0123-4567-89AB-CDEF");
    EXPECT_EQ(Utf8(UpdateRequestAddress(WideString(u"https://h/common/update.php"), WideString(u"1.09"), id)),
              "https://h/common/update.php?v=1.09&id=0123-4567-89AB-CDEF");
    EXPECT_EQ(Utf8(UpdateRequestAddress(WideString(u"https://h/common/update.php?p=mistvale"),
                                        WideString(u"1.09"), id)),
              "https://h/common/update.php?p=mistvale&v=1.09&id=0123-4567-89AB-CDEF");
}

} // namespace mistvale
