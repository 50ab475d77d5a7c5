#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"
#include "model/tree_rows.h"
#include "model_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mistvale {

namespace {

// The rule as the "/" tokeniser states it: copy the path, take two tokens, compare the second.
int DrawnByTokeniser(const WideString& parameter) {
    WideString rest(parameter);
    WideString token;
    if (!rest.NextToken(token, u"/") || !rest.NextToken(token, u"/"))
        return 0;
    return token.CompareNoCase(u"graph") == 0 || token.CompareNoCase(u"range") == 0 ||
                   token.CompareNoCase(u"color") == 0
               ? 1
               : 0;
}

TEST(DrawnPath, QuotedTokensFollowTheTokeniser) {
    EXPECT_EQ(IsDrawnSourcePath(u"\"1/2\"/graph"), 1);     // a quoted first token may hold the separator
    EXPECT_EQ(IsDrawnSourcePath(u"100/\"Range\"/5"), 1);   // quotes removed, case ignored
    EXPECT_EQ(IsDrawnSourcePath(u"100/\"graph"), 0);       // an unclosed quote stays in the token
    EXPECT_EQ(IsDrawnSourcePath(u"100/\"gr/aph\""), 0);    // the quoted token runs past the '/'
    EXPECT_EQ(IsDrawnSourcePath(u"100/\"color\"x"), 0);    // text after the closing quote stays
    EXPECT_EQ(IsDrawnSourcePath(u"\"1\\\"/x\"/graph"), 1); // an escaped quote does not close
    EXPECT_EQ(IsDrawnSourcePath(u"\"1/graph"), 0);         // unclosed first quote eats the path
    EXPECT_EQ(IsDrawnSourcePath(u"100/\""), 0);
    EXPECT_EQ(IsDrawnSourcePath(u"100/"), 0);
    EXPECT_EQ(IsDrawnSourcePath(u"100//graph"), 0); // the second token is the empty one
    EXPECT_EQ(IsDrawnSourcePath(nullptr, 0), 0);
    EXPECT_EQ(IsDrawnSourcePath(u"1/graph", 4), 0); // only the given units count
    EXPECT_EQ(IsDrawnSourcePath(u"1/color/x", 7), 1);
}

// Every path of up to five pieces over an alphabet of separators, quotes, backslashes and the three
// words gives the same answer in place as through the tokeniser.
TEST(DrawnPath, InPlaceCheckAgreesWithTheTokeniser) {
    const std::vector<std::u16string> pieces = {u"",      u"/",     u"\"",    u"\\",    u"x",
                                                u"graph", u"GrApH", u"range", u"COLOR", u"colo"};
    const int n = static_cast<int>(pieces.size());
    int drawn = 0;
    int checked = 0;
    for (int code = 0; code < n * n * n * n * n; ++code) {
        std::u16string path;
        for (int c = code, k = 0; k < 5; ++k, c /= n)
            path += pieces[static_cast<size_t>(c % n)];
        const WideString parameter(path.c_str());
        const int expected = DrawnByTokeniser(parameter);
        ASSERT_EQ(IsDrawnSourcePath(parameter), expected) << parameter.ToUtf8();
        drawn += expected;
        ++checked;
    }
    EXPECT_GT(drawn, 1000); // the alphabet really produces both answers
    EXPECT_GT(checked - drawn, 1000);
}

TEST(DrawnPath, RecordAccessorsAppendUnderTheLock) {
    Source source;
    source.SetNameAndParameter(u"Flow", u"100/float");
    source.SetValue(u"2.5");
    WideString text(u"x:");
    EXPECT_EQ(source.AppendName(text), 1);
    EXPECT_EQ(source.AppendParameter(text), 1);
    EXPECT_EQ(source.AppendValue(text), 1);
    EXPECT_EQ(text.ToUtf8(), "x:Flow100/float2.5");
    int length = -1;
    EXPECT_EQ(source.WithParameter(
                  [](const char16_t* units, int count, void* context) -> int {
                      *static_cast<int*>(context) = count;
                      return units[0] == u'1' ? 7 : 0;
                  },
                  &length),
              7);
    EXPECT_EQ(length, 9);
}

// The rebuild reuses one text buffer: a short row after a long one keeps nothing of it.
TEST(DrawnPath, ReusedRowBufferLeavesNoTrailOfLongerRows) {
    LockedList groups;
    Group* group = new Group();
    group->SetName(WideString(std::u16string(400, u'G').c_str()));
    groups.Append(group);
    Source* drawn = new Source();
    drawn->SetNameAndParameter(u"", u"1/color");
    drawn->SetGroup(group);
    group->Sources().Append(drawn);
    Source* plain = new Source();
    plain->SetNameAndParameter(u"S", u"1");
    plain->SetValue(WideString(std::u16string(300, u'v').c_str()));
    plain->SetGroup(group);
    group->Sources().Append(plain);
    Source* empty = new Source();
    empty->SetNameAndParameter(u"E", u"1");
    empty->SetGroup(group);
    group->Sources().Append(empty);

    RecordingTree tree;
    FillTreeRows(groups, tree.Sink());
    ASSERT_EQ(tree.items.size(), 4u);
    EXPECT_EQ(tree.items[0].text, std::string(400, 'G') + "\v");
    EXPECT_EQ(tree.items[1].text, "\t\f");
    EXPECT_EQ(tree.items[2].text, "S\t" + std::string(300, 'v'));
    EXPECT_EQ(tree.items[3].text, "E\t");
    EXPECT_EQ(tree.items[2].text, SourceRowText(*plain).ToUtf8());
    groups.DeleteAll();
}

} // namespace

} // namespace mistvale
