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

TEST(SampleHistory, HoldsTheNewestHundredSamples) {
    SampleHistory history;
    std::vector<std::int16_t> samples;
    history.Append(5); // before creation: nothing
    EXPECT_EQ(history.CopyTo(samples), 0u);
    ASSERT_EQ(history.Create(), 1);
    EXPECT_EQ(history.CopyTo(samples), 0u); // empty right after creation

    for (int i = 1; i <= 150; ++i)
        history.Append(static_cast<std::int16_t>(i));
    ASSERT_EQ(history.CopyTo(samples), 100u);
    EXPECT_EQ(samples.front(), 51);
    EXPECT_EQ(samples.back(), 150);
    for (size_t i = 1; i < samples.size(); ++i)
        EXPECT_EQ(samples[i], samples[i - 1] + 1);
}

TEST(SampleHistory, FillsUpToOneSlotBelowItsCapacity) {
    SampleHistory history;
    ASSERT_EQ(history.Create(), 1);
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 100; ++i)
        history.Append(static_cast<std::int16_t>(-i));
    EXPECT_EQ(history.Count(), 100u);
    history.Append(-100); // the 101st drops the oldest
    ASSERT_EQ(history.CopyTo(samples), 100u);
    EXPECT_EQ(samples.front(), -1);
    EXPECT_EQ(samples.back(), -100);
    EXPECT_EQ(history.Create(), 1); // creating again keeps the samples
    EXPECT_EQ(history.Count(), 100u);
}

TEST(SampleHistory, SourceAppendsOnlyOnceTheHistoryExists) {
    Source source;
    std::vector<std::int16_t> samples;
    EXPECT_EQ(source.AppendSample(1), 0);
    EXPECT_EQ(source.CopySamples(samples), 0u);
    ASSERT_EQ(source.CreateHistory(), 1);
    EXPECT_EQ(source.HistoryCreated(), 1);
    EXPECT_EQ(source.AppendSample(-2), 1);
    EXPECT_EQ(source.AppendSample(3), 1);
    ASSERT_EQ(source.CopySamples(samples), 2u);
    EXPECT_EQ(samples, (std::vector<std::int16_t>{-2, 3}));
}

} // namespace

} // namespace mistvale
