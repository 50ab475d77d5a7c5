#include "model/sample_history.h"
#include "model/source.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

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
