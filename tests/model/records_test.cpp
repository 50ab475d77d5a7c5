#include "model/group.h"
#include "model/sample_history.h"
#include "model/source.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

struct CountingSource : Source {
    explicit CountingSource(int* deleted) : deleted(deleted) {}
    ~CountingSource() override { ++*deleted; }
    int* deleted;
};

TEST(Records, NewRecordsHaveTheirInitialValues) {
    Group group;
    EXPECT_EQ(group.Kind(), RecordKind::Group);
    EXPECT_EQ(group.Name().ToUtf8(), "Group");
    EXPECT_EQ(group.Parameter().ToUtf8(), "Clock");
    EXPECT_EQ(group.Sources().Count(), 0u);

    Source source;
    EXPECT_EQ(source.Kind(), RecordKind::Source);
    EXPECT_EQ(source.Name().ToUtf8(), "Source");
    EXPECT_TRUE(source.Parameter().IsEmpty());
    EXPECT_TRUE(source.Value().IsEmpty());
    EXPECT_EQ(source.GetGroup(), nullptr);
    EXPECT_EQ(source.HistoryCreated(), 0);
}

TEST(Records, KindTellsTheRecordsApart) {
    Group group;
    Source source;
    Record* asGroup = &group;
    Record* asSource = &source;
    EXPECT_EQ(AsGroup(asGroup), &group);
    EXPECT_EQ(AsSource(asGroup), nullptr);
    EXPECT_EQ(AsSource(asSource), &source);
    EXPECT_EQ(AsGroup(asSource), nullptr);
    EXPECT_EQ(AsGroup(nullptr), nullptr);
}

TEST(Records, FieldsAreCopiesIndependentOfLaterEdits) {
    Source source;
    source.SetNameAndParameter(u"Flow", u"100/float");
    WideString before = source.Parameter();
    source.SetParameter(u"200/hex");
    source.SetValue(u"12.5");
    WideString value = source.Value();
    source.SetValue(u"Can't get value.");
    EXPECT_EQ(before.ToUtf8(), "100/float");
    EXPECT_EQ(source.Parameter().ToUtf8(), "200/hex");
    EXPECT_EQ(source.Name().ToUtf8(), "Flow");
    EXPECT_EQ(value.ToUtf8(), "12.5");
    EXPECT_EQ(source.Value().ToUtf8(), "Can't get value.");
}

TEST(Records, DeletingAGroupDeletesItsSources) {
    int deleted = 0;
    Group* group = new Group();
    for (int i = 0; i < 3; ++i) {
        Source* source = new CountingSource(&deleted);
        source->SetGroup(group);
        group->Sources().Append(source);
    }
    delete static_cast<ListItem*>(group); // through the base, as the lists do
    EXPECT_EQ(deleted, 3);
}

} // namespace

} // namespace mistvale
