#include "modbus/connection_path.h"
#include "modbus/register_path.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

RegisterPath Parse(const char16_t* text, int* ok) {
    RegisterPath r;
    *ok = ParseRegisterPath(WideString(text), &r);
    return r;
}

TEST(RegisterPath, FunctionPrefixAndAddress) {
    int ok = 0;
    RegisterPath r = Parse(u"100", &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(r.function, 3u);
    EXPECT_EQ(r.address, 100);
    EXPECT_EQ(r.format, ValueFormat::Decimal);
    r = Parse(u"4#100", &ok);
    EXPECT_EQ(r.function, 4u);
    EXPECT_EQ(r.address, 100);
    r = Parse(u"1#7/hex", &ok);
    EXPECT_EQ(r.function, 1u);
    EXPECT_EQ(r.address, 7);
    EXPECT_EQ(r.format, ValueFormat::Hex);
    r = Parse(u"zz#9", &ok); // not hexadecimal: the code stays 3
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(r.function, 3u);
    EXPECT_EQ(r.address, 9);
    r = Parse(u"#2#5", &ok); // leading '#' skipped
    EXPECT_EQ(r.function, 2u);
    EXPECT_EQ(r.address, 5);
    r = Parse(u"70000", &ok); // low 16 bits
    EXPECT_EQ(r.address, 70000 & 0xFFFF);
    Parse(u"abc/hex", &ok);
    EXPECT_EQ(ok, 0);
    Parse(u"4#", &ok);
    EXPECT_EQ(ok, 0);
    Parse(u"", &ok);
    EXPECT_EQ(ok, 0);
}

TEST(RegisterPath, FormatTokens) {
    int ok = 0;
    EXPECT_EQ(Parse(u"100/HEX", &ok).format, ValueFormat::Hex);
    EXPECT_EQ(Parse(u"100/Float", &ok).format, ValueFormat::Float);
    EXPECT_EQ(Parse(u"100/graph/0/1000", &ok).format, ValueFormat::Decimal);
    RegisterPath r = Parse(u"100/string8", &ok);
    EXPECT_EQ(r.format, ValueFormat::Text);
    EXPECT_EQ(r.textCount, 8u);
    r = Parse(u"100/STRING", &ok);
    EXPECT_EQ(r.format, ValueFormat::Text);
    EXPECT_EQ(r.textCount, 1u);
    r = Parse(u"100/stringx", &ok);
    EXPECT_EQ(r.textCount, 1u);
    r = Parse(u"100/string0", &ok);
    EXPECT_EQ(r.textCount, 0u);
}

// Number types with an optional byte order; a float without one keeps the low-word-first layout of
// older trees, and a word or order nobody knows reads as decimal.
TEST(RegisterPath, NumberTypesAndOrders) {
    const struct {
        const char16_t* path;
        ValueFormat format;
        ByteOrder order;
    } cases[] = {
        {u"1/float", ValueFormat::Float, ByteOrder::Cdab},
        {u"1/FLOAT:ABCD", ValueFormat::Float, ByteOrder::Abcd},
        {u"1/uint16", ValueFormat::UInt16, ByteOrder::Abcd},
        {u"1/Int32:dcba", ValueFormat::Int32, ByteOrder::Dcba},
        {u"1/uint32:badc/0/10", ValueFormat::UInt32, ByteOrder::Badc},
        {u"1/int64", ValueFormat::Int64, ByteOrder::Abcd},
        {u"1/uint64:cdab", ValueFormat::UInt64, ByteOrder::Cdab},
        {u"1/double:cdab", ValueFormat::Double, ByteOrder::Cdab},
        {u"1/bcd", ValueFormat::Bcd, ByteOrder::Abcd},
        {u"1/int32:", ValueFormat::Decimal, ByteOrder::Abcd},
        {u"1/float:xyzw", ValueFormat::Decimal, ByteOrder::Abcd},
        {u"1/int33", ValueFormat::Decimal, ByteOrder::Abcd},
        {u"1/int32x", ValueFormat::Decimal, ByteOrder::Abcd},
    };
    for (const auto& c : cases) {
        int ok = 0;
        const RegisterPath r = Parse(c.path, &ok);
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(r.format, c.format) << WideString(c.path).ToUtf8();
        EXPECT_EQ(r.order, c.order) << WideString(c.path).ToUtf8();
    }
}

TEST(RegisterPath, CellBoundsAndValues) {
    uint32_t min = 9, max = 9;
    RegisterPathBounds(WideString(u"100/graph/0/1000"), &min, &max);
    EXPECT_EQ(min, 0u);
    EXPECT_EQ(max, 1000u);
    RegisterPathBounds(WideString(u"100/range/5"), &min, &max);
    EXPECT_EQ(min, 5u);
    EXPECT_EQ(max, 100u);
    RegisterPathBounds(WideString(u"100/range/x/y"), &min, &max);
    EXPECT_EQ(min, 0u);
    EXPECT_EQ(max, 100u);
    EXPECT_EQ(CellValueOfText(WideString(u"-5")), 4294967291u);
    EXPECT_EQ(CellValueOfText(WideString(u"Can't get value.")), 0u);
    EXPECT_EQ(CellValueOfText(WideString(u"42")), 42u);
}

} // namespace

} // namespace mistvale
