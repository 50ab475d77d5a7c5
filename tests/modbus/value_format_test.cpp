#include "modbus/value_format.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

namespace mistvale {

namespace {

TEST(ValueFormat, DecimalAndHexTexts) {
    EXPECT_EQ(FormatDecimalValue(0xFFFF), "-1");
    EXPECT_EQ(FormatDecimalValue(0x8000), "-32768");
    EXPECT_EQ(FormatDecimalValue(32767), "32767");
    EXPECT_EQ(FormatHexValue(255), "0x00FF");
    EXPECT_EQ(FormatHexValue(0xABCD), "0xABCD");
}

// Every 16-bit value, against the C library's "%hd" and "0x%04X".
TEST(ValueFormat, DecimalAndHexOfEveryValueMatchPrintf) {
    for (unsigned item = 0; item <= 0xFFFF; ++item) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%hd", static_cast<short>(item));
        ASSERT_EQ(FormatDecimalValue(static_cast<uint16_t>(item)), expected) << item;
        std::snprintf(expected, sizeof expected, "0x%04X", item);
        ASSERT_EQ(FormatHexValue(static_cast<uint16_t>(item)), expected) << item;
    }
}

TEST(ValueFormat, FloatTextsAreLocaleFree) {
    // A desktop locale with a decimal comma must not change the value text.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(FormatFloatValue(1.0f), "1.000");
    EXPECT_EQ(FormatFloatValue(-2.5f), "-2.500");
    float parsed = 0;
    EXPECT_EQ(ParseTypedFloat(u"1.5", &parsed), 1);
    EXPECT_FLOAT_EQ(parsed, 1.5f);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ValueFormat, FloatSamplesTruncateTowardZero) {
    EXPECT_EQ(FloatSample(-2.7f), -2);
    EXPECT_EQ(FloatSample(2.7f), 2);
    EXPECT_EQ(FloatSample(65537.0f), 1); // low 16 bits
    EXPECT_EQ(FloatSample(NAN), 0);
    EXPECT_EQ(FloatSample(INFINITY), 0);
}

TEST(ValueFormat, RegisterTextStopsAtZeroBytes) {
    std::u16string text;
    AppendRegisterText(&text, 66 << 8 | 65); // "AB"
    EXPECT_EQ(text, u"AB");
    AppendRegisterText(&text, 67); // "C", zero high byte adds nothing
    EXPECT_EQ(text, u"ABC");
    AppendRegisterText(&text, 68 << 8); // zero low byte: nothing at all
    EXPECT_EQ(text, u"ABC");
    AppendRegisterText(&text, 0xE9 << 8 | 0x45); // bytes are character codes 0 to 255
    EXPECT_EQ(text, u"ABCE\u00E9");
}

TEST(ValueFormat, TextEncodingForWriting) {
    std::vector<uint16_t> regs = EncodeTextRegisters(u"ABC");
    ASSERT_EQ(regs.size(), 2u);
    EXPECT_EQ(regs[0], 66 << 8 | 65);
    EXPECT_EQ(regs[1], 67);
    EXPECT_EQ(EncodeTextRegisters(u"ABCD").size(), 2u);
    EXPECT_TRUE(EncodeTextRegisters(u"").empty());
    EXPECT_EQ(EncodeTextRegisters(u"\u0141")[0], 0x41); // low 8 bits of the character
}

TEST(ValueFormat, TypedNumbersReadLikeScanf) {
    uint32_t v = 0;
    EXPECT_EQ(ParseTypedUnsigned(u"65536", &v), 1);
    EXPECT_EQ(v & 0xFFFF, 0u);
    EXPECT_EQ(ParseTypedUnsigned(u"-1", &v), 1);
    EXPECT_EQ(v & 0xFFFF, 0xFFFFu);
    EXPECT_EQ(ParseTypedUnsigned(u"  42xyz", &v), 1);
    EXPECT_EQ(v, 42u);
    EXPECT_EQ(ParseTypedUnsigned(u"abc", &v), 0);
    EXPECT_EQ(ParseTypedUnsigned(u"", &v), 0);
    EXPECT_EQ(ParseTypedUnsigned(u"\u0661", &v), 0); // no digit through a low byte
    EXPECT_EQ(ParseTypedHex(u"0x1F", &v), 1);
    EXPECT_EQ(v, 31u);
    EXPECT_EQ(ParseTypedHex(u"1f", &v), 1);
    EXPECT_EQ(v, 31u);
    EXPECT_EQ(ParseTypedHex(u"0x", &v), 1); // the 0 before the x
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(ParseTypedHex(u"xyz", &v), 0);
    EXPECT_EQ(ParseTypedUnsigned(u"4294967297", &v), 1);
    EXPECT_EQ(v, 1u); // wraps as glibc's scanf does
    EXPECT_EQ(ParseTypedHex(u"123456789", &v), 1);
    EXPECT_EQ(v, 0x23456789u);
    float f = 0;
    EXPECT_EQ(ParseTypedFloat(u"0x1p3", &f), 1);
    EXPECT_FLOAT_EQ(f, 8.0f);
    EXPECT_EQ(ParseTypedFloat(u"  -0.25", &f), 1);
    EXPECT_FLOAT_EQ(f, -0.25f);
    EXPECT_EQ(ParseTypedFloat(u"abc", &f), 0);
    EXPECT_EQ(ParseTypedFloat(u"--1", &f), 0);
    EXPECT_EQ(ParseTypedFloat(u"1e60", &f), 1);
    EXPECT_TRUE(std::isinf(f));
}

// The typed numbers read exactly as the C library's scanf reads them, overflow and odd forms included.
TEST(ValueFormat, TypedNumbersReadAsScanfReadsThem) {
    const char* inputs[] = {"0",
                            "42",
                            " 7",
                            "+5",
                            "-1",
                            "-4294967297",
                            "4294967295",
                            "4294967296",
                            "4294967297",
                            "99999999999",
                            "18446744073709551615",
                            "18446744073709551616",
                            "123456789012345678901234",
                            "0x10",
                            "0X1f",
                            "1f",
                            "ffffffff",
                            "123456789",
                            "fffffffffffffffff",
                            "-0x1",
                            "12abc",
                            "0x1p3",
                            "0x.8p1",
                            "-0x1.8p1",
                            "1e60",
                            "-1e-60",
                            "3.25",
                            ".5",
                            "inf",
                            "-nan",
                            "1e",
                            "0x",
                            "0xg"};
    for (const char* input : inputs) {
        std::u16string text(input, input + std::strlen(input));
        unsigned expected = 0;
        uint32_t got = 0;
        int expectedOk = std::sscanf(input, "%u", &expected) == 1;
        EXPECT_EQ(ParseTypedUnsigned(text, &got), expectedOk) << input;
        EXPECT_TRUE(!expectedOk || got == expected) << "%u " << input << ": " << got;
        expectedOk = std::sscanf(input, "%x", &expected) == 1;
        EXPECT_EQ(ParseTypedHex(text, &got), expectedOk) << input;
        EXPECT_TRUE(!expectedOk || got == expected) << "%x " << input << ": " << got;
        float expectedF = 0, gotF = 0;
        expectedOk = std::sscanf(input, "%f", &expectedF) == 1;
        EXPECT_EQ(ParseTypedFloat(text, &gotF), expectedOk) << input;
        const bool same = std::isnan(expectedF) ? std::isnan(gotF) : gotF == expectedF;
        EXPECT_TRUE(!expectedOk || same) << "%f " << input << ": " << gotF;
    }
}

} // namespace

} // namespace mistvale
