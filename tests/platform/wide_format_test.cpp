#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/wide_string.h"

namespace mistvale {

static std::u16string Str(const WideString& s) {
    return std::u16string(s.View());
}

TEST(WideStringFormat, DirectivesTheProgramUses) {
    WideString s;
    ASSERT_EQ(s.Format(u"%s [%u.%02u]", u"Mistvale", 1u, 9u), 1);
    EXPECT_EQ(Str(s), u"Mistvale [1.09]");
    s.Format(u"%hd", static_cast<short>(-1));
    EXPECT_EQ(Str(s), u"-1");
    s.Format(u"%hd", 65535);
    EXPECT_EQ(Str(s), u"-1");
    s.Format(u"0x%04hX", 0x12abcd);
    EXPECT_EQ(Str(s), u"0xABCD");
    s.Format(u"%.3f", 3.14159);
    EXPECT_EQ(Str(s), u"3.142");
    s.Format(u"%I64u|%I64X", static_cast<uint64_t>(18446744073709551615ull),
             static_cast<uint64_t>(0xDEADBEEFCAFEull));
    EXPECT_EQ(Str(s), u"18446744073709551615|DEADBEEFCAFE");
    s.Format(u"%d,%i,%i,%i,%i", 1, -20, 30, 400, -5000);
    EXPECT_EQ(Str(s), u"1,-20,30,400,-5000");
    s.Format(u"ModbusSerial/%s/%c/%s/0x%02X", u"9600", u'E', u"ttyUSB0", 5);
    EXPECT_EQ(Str(s), u"ModbusSerial/9600/E/ttyUSB0/0x05");
    s.Format(u"%s\v", u"Group");
    EXPECT_EQ(Str(s), u"Group\v");
    s.Format(u"%08X|%x|%o|%%|%5d|%-5d|%+d", 0xBEEFu, 255u, 8u, 42, -1, -1);
    EXPECT_EQ(Str(s), u"0000BEEF|ff|10|%|   42|-1   |-1");
}

TEST(WideStringFormat, StringsWidthPrecisionAndNarrowText) {
    WideString s;
    s.Format(u"[%5s][%-5s][%.2s][%*s][%.*s]", u"ab", u"ab", u"abcdef", 4, u"x", 1, u"yz");
    EXPECT_EQ(Str(s), u"[   ab][ab   ][ab][   x][y]");
    s.Format(u"%hs:%hs(%u)", "main.cpp",
             "Gr\xC3\xBC\xC3\x9F"
             "e",
             7u);
    EXPECT_EQ(Str(s), u"main.cpp:Gr\u00FC\u00DFe(7)");
    s.Format(u"%10.10s|%8.8s", u"abcdefghijKLMN", u"ab");
    EXPECT_EQ(Str(s), u"abcdefghij|      ab");
    s.Format(u"%s|%hs", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr));
    EXPECT_EQ(Str(s), u"(null)|(null)");
    s.Format(u"%c%c", u'\u20AC', u'x');
    EXPECT_EQ(Str(s), u"\u20ACx");
    s.Format(u"%s", u"\U0001F600");
    EXPECT_EQ(s.Length(), 2);
}

TEST(WideStringFormat, UnknownAndRefusedDirectives) {
    WideString s;
    int target = 7;
    s.Format(u"a%nb%yc", &target);
    EXPECT_EQ(Str(s), u"ab%yc");
    EXPECT_EQ(target, 7);
    s.Format(u"end%");
    EXPECT_EQ(Str(s), u"end%");
}

TEST(WideStringFormat, ArgumentFromOwnBufferIsReadIntact) {
    WideString s(u"tail");
    ASSERT_EQ(s.Format(u"head/%s/%s", s.Text(), s.Text()), 1);
    EXPECT_EQ(Str(s), u"head/tail/tail");
    EXPECT_EQ(s.Capacity(), 260);
}

TEST(WideStringFormat, GrowsInStepsPastTheDefaultCapacity) {
    std::u16string longText(300, u'x');
    WideString s;
    ASSERT_EQ(s.Format(u"%s!", longText.c_str()), 1);
    EXPECT_EQ(s.Length(), 301);
    EXPECT_EQ(s.Capacity(), 520);
    EXPECT_EQ(Str(s), longText + u"!");

    std::u16string bigger(20000, u'y');
    WideString t;
    ASSERT_EQ(t.Format(u"%s", bigger.c_str()), 1);
    EXPECT_EQ(t.Length(), 20000);
    // 260 steps up to 10,400, then 10,240 steps: 20,640.
    EXPECT_EQ(t.Capacity(), 20640);

    // Output that fits exactly into capacity - 1 needs no growth.
    WideString exact;
    std::u16string fits(259, u'z');
    ASSERT_EQ(exact.Format(u"%s", fits.c_str()), 1);
    EXPECT_EQ(exact.Capacity(), 260);
}

TEST(WideStringFormat, GivesUpPastTheLimit) {
    WideString s(u"previous");
    // Width alone asks for four million units: more than the growth steps allow.
    EXPECT_EQ(s.Format(u"%*s", 4000000, u"x"), 0);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.Capacity(), 260);
    // Just below the limit still succeeds.
    ASSERT_EQ(s.Format(u"%*d", 3000000, 1), 1);
    EXPECT_EQ(s.Length(), 3000000);
    EXPECT_GT(s.Capacity(), 3000000);
    EXPECT_EQ(s.At(2999999), u'1');
    // A huge width is cut, never turned into a negative size.
    EXPECT_EQ(s.Format(u"%2147483647d", 1), 0);
    EXPECT_TRUE(s.IsEmpty());
}

} // namespace mistvale
