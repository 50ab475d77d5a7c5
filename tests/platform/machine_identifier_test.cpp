#include "platform/machine_identifier.h"

#include <gtest/gtest.h>

#include <regex>

namespace mistvale {

namespace {

std::string Utf8(const WideString& text) {
    return text.ToUtf8();
}

} // namespace

TEST(MachineIdentifier, FourHexGroupsStableAndNotTheRawId) {
    const std::string raw = "0123456789abcdef0123456789abcdef";
    const std::string a = Utf8(MachineIdentifierFrom(raw, "mistvale"));
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}"))) << a;
    EXPECT_EQ(Utf8(MachineIdentifierFrom(raw + "\n", "mistvale")), a);
    EXPECT_NE(Utf8(MachineIdentifierFrom(raw, "otherproduct")), a);
    EXPECT_NE(Utf8(MachineIdentifierFrom("1" + raw.substr(1), "mistvale")), a);
    EXPECT_EQ(a.find("0123-4567-89AB-CDEF"), std::string::npos);
    const std::string own = Utf8(MachineIdentifier("mistvale"));
    EXPECT_EQ(own, Utf8(MachineIdentifier("mistvale")));
    EXPECT_EQ(own.size(), 19u);
}

} // namespace mistvale
