// Numbers of one, two and four registers in the four byte orders: their encodings checked register by
// register on the simulator's side, read back in one pass over TCP and a serial line, and the typed
// values that do not fit their type refused before anything is sent.
#include "modbus/typed_number.h"
#include "modbus/write_source_value.h"
#include "tests/modbus/test_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace mistvale {

namespace {

const char* const kOrders[] = {"abcd", "cdab", "badc", "dcba"};

std::string FixedThree(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

RegisterPath PathOf(const std::string& text) {
    RegisterPath reg;
    EXPECT_EQ(ParseRegisterPath(WideString::FromUtf8(text.c_str()), &reg), 1) << text;
    return reg;
}

// (type, typed text, registers in each order abcd, cdab, badc, dcba)
TEST(TypedNumber, EveryOrderPutsTheBytesWhereItSays) {
    const struct {
        const char* type;
        const char* typed;
        std::vector<std::vector<uint16_t>> registers;
    } cases[] = {
        {"uint32", "0x12345678", {{0x1234, 0x5678}, {0x5678, 0x1234}, {0x3412, 0x7856}, {0x7856, 0x3412}}},
        {"uint64",
         "0x0102030405060708",
         {{0x0102, 0x0304, 0x0506, 0x0708},
          {0x0708, 0x0506, 0x0304, 0x0102},
          {0x0201, 0x0403, 0x0605, 0x0807},
          {0x0807, 0x0605, 0x0403, 0x0201}}},
        {"float", "1.5", {{0x3FC0, 0x0000}, {0x0000, 0x3FC0}, {0xC03F, 0x0000}, {0x0000, 0xC03F}}},
        // Beyond the range: +inf, as "%f" reads it.
        {"float", "1e400", {{0x7F80, 0x0000}, {0x0000, 0x7F80}, {0x807F, 0x0000}, {0x0000, 0x807F}}},
        {"int32", "-70000", {{0xFFFE, 0xEE90}, {0xEE90, 0xFFFE}, {0xFEFF, 0x90EE}, {0x90EE, 0xFEFF}}},
        {"uint16", "0x1234", {{0x1234}, {0x1234}, {0x3412}, {0x3412}}},
        {"bcd", "1234", {{0x1234}, {0x1234}, {0x3412}, {0x3412}}},
    };
    for (const auto& c : cases) {
        for (int o = 0; o < 4; ++o) {
            const std::string path = std::string("7/") + c.type + ":" + kOrders[o];
            const RegisterPath reg = PathOf(path);
            std::vector<uint16_t> words;
            std::string reason;
            ASSERT_TRUE(EncodeTypedNumber(reg, WideString::FromUtf8(c.typed).ToU16String(), &words, &reason))
                << path << ": " << reason;
            EXPECT_EQ(words, c.registers[static_cast<size_t>(o)]) << path;
        }
    }
    // A float without an order is the older trees' low word first.
    std::vector<uint16_t> words;
    std::string reason;
    ASSERT_TRUE(EncodeTypedNumber(PathOf("7/float"), u"1.5", &words, &reason));
    EXPECT_EQ(words, (std::vector<uint16_t>{0x0000, 0x3FC0}));
}

// (path, typed text, reason); nothing is encoded for any of them.
TEST(TypedNumber, ValuesOutsideTheTypeAreRefused) {
    const struct {
        const char* path;
        const char16_t* typed;
        const char* reason;
    } cases[] = {
        {"1/uint16", u"70000", "70000 does not fit uint16"},
        {"1/uint16", u"-1", "-1 does not fit uint16"},
        {"1/uint32", u"4294967296", "4294967296 does not fit uint32"},
        {"1/int32", u"2147483648", "2147483648 does not fit int32"},
        {"1/int32", u" -2147483649 ", "-2147483649 does not fit int32"},
        {"1/int64", u"9223372036854775808", "9223372036854775808 does not fit int64"},
        {"1/uint64", u"18446744073709551616", "18446744073709551616 does not fit uint64"},
        {"1/uint64", u"-5", "-5 does not fit uint64"},
        {"1/bcd", u"10000", "10000 does not fit bcd"},
        {"1/int32", u"12abc", "Not a number for this format"},
        {"1/int64", u"", "Not a number for this format"},
        {"1/uint32", u"0x", "Not a number for this format"},
        {"1/double", u"x1", "Not a number for this format"},
    };
    for (const auto& c : cases) {
        std::vector<uint16_t> words;
        std::string reason;
        EXPECT_FALSE(EncodeTypedNumber(PathOf(c.path), c.typed, &words, &reason)) << c.path;
        EXPECT_EQ(reason, c.reason) << c.path;
        EXPECT_TRUE(words.empty()) << c.path;
    }
}

// Samples of values without a 16-bit form are defined for every value, NaN and 1e300 among them.
TEST(TypedNumber, SamplesSaturateToThirtyTwoBitsThenKeepTheLowHalf) {
    EXPECT_EQ(SaturatedSample(1e300), -1); // 0x7FFFFFFF
    EXPECT_EQ(SaturatedSample(-1e300), 0); // 0x80000000
    EXPECT_EQ(SaturatedSample(std::nan("")), 0);
    EXPECT_EQ(SaturatedSample(-2.7), -2);
    EXPECT_EQ(SaturatedSample(int64_t{-70000}), static_cast<int16_t>(0xEE90));
    EXPECT_EQ(SaturatedSample(INT64_MAX), -1);
    // A BCD register with a nibble above 9 holds no value of the type.
    std::string text, reason;
    int16_t sample = 0;
    const uint16_t bad = 0x12A4;
    EXPECT_FALSE(FormatTypedNumber(PathOf("1/bcd"), &bad, &text, &sample, &reason));
    EXPECT_EQ(reason, "The register holds 0x12A4, which is not four BCD digits");
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<uint16_t> words;
    ASSERT_TRUE(EncodeTypedNumber(PathOf("1/double"), u"-1e400", &words, &reason));
    ASSERT_TRUE(FormatTypedNumber(PathOf("1/double"), words.data(), &text, &sample, &reason));
    EXPECT_EQ(text, FixedThree(-inf));
}

// Every type in every order written to a device and read back in one pass, over TCP and a serial line.
class TypedDevice : public ::testing::TestWithParam<bool> {};

TEST_P(TypedDevice, EveryTypeInEveryOrderWritesAndReadsBack) {
    EitherLine line;
    ASSERT_TRUE(line.Start(GetParam(), R"(<Simulator><Device slave="1"/></Simulator>)", 1));
    const struct {
        const char* type;
        const char* typed;
        std::string shown;
    } values[] = {
        {"uint16", "65535", "65535"},
        {"bcd", "9876", "9876"},
        {"int32", "305419896", "305419896"},
        {"int32", "-70000", "-70000"},
        {"uint32", "4294967295", "4294967295"},
        {"int64", "9223372036854775807", "9223372036854775807"},
        {"int64", "-9223372036854775808", "-9223372036854775808"},
        {"uint64", "18446744073709551615", "18446744073709551615"},
        {"float", "1.5", "1.500"},
        {"float", "-2.25e3", "-2250.000"},
        {"double", "1e300", FixedThree(1e300)},
        {"double", "-0.0625", FixedThree(-0.0625)},
    };
    Group group;
    group.SetParameter(WideString::FromUtf8(line.connection.c_str()));
    TestGroup reader(line.connection);
    unsigned address = 100;
    for (const char* order : kOrders) {
        for (const auto& v : values) {
            const std::string path = std::to_string(address) + "/" + v.type + ":" + order;
            address += 4;
            Source writer;
            writer.SetParameter(WideString::FromUtf8(path.c_str()));
            const size_t before = line.sim->ReadLog().size();
            ASSERT_EQ(WriteSourceValue(group, writer, WideString::FromUtf8(v.typed)), 1)
                << path << ": " << writer.Outcome().reason;
            // A value of several registers is one request.
            EXPECT_EQ(line.sim->ReadLog().size(), before + 1) << path;
            reader.Add(path);
        }
    }
    // int32 305419896 (0x12345678) written as dcba: bytes DC, BA on the device.
    EXPECT_EQ(line.sim->Command("get hr 252"), "30806");
    EXPECT_EQ(line.sim->Command("get hr 253"), "13330");
    reader.Pass();
    size_t i = 0;
    for (const char* order : kOrders)
        for (const auto& v : values) {
            EXPECT_EQ(reader.Value(i), v.shown) << v.type << ":" << order << " " << v.typed;
            ++i;
        }
    // The simulator's own registers: int32 0x12345678 as dcba, and a float as older trees wrote it.
    ASSERT_TRUE(line.sim->Ok("set hr 20 30806")); // 0x7856
    ASSERT_TRUE(line.sim->Ok("set hr 21 13330")); // 0x3412
    ASSERT_TRUE(line.sim->Ok("set hr 30 0"));
    ASSERT_TRUE(line.sim->Ok("set hr 31 16320")); // 0x3FC0
    ASSERT_TRUE(line.sim->Ok("set hr 40 4772"));  // 0x12A4: no BCD
    TestGroup raw(line.connection);
    raw.Add("20/int32:dcba");
    raw.Add("30/float");
    raw.Add("40/bcd");
    raw.Pass();
    EXPECT_EQ(raw.Value(0), "305419896");
    EXPECT_EQ(raw.Value(1), "1.500");
    EXPECT_EQ(raw.Value(2), "Can't get value.");
    EXPECT_EQ(raw.Reason(2), "The register holds 0x12A4, which is not four BCD digits");
}

INSTANTIATE_TEST_SUITE_P(Lines, TypedDevice, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Rtu" : "Tcp"; });

} // namespace

} // namespace mistvale
