#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"
#include "model/tree_rows.h"
#include "model_test_support.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

Source* AddSourceTo(Group* group, const char16_t* name, const char16_t* parameter,
                    const char16_t* value = u"") {
    Source* source = new Source();
    source->SetNameAndParameter(name, parameter);
    source->SetValue(value);
    source->SetGroup(group);
    group->Sources().Append(source);
    return source;
}

Group* AddGroupTo(LockedList& groups, const char16_t* name) {
    Group* group = new Group();
    group->SetName(name);
    groups.Append(group);
    return group;
}

TEST(TreeRows, DrawnFormatIsTheSecondTokenInAnyCase) {
    EXPECT_EQ(IsDrawnSourcePath(u"100/graph/0/1000"), 1);
    EXPECT_EQ(IsDrawnSourcePath(u"100/Graph"), 1);
    EXPECT_EQ(IsDrawnSourcePath(u"4#30/RANGE/5/5"), 1);
    EXPECT_EQ(IsDrawnSourcePath(u"7/color"), 1);
    EXPECT_EQ(IsDrawnSourcePath(u"graph"), 0);      // no register token before it
    EXPECT_EQ(IsDrawnSourcePath(u"/graph"), 1);     // an empty first token is still a token
    EXPECT_EQ(IsDrawnSourcePath(u"100/graphs"), 0); // whole token only
    EXPECT_EQ(IsDrawnSourcePath(u"100/hex/graph"), 0);
    EXPECT_EQ(IsDrawnSourcePath(u"100/\"graph\""), 1); // quotes are removed from tokens
    EXPECT_EQ(IsDrawnSourcePath(u""), 0);
}

TEST(TreeRows, RowTextsFollowTheColumnConvention) {
    Group group;
    group.SetName(u"Boiler 100%");
    EXPECT_EQ(GroupRowText(group).ToUtf8(), "Boiler 100%\v");

    Source textSource;
    textSource.SetNameAndParameter(u"Flow %s", u"100/float");
    textSource.SetValue(u"1.000");
    EXPECT_EQ(SourceRowText(textSource).ToUtf8(), "Flow %s\t1.000");

    Source graphSource;
    graphSource.SetNameAndParameter(u"Trend", u"100/graph/0/1000");
    graphSource.SetValue(u"25");
    EXPECT_EQ(SourceRowText(graphSource).ToUtf8(), "Trend\t\f");
    // A failed read shows as its text, never as a picture of an old or made-up value; the next
    // successful read brings the picture back.
    graphSource.SetFailedValue(u"Can't get value.", "No reply from slave 5 within 0.5 s");
    EXPECT_EQ(SourceRowText(graphSource).ToUtf8(), "Trend\tCan't get value.");
    graphSource.SetValue(u"-3");
    EXPECT_EQ(SourceRowText(graphSource).ToUtf8(), "Trend\t\f");

    Source empty;
    empty.SetName(u"");
    EXPECT_EQ(SourceRowText(empty).ToUtf8(), "\t");
}

TEST(TreeRows, FillBuildsGroupsWithTheirSourcesExpanded) {
    LockedList groups;
    Group* boiler = AddGroupTo(groups, u"Boiler");
    Source* flow = AddSourceTo(boiler, u"Flow", u"100/float", u"2.500");
    Source* trend = AddSourceTo(boiler, u"Trend", u"100/Graph", u"7");
    Group* empty = AddGroupTo(groups, u"Empty");

    RecordingTree tree;
    FillTreeRows(groups, tree.Sink());
    ASSERT_EQ(tree.items.size(), 4u);
    EXPECT_EQ(tree.items[0].text, "Boiler\v");
    EXPECT_EQ(tree.items[0].parent, -1);
    EXPECT_EQ(tree.items[0].icon, kGroupIcon);
    EXPECT_EQ(tree.items[0].hasChildren, 1);
    EXPECT_EQ(tree.items[0].data, boiler);
    EXPECT_TRUE(tree.items[0].expanded);
    EXPECT_EQ(tree.items[1].text, "Flow\t2.500");
    EXPECT_EQ(tree.items[1].parent, 0);
    EXPECT_EQ(tree.items[1].icon, kSourceIcon);
    EXPECT_EQ(tree.items[1].data, flow);
    EXPECT_EQ(tree.items[2].text, "Trend\t\f");
    EXPECT_EQ(tree.items[2].data, trend);
    EXPECT_EQ(tree.items[3].text, "Empty\v");
    EXPECT_EQ(tree.items[3].hasChildren, 0); // no expand button without sources
    EXPECT_EQ(tree.items[3].data, empty);
    EXPECT_EQ(tree.redrawDepth, 0);
    EXPECT_EQ(tree.calls.front(), "redraw-off");
    EXPECT_EQ(tree.calls[1], "get-selected");
    EXPECT_EQ(tree.calls[2], "delete-all");
    EXPECT_EQ(tree.calls.back(), "redraw-on");
    EXPECT_EQ(tree.selectedIndex, -1); // nothing was selected
    EXPECT_EQ(tree.scrolledIndex, -2);

    // The rows come afresh from the model at every rebuild, and every group is expanded again.
    flow->SetValue(u"3.000");
    tree.items[0].expanded = false;
    FillTreeRows(groups, tree.Sink());
    ASSERT_EQ(tree.items.size(), 4u);
    EXPECT_EQ(tree.items[1].text, "Flow\t3.000");
    EXPECT_TRUE(tree.items[0].expanded);
}

TEST(TreeRows, SelectionFollowsTheRecordAndIsClearedWhenItIsGone) {
    LockedList groups;
    Group* first = AddGroupTo(groups, u"First");
    Group* second = AddGroupTo(groups, u"Second");
    Source* kept = AddSourceTo(second, u"Kept", u"1");
    Source* doomed = AddSourceTo(second, u"Doomed", u"2");

    RecordingTree tree;
    tree.selectedData = kept;
    FillTreeRows(groups, tree.Sink());
    ASSERT_GE(tree.selectedIndex, 0);
    EXPECT_EQ(tree.items[tree.selectedIndex].data, kept);
    EXPECT_EQ(tree.scrolledIndex, tree.selectedIndex);

    ASSERT_EQ(second->Sources().Unlink(doomed), 1);
    tree.selectedData = doomed;
    delete doomed;
    tree.scrolledIndex = -2;
    FillTreeRows(groups, tree.Sink());
    EXPECT_EQ(tree.selectedIndex, -1); // the record is gone: nothing is selected
    EXPECT_EQ(tree.scrolledIndex, -2);
    EXPECT_EQ(tree.items.size(), 3u);
    (void)first;
}

TEST(TreeRows, AGroupThatCannotBeInsertedIsSkippedWithItsSources) {
    LockedList groups;
    Group* bad = AddGroupTo(groups, u"FAIL here");
    AddSourceTo(bad, u"Lost", u"1");
    Group* good = AddGroupTo(groups, u"Good");
    AddSourceTo(good, u"Shown", u"2");

    RecordingTree tree;
    tree.failRootInsertsNamed = 1;
    FillTreeRows(groups, tree.Sink());
    ASSERT_EQ(tree.items.size(), 2u);
    EXPECT_EQ(tree.items[0].text, "Good\v");
    EXPECT_EQ(tree.items[1].text, "Shown\t");
    EXPECT_EQ(tree.items[1].parent, 0);
}

TEST(TreeRows, MissingHandlersAreSkipped) {
    LockedList groups;
    AddSourceTo(AddGroupTo(groups, u"G"), u"S", u"1");
    int inserts = 0;
    TreeSink sink{};
    sink.context = &inserts;
    sink.insertItem = [](void* c, void*, const WideString&, int, int, Record*) -> void* {
        ++*static_cast<int*>(c);
        return c;
    };
    FillTreeRows(groups, sink);
    EXPECT_EQ(inserts, 2);
}

} // namespace

} // namespace mistvale
