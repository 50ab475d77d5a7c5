// Finding records by address among the ones the model lists, and adding a source only to a group
// that is still there.
#include "app/context_menu_rules.h"
#include "app/record_lookup.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"

#include <gtest/gtest.h>
#include <memory>

namespace mistvale {

namespace {

Source* NewSource(const char16_t* name, const char16_t* path) {
    auto* source = new Source();
    source->SetNameAndParameter(WideString(name), WideString(path));
    return source;
}

} // namespace

TEST(RecordLookup, FindsListedRecordsWithCopiesOfTheirFields) {
    MonitorTree tree;
    auto* group = new Group();
    group->SetNameAndParameter(WideString(u"Plc"), WideString(u"ModbusTcpIp/plc1/502"));
    ASSERT_TRUE(tree.AddGroup(group));
    Source* source = NewSource(u"Level", u"100/range");
    ASSERT_TRUE(tree.AddSource(group, source));

    RecordSnapshot snapshot;
    ASSERT_EQ(LookUpRecord(tree, static_cast<Record*>(group), &snapshot), 1);
    EXPECT_EQ(snapshot.kind, RecordKind::Group);
    EXPECT_EQ(snapshot.group, group);
    EXPECT_EQ(snapshot.source, nullptr);
    EXPECT_TRUE(snapshot.name == WideString(u"Plc"));
    EXPECT_TRUE(ContextMenuStateFor(&snapshot).addAllRegisters);

    ASSERT_EQ(LookUpRecord(tree, static_cast<Record*>(source), &snapshot), 1);
    EXPECT_EQ(snapshot.kind, RecordKind::Source);
    EXPECT_EQ(snapshot.group, group);
    EXPECT_EQ(snapshot.source, source);
    EXPECT_TRUE(snapshot.parameter == WideString(u"100/range"));
    EXPECT_FALSE(ContextMenuStateFor(&snapshot).addSource);

    // Addresses the model does not hold are not found (and never read).
    int other = 0;
    EXPECT_EQ(LookUpRecord(tree, &other, &snapshot), 0);
    EXPECT_EQ(LookUpRecord(tree, nullptr, &snapshot), 0);
    Group unlisted;
    EXPECT_EQ(LookUpRecord(tree, static_cast<Record*>(&unlisted), nullptr), 0);
}

TEST(RecordLookup, AddsASourceOnlyToAGroupThatIsStillListed) {
    MonitorTree tree;
    auto* listed = new Group();
    ASSERT_TRUE(tree.AddGroup(listed));
    Source* added = NewSource(u"A", u"1");
    EXPECT_EQ(AddSourceIfListed(tree, listed, added), 1);
    EXPECT_EQ(added->GetGroup(), listed);
    EXPECT_EQ(LookUpRecord(tree, static_cast<Record*>(added), nullptr), 1);

    // A group that left the model: the caller keeps the source.
    Group gone;
    std::unique_ptr<Source> kept(NewSource(u"B", u"2"));
    EXPECT_EQ(AddSourceIfListed(tree, &gone, kept.get()), 0);
    EXPECT_EQ(gone.Sources().Count(), 0u);
    EXPECT_EQ(AddSourceIfListed(tree, nullptr, kept.get()), 0);
}

namespace {

void CountCall(Source&, void* context) {
    ++*static_cast<int*>(context);
}

} // namespace

// The set of the last rebuild finds a painted cell's source without a walk, and is not trusted once
// the worker has removed a record: a source deleted since is never touched (AddressSanitizer would
// see it), one still listed is found the slow way.
TEST(RecordLookup, ListedSourcesOfTheLastRebuildAndRemovalsSinceThen) {
    MonitorTree tree;
    auto* group = new Group();
    ASSERT_TRUE(tree.AddGroup(group));
    Source* kept = NewSource(u"Kept", u"1/graph/0/10");
    Source* removed = NewSource(u"Removed", u"2/range/0/10");
    ASSERT_TRUE(tree.AddSource(group, kept));
    ASSERT_TRUE(tree.AddSource(group, removed));
    ListedSources listed;
    listed.Update(tree);
    int calls = 0;
    EXPECT_EQ(listed.With(tree, static_cast<Record*>(kept), &CountCall, &calls), 1);
    EXPECT_EQ(listed.With(tree, static_cast<Record*>(removed), &CountCall, &calls), 1);
    int other = 0;
    EXPECT_EQ(listed.With(tree, &other, &CountCall, &calls), 0);
    EXPECT_EQ(calls, 2);

    const void* gone = static_cast<Record*>(removed);
    ASSERT_EQ(tree.RemoveSource(removed), 1); // deleted
    EXPECT_EQ(listed.With(tree, gone, &CountCall, &calls), 0);
    EXPECT_EQ(listed.With(tree, static_cast<Record*>(kept), &CountCall, &calls), 1);
    listed.Update(tree);
    EXPECT_EQ(listed.With(tree, gone, &CountCall, &calls), 0);
    EXPECT_EQ(listed.With(tree, static_cast<Record*>(kept), &CountCall, &calls), 1);
    EXPECT_EQ(calls, 4);
}

} // namespace mistvale
