// Old values and the Value cell's tooltip, on real model records.
#include "app/value_status.h"
#include "model/clock_reader.h"
#include "model/group.h"
#include "model/monitor_tree.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

QString ClockText(std::int64_t ms) {
    WideString text;
    EXPECT_EQ(FormatClockTime(ms, text), 1);
    return QString::fromUtf16(text.Text(), text.Length());
}

TEST(ValueStatus, ToolTipSaysWhyAndWhen) {
    Source source;
    EXPECT_EQ(ValueToolTip(source.Outcome(), false), QString()); // never read
    source.SetValue(u"25");
    const SourceOutcome read = source.Outcome();
    EXPECT_EQ(ValueToolTip(read, false), QStringLiteral("Read at ") + ClockText(read.okAtMs));
    EXPECT_EQ(ValueToolTip(read, true), QStringLiteral("Not refreshed since ") + ClockText(read.atMs));

    source.SetFailedValue(u"Can't get value.", "Connection refused by 10.0.0.7:502");
    const SourceOutcome failed = source.Outcome();
    EXPECT_EQ(ValueToolTip(failed, false),
              QStringLiteral("Connection refused by 10.0.0.7:502\nRead at ") + ClockText(read.okAtMs));
    Source never;
    never.SetFailedValue(u"Can't get value.", "Serial port ttyUSB0 is not present");
    EXPECT_EQ(ValueToolTip(never.Outcome(), false), QStringLiteral("Serial port ttyUSB0 is not present"));
}

// A value not read for longer than twice the refresh time plus a second is old; a new read or a new
// failure makes it fresh again, and the next change is when the first fresh value would turn old.
TEST(ValueStatus, StaleAfterTwiceTheRefreshTimePlusOneSecond) {
    MonitorTree tree;
    Group* group = new Group();
    ASSERT_EQ(tree.AddGroup(group), 1);
    Source* a = new Source();
    Source* b = new Source();
    Source* unread = new Source();
    ASSERT_EQ(tree.AddSource(group, a), 1);
    ASSERT_EQ(tree.AddSource(group, b), 1);
    ASSERT_EQ(tree.AddSource(group, unread), 1);
    a->SetValue(u"1");
    b->SetValue(u"2");
    const SteadyTime readAt = a->Outcome().atSteady;

    StaleValues stale;
    EXPECT_EQ(stale.Update(tree, 2, readAt + std::chrono::milliseconds(4900)), 0);
    EXPECT_EQ(stale.Contains(a), 0);
    EXPECT_EQ(stale.NextChange(), readAt + std::chrono::seconds(5));

    b->SetFailedValue(u"Can't get value.", "No reply from slave 1 within 0.5 s");
    const SteadyTime failedAt = b->Outcome().atSteady;
    EXPECT_EQ(stale.Update(tree, 2, readAt + std::chrono::seconds(5)), 1);
    EXPECT_EQ(stale.Contains(a), 1);
    EXPECT_EQ(stale.Contains(b), 0);      // its failure came later: fresh news
    EXPECT_EQ(stale.Contains(unread), 0); // nothing to call old yet
    EXPECT_EQ(stale.NextChange(), failedAt + std::chrono::seconds(5));

    a->SetValue(u"3");
    EXPECT_EQ(stale.Update(tree, 2, readAt + std::chrono::seconds(5)), 1);
    EXPECT_EQ(stale.Contains(a), 0);
    // With a longer refresh time an older value is not old yet.
    EXPECT_EQ(stale.Update(tree, 10, readAt + std::chrono::seconds(20)), 0);
    EXPECT_EQ(stale.Contains(b), 0);
    tree.Stop();
}

} // namespace

} // namespace mistvale
