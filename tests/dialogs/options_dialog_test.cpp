// The Options dialog on the application's two values, and the re-arming of the refresh timer.

#include "dialogs/options_dialog.h"
#include "tests/dialogs/dialog_driver.h"

#include <QCheckBox>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace mistvale {

struct RearmLog {
    std::vector<unsigned> intervals;
};

static void Rearm(void* context, unsigned refreshTime) {
    static_cast<RearmLog*>(context)->intervals.push_back(refreshTime);
}

TEST(OptionsDialog, ShowsTheCurrentValues) {
    OptionsDialog dialog;
    unsigned refreshTime = 2;
    unsigned flags = 1;
    RearmLog log;
    WhenShown(dialog, [&] {
        EXPECT_EQ(ItemText(dialog, OptionsDialog::kIdRefreshTime), "2");
        EXPECT_EQ(dialog.IsItemChecked(OptionsDialog::kIdAutoUpdate), 1);
        EXPECT_EQ(ItemText(dialog, OptionsDialog::kIdRefreshLabel), "Refresh Rate");
        EXPECT_EQ(ItemText(dialog, OptionsDialog::kIdSecondsLabel), "Seconds");
        EXPECT_EQ(ItemText(dialog, OptionsDialog::kIdAutoUpdate), "Automatically check for updates");
        ClickItem(dialog, OptionsDialog::kIdCancelButton);
    });
    EXPECT_EQ(dialog.Run(refreshTime, flags, Rearm, &log, nullptr), 0);
    EXPECT_TRUE(log.intervals.empty());
}

TEST(OptionsDialog, OkStoresTheIntervalAndClearsOnlyBitZero) {
    OptionsDialog dialog;
    unsigned refreshTime = 2;
    unsigned flags = 5;
    RearmLog log;
    WhenShown(dialog, [&] {
        EXPECT_EQ(dialog.IsItemChecked(OptionsDialog::kIdAutoUpdate), 1);
        ClickItem(dialog, OptionsDialog::kIdAutoUpdate);
        TypeInto(dialog, OptionsDialog::kIdRefreshTime, QStringLiteral("10"));
        ClickItem(dialog, OptionsDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog.Run(refreshTime, flags, Rearm, &log, nullptr), 1);
    EXPECT_EQ(flags, 4u);
    EXPECT_EQ(refreshTime, 10u);
    ASSERT_EQ(log.intervals.size(), 1u);
    EXPECT_EQ(log.intervals[0], 10u);
}

TEST(OptionsDialog, CheckingTheBoxSetsBitZeroOnly) {
    OptionsDialog dialog;
    unsigned refreshTime = 3;
    unsigned flags = 0x80000000u;
    WhenShown(dialog, [&] {
        EXPECT_EQ(dialog.IsItemChecked(OptionsDialog::kIdAutoUpdate), 0);
        ClickItem(dialog, OptionsDialog::kIdAutoUpdate);
        ClickItem(dialog, OptionsDialog::kIdOkButton);
    });
    // No re-arm handler: OK still stores both values.
    EXPECT_EQ(dialog.Run(refreshTime, flags, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(flags, 0x80000001u);
    EXPECT_EQ(refreshTime, 3u);
}

TEST(OptionsDialog, TextThatIsNoUnsignedNumberStoresZero) {
    for (const char* typed : {"abc", "", "-3", "4294967296", "12abc"}) {
        OptionsDialog dialog;
        unsigned refreshTime = 2;
        unsigned flags = 1;
        RearmLog log;
        WhenShown(dialog, [&] {
            TypeInto(dialog, OptionsDialog::kIdRefreshTime, QString::fromUtf8(typed));
            ClickItem(dialog, OptionsDialog::kIdOkButton);
        });
        EXPECT_EQ(dialog.Run(refreshTime, flags, Rearm, &log, nullptr), 1) << typed;
        EXPECT_EQ(refreshTime, 0u) << typed;
        EXPECT_EQ(flags, 1u) << typed;
        ASSERT_EQ(log.intervals.size(), 1u) << typed;
        EXPECT_EQ(log.intervals[0], 0u) << typed;
    }
}

// Typed key by key, anything but digits is not taken: "0.5" becomes 5 seconds, never 0.
TEST(OptionsDialog, TheRefreshTimeTakesWholeSecondsOnly) {
    const struct {
        const char* keys;
        unsigned stored;
    } cases[] = {{"0.5", 5u}, {"1,5", 15u}, {"-7s", 7u}, {"30", 30u}};
    for (const auto& c : cases) {
        OptionsDialog dialog;
        unsigned refreshTime = 2;
        unsigned flags = 0;
        WhenShown(dialog, [&] {
            auto* edit = dialog.Item<QLineEdit>(OptionsDialog::kIdRefreshTime);
            ASSERT_NE(edit, nullptr);
            edit->selectAll();
            QTest::keyClicks(edit, QString::fromUtf8(c.keys));
            ClickItem(dialog, OptionsDialog::kIdOkButton);
        });
        EXPECT_EQ(dialog.Run(refreshTime, flags, nullptr, nullptr, nullptr), 1) << c.keys;
        EXPECT_EQ(refreshTime, c.stored) << c.keys;
    }
}

TEST(OptionsDialog, LeadingBlanksAreSkipped) {
    OptionsDialog dialog;
    unsigned refreshTime = 2;
    unsigned flags = 0;
    WhenShown(dialog, [&] {
        TypeInto(dialog, OptionsDialog::kIdRefreshTime, QStringLiteral("  4294967295"));
        ClickItem(dialog, OptionsDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog.Run(refreshTime, flags, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(refreshTime, 4294967295u);
}

TEST(OptionsDialog, CancelEscapeAndTheCloseBoxChangeNothing) {
    OptionsDialog dialog;
    unsigned refreshTime = 2;
    unsigned flags = 1;
    RearmLog log;
    for (int how = 0; how < 3; ++how) {
        WhenShown(dialog, [&] {
            TypeInto(dialog, OptionsDialog::kIdRefreshTime, QStringLiteral("99"));
            ClickItem(dialog, OptionsDialog::kIdAutoUpdate);
            if (how == 0)
                ClickItem(dialog, OptionsDialog::kIdCancelButton);
            else if (how == 1)
                QTest::keyClick(dialog.Window(), Qt::Key_Escape);
            else
                dialog.Window()->close();
        });
        EXPECT_EQ(dialog.Run(refreshTime, flags, Rearm, &log, nullptr), 0) << how;
    }
    EXPECT_EQ(refreshTime, 2u);
    EXPECT_EQ(flags, 1u);
    EXPECT_TRUE(log.intervals.empty());
}

} // namespace mistvale
