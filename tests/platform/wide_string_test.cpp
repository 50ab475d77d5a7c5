#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wide_string.h"

namespace mistvale {

static std::u16string Str(const WideString& s) {
    return std::u16string(s.View());
}

// Takes every token NextToken produces from text.
static std::vector<std::u16string> Tokens(const char16_t* text, const char16_t* separators, bool skip = false,
                                          bool keepQuotes = false) {
    WideString rest(text);
    WideString token;
    std::vector<std::u16string> out;
    while (rest.NextToken(token, separators, skip, keepQuotes)) {
        out.push_back(Str(token));
        if (out.size() > 100)
            break;
    }
    return out;
}

TEST(WideStringBasics, NewStringIsEmptyWithDefaultCapacity) {
    WideString s;
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.Length(), 0);
    EXPECT_EQ(s.Capacity(), 260);
    EXPECT_EQ(s.Text()[0], u'\0');
    WideString zero(0);
    EXPECT_EQ(zero.Capacity(), 1);
    EXPECT_EQ(zero.Append(u"abc"), 1);
    EXPECT_EQ(Str(zero), u"abc");
}

TEST(WideStringBasics, AppendGrowsByTwentyAndAppendCharByTwentyTwo) {
    WideString s(4);
    ASSERT_EQ(s.Append(u"abcdef"), 1);
    EXPECT_EQ(Str(s), u"abcdef");
    EXPECT_EQ(s.Capacity(), 6 + 1 + 20);
    WideString c(1);
    ASSERT_EQ(c.AppendChar(u'x'), 1);
    EXPECT_EQ(c.Capacity(), 0 + 22);
    EXPECT_EQ(Str(c), u"x");
    EXPECT_EQ(s.Append(static_cast<const char16_t*>(nullptr)), 1);
    EXPECT_EQ(Str(s), u"abcdef");
}

TEST(WideStringBasics, AppendAndInsertOfOwnTextSurviveReallocation) {
    WideString s(8);
    s.Assign(u"abcdefg");
    ASSERT_EQ(s.Append(s.Text() + 2), 1);
    EXPECT_EQ(Str(s), u"abcdefgcdefg");
    ASSERT_EQ(s.Insert(1, s.Text() + 10), 1);
    EXPECT_EQ(Str(s), u"afgbcdefgcdefg");
    s.Append(s);
    EXPECT_EQ(Str(s), u"afgbcdefgcdefgafgbcdefgcdefg");
    s.Assign(s.Text() + 3);
    EXPECT_EQ(Str(s), u"bcdefgcdefgafgbcdefgcdefg");
}

TEST(WideStringBasics, CopyMoveAndReset) {
    WideString a(u"hello");
    WideString b(a);
    WideString c(std::move(a));
    EXPECT_EQ(Str(b), u"hello");
    EXPECT_EQ(Str(c), u"hello");
    EXPECT_TRUE(a.IsEmpty()); // NOLINT: moved-from strings are empty and usable
    a.Append(u"again");
    EXPECT_EQ(Str(a), u"again");
    b = c;
    c = std::move(a);
    EXPECT_EQ(Str(b), u"hello");
    EXPECT_EQ(Str(c), u"again");
    WideString big(5000);
    big.Assign(u"x");
    big.Reset();
    EXPECT_EQ(big.Capacity(), 260);
    EXPECT_TRUE(big.IsEmpty());
    EXPECT_TRUE(b == u"hello");
    EXPECT_FALSE(b == u"hell");
}

TEST(WideStringBasics, EnsureTrailingChar) {
    WideString s(u"/home/user/");
    s.EnsureTrailingChar(u'/');
    EXPECT_EQ(Str(s), u"/home/user/");
    s.Assign(u"C:\\data");
    s.EnsureTrailingChar(u'\\');
    s.EnsureTrailingChar(u'\\');
    EXPECT_EQ(Str(s), u"C:\\data\\");
    WideString empty;
    empty.EnsureTrailingChar(u'\\');
    EXPECT_EQ(Str(empty), u"\\");
}

TEST(WideStringEditing, DeleteMidTruncateInsertStayInsideTheText) {
    WideString s(u"0123456789");
    s.Delete(8, 100);
    EXPECT_EQ(Str(s), u"01234567");
    s.Delete(8, 1);
    s.Delete(-1, 3);
    EXPECT_EQ(Str(s), u"01234567");
    s.Delete(2, 3);
    EXPECT_EQ(Str(s), u"01567");
    s.Mid(1, 100);
    EXPECT_EQ(Str(s), u"1567");
    s.Mid(10, 2);
    EXPECT_EQ(Str(s), u"");
    s.Assign(u"abcdef");
    s.Mid(2, 2);
    EXPECT_EQ(Str(s), u"cd");
    s.TruncateAt(5);
    EXPECT_EQ(Str(s), u"cd");
    s.TruncateAt(1);
    EXPECT_EQ(Str(s), u"c");
    s.Insert(99, u"Z");
    s.Insert(0, u"A");
    s.Insert(1, u"-");
    EXPECT_EQ(Str(s), u"A-cZ");
}

TEST(WideStringSearch, FindCharAndFindNoCase) {
    WideString s(u"STRING and string");
    EXPECT_EQ(s.FindNoCase(u"string"), 0);
    EXPECT_EQ(s.FindNoCase(u"string", 1), 11);
    EXPECT_EQ(s.FindNoCase(u"AND"), 7);
    EXPECT_EQ(s.FindNoCase(u"strings"), -1);
    EXPECT_EQ(s.FindNoCase(u"s", s.Length()), -1);
    EXPECT_EQ(s.FindNoCase(u"s", -1), -1);
    EXPECT_EQ(s.FindChar(u'a'), 7);
    EXPECT_EQ(s.FindChar(u'q'), -1);
    WideString umlaut(u"\u00C4pfel");
    EXPECT_EQ(umlaut.FindNoCase(u"\u00E4pfel"), -1);
}

TEST(WideStringCompare, CaseFoldingIsAsciiOnly) {
    WideString graph(u"Graph");
    EXPECT_EQ(graph.CompareNoCase(u"graph"), 0);
    EXPECT_NE(graph.Compare(u"graph"), 0);
    WideString upperUmlaut(u"\u00C4");
    EXPECT_NE(upperUmlaut.CompareNoCase(u"\u00E4"), 0);
    EXPECT_LT(WideString(u"abc").CompareNoCase(u"ABD"), 0);
    EXPECT_GT(WideString(u"abd").CompareNoCase(u"ABC"), 0);
    // "[" lies between upper and lower case letters: folding to lower puts it before "a".
    EXPECT_LT(WideString(u"[").CompareNoCase(u"A"), 0);
    EXPECT_EQ(WideString(u"RANGE/5").CompareNoCaseN(u"range/9", 5), 0);
    EXPECT_NE(WideString(u"RANGE/5").CompareNoCaseN(u"range/9", 7), 0);
    EXPECT_EQ(WideString(u"ab").CompareNoCaseN(u"AB", 10), 0);
    EXPECT_LT(WideString(u"a").Compare(u"b"), 0);
    EXPECT_GT(WideString(u"\uFFFF").Compare(u"a"), 0);
}

TEST(WideStringCompare, MissingTextComparesAsMinusOneUnlessEmpty) {
    WideString empty;
    WideString text(u"x");
    EXPECT_EQ(empty.Compare(nullptr), 0);
    EXPECT_EQ(text.Compare(nullptr), -1);
    EXPECT_EQ(empty.CompareNoCase(nullptr), 0);
    EXPECT_EQ(text.CompareNoCase(nullptr), -1);
    EXPECT_EQ(empty.CompareNoCaseN(nullptr, 3), 0);
    EXPECT_EQ(text.CompareNoCaseN(nullptr, 3), -1);
}

TEST(WideStringCompare, NaturalOrderComparesDigitRunsAsNumbers) {
    EXPECT_EQ(WideString(u"ttyUSB2").CompareNatural(u"ttyUSB10"), -1);
    EXPECT_EQ(WideString(u"ttyUSB10").CompareNatural(u"ttyUSB2"), 1);
    EXPECT_EQ(WideString(u"Device 5").CompareNatural(u"device 5"), 0);
    EXPECT_EQ(WideString(u"a100b").CompareNatural(u"a99c"), 1);
    EXPECT_EQ(WideString(u"x12y3").CompareNatural(u"x12y20"), -1);
    EXPECT_EQ(WideString(u"abc").CompareNatural(u"abcd"), -1);
    EXPECT_EQ(WideString(u"\u00C4rger").CompareNatural(u"\u00E4rger"), 0);
    EXPECT_EQ(WideString(u"99999999999999999999999").CompareNatural(u"100000000000000000000000"), -1);
    // Equal numbers with different leading zeros still have a stable order.
    int a = WideString(u"007").CompareNatural(u"7");
    int b = WideString(u"7").CompareNatural(u"007");
    EXPECT_NE(a, 0);
    EXPECT_EQ(a, -b);
}

TEST(WideStringTokens, SerialPathWithEmptyToken) {
    std::vector<std::u16string> expected = {u"ModbusSerial", u"9600", u"E", u"", u"0x01"};
    EXPECT_EQ(Tokens(u"ModbusSerial/9600/E//0x01", u"/"), expected);
}

TEST(WideStringTokens, QuotedTokenKeepsSeparatorsAndLosesQuotes) {
    std::vector<std::u16string> expected = {u"a/b", u"c"};
    EXPECT_EQ(Tokens(u"\"a/b\"/c", u"/"), expected);
    std::vector<std::u16string> kept = {u"\"a/b\"", u"c"};
    EXPECT_EQ(Tokens(u"\"a/b\"/c", u"/", false, true), kept);
}

TEST(WideStringTokens, EscapedQuoteStaysWithItsBackslash) {
    std::vector<std::u16string> expected = {u"x\\\"/y", u"z"};
    EXPECT_EQ(Tokens(u"\"x\\\"/y\"/z", u"/"), expected);
}

TEST(WideStringTokens, TrailingLeadingAndUnclosedQuotes) {
    EXPECT_EQ(Tokens(u"a/", u"/"), std::vector<std::u16string>{u"a"});
    std::vector<std::u16string> leading = {u"", u"a"};
    EXPECT_EQ(Tokens(u"/a", u"/"), leading);
    EXPECT_EQ(Tokens(u"//a", u"/", true), std::vector<std::u16string>{u"a"});
    EXPECT_EQ(Tokens(u"\"", u"/"), std::vector<std::u16string>{u""});
    EXPECT_EQ(Tokens(u"\"ab/cd", u"/"), std::vector<std::u16string>{u"\"ab/cd"});
    std::vector<std::u16string> afterQuote = {u"\"q\"r", u"s"};
    EXPECT_EQ(Tokens(u"\"q\"r/s", u"/"), afterQuote);
    EXPECT_TRUE(Tokens(u"", u"/").empty());
    EXPECT_TRUE(Tokens(u"///", u"/", true).empty());
}

TEST(WideStringTokens, UsedUpStringLeavesTokenUnchanged) {
    WideString rest(u"one");
    WideString token;
    ASSERT_EQ(rest.NextToken(token, u"/"), 1);
    EXPECT_EQ(Str(token), u"one");
    EXPECT_TRUE(rest.IsEmpty());
    EXPECT_EQ(rest.NextToken(token, u"/"), 0);
    EXPECT_EQ(Str(token), u"one");
}

TEST(WideStringTokenize, SplitsInPlaceAndSkipsEmptyTokens) {
    WideString path(u"\\\\Groups\\\\Group\\");
    const char16_t* first = path.Tokenize(true, u"\\");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::u16string(first), u"Groups");
    EXPECT_EQ(Str(path), u"Groups");
    const char16_t* second = path.Tokenize(false, u"\\");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::u16string(second), u"Group");
    EXPECT_EQ(path.Tokenize(false, u"\\"), nullptr);
    EXPECT_EQ(path.Tokenize(false, u"\\"), nullptr);
}

TEST(WideStringTokenize, StateBelongsToEachStringAndEndsWithAChange) {
    WideString a(u"a1\ta2");
    WideString b(u"b1\tb2");
    EXPECT_EQ(std::u16string(a.Tokenize(true, u"\t")), u"a1");
    EXPECT_EQ(std::u16string(b.Tokenize(true, u"\t")), u"b1");
    EXPECT_EQ(std::u16string(a.Tokenize(false, u"\t")), u"a2");
    EXPECT_EQ(std::u16string(b.Tokenize(false, u"\t")), u"b2");
    WideString c(u"x y z");
    c.Tokenize(true, u" ");
    c.Append(u"!");
    EXPECT_EQ(c.Tokenize(false, u" "), nullptr);
    EXPECT_EQ(Str(c), u"x!");
    WideString none(u"   ");
    EXPECT_EQ(none.Tokenize(true, u" "), nullptr);
    EXPECT_EQ(none.Tokenize(false, u" "), nullptr);
    EXPECT_TRUE(none.IsEmpty());
}

TEST(WideStringReadLine, LinesWithoutLineEndings) {
    WideString text(u"first\r\n\rsecond\n\nlast");
    WideString line;
    std::vector<std::u16string> lines;
    bool first = true;
    while (text.ReadLine(line, first)) {
        lines.push_back(Str(line));
        first = false;
    }
    std::vector<std::u16string> expected = {u"first", u"second", u"", u"last"};
    EXPECT_EQ(lines, expected);
    ASSERT_EQ(text.ReadLine(line, true), 1);
    EXPECT_EQ(Str(line), u"first");
    WideString empty;
    EXPECT_EQ(empty.ReadLine(line, true), 0);
}

TEST(WideStringConvert, ToBytesKeepsTheLowByte) {
    WideString s(u"A\u0142\u00FF");
    const char* bytes = s.ToBytes();
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes), std::string("A\x42\xFF"));
}

TEST(WideStringConvert, Utf8RoundTripWithSurrogatePairs) {
    const char* utf8 = "Gr\xC3\xBC\xC3\x9F"
                       "e \xE2\x82\xAC \xF0\x9F\x98\x80";
    WideString s;
    ASSERT_EQ(s.AssignUtf8(utf8), 1);
    EXPECT_EQ(Str(s), u"Gr\u00FC\u00DFe \u20AC \U0001F600");
    EXPECT_EQ(s.Length(), 10);
    EXPECT_EQ(s.ToUtf8(), std::string(utf8));
    ASSERT_NE(s.ToAnsi(), nullptr);
    EXPECT_EQ(std::string(s.ToAnsi()), std::string(utf8));
    WideString counted;
    ASSERT_EQ(counted.AssignAnsi("abcdef", 3), 1);
    EXPECT_EQ(Str(counted), u"abc");
}

TEST(WideStringConvert, InvalidInputFailsCleanly) {
    WideString s(u"old");
    // overlong '/', a lone continuation byte, an encoded surrogate, a cut sequence, above U+10FFFF
    const char* invalid[] = {"\xC0\xAF", "a\x80", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80"};
    for (const char* text : invalid) {
        s.Assign(u"old");
        EXPECT_EQ(s.AssignUtf8(text), 0) << text;
        EXPECT_TRUE(s.IsEmpty());
    }
    WideString lone(u"a\xD800z");
    EXPECT_EQ(lone.ToAnsi(), nullptr);
    EXPECT_EQ(lone.ToUtf8(), std::string("a\xEF\xBF\xBDz"));
}

TEST(WideStringConvert, RawAndUnknownCodePages) {
    WideString s;
    ASSERT_EQ(s.AssignAnsi("\xC4\x80", -1, WideString::kCodePageRaw), 1);
    EXPECT_EQ(Str(s), u"\u00C4\u0080");
    ASSERT_EQ(s.AssignAnsi("\xC3\x84", -1, 1252), 1);
    EXPECT_EQ(Str(s), u"\u00C4");
    ASSERT_EQ(s.AssignAnsi(nullptr), 1);
    EXPECT_TRUE(s.IsEmpty());
}

} // namespace mistvale
