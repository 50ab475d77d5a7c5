// The Source dialog: the two texts are shown and stored exactly as typed.

#include "dialogs/source_dialog.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "tests/dialogs/dialog_driver.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

namespace mistvale {

class SourceDialogTest : public ::testing::Test {
protected:
    Source* AddSource(const char16_t* name, const char16_t* path) {
        if (group_ == nullptr) {
            group_ = new Group();
            tree_.AddGroup(group_);
        }
        Source* source = new Source();
        source->SetNameAndParameter(WideString(name), WideString(path));
        tree_.AddSource(group_, source);
        return source;
    }

    MonitorTree tree_;
    Group* group_ = nullptr;
    SourceDialog dialog_;
};

TEST_F(SourceDialogTest, NewSourceOpensWithDefaultsAndStoresWhatWasTyped) {
    Source source; // new, not listed: name "Source", empty path
    WhenShown(dialog_, [&] {
        EXPECT_EQ(ItemText(dialog_, SourceDialog::kIdName), "Source");
        EXPECT_EQ(ItemText(dialog_, SourceDialog::kIdParameter), "");
        EXPECT_EQ(ItemText(dialog_, SourceDialog::kIdNameLabel), "Name");
        EXPECT_EQ(ItemText(dialog_, SourceDialog::kIdParameterLabel), "Parameter");
        // The hint names every format and order, and the two lines it has room for hold it all.
        const std::string hint = ItemText(dialog_, SourceDialog::kIdHint).toStdString();
        for (const char* word : {"hex", "string", "uint16", "[u]int32", "[u]int64", "float", "double", "bcd",
                                 "graph", "range", "color[/min/max]", "abcd", "cdab", "badc", "dcba"})
            EXPECT_NE(hint.find(word), std::string::npos) << word;
        const QLabel* label = dialog_.Item<QLabel>(SourceDialog::kIdHint);
        ASSERT_NE(label, nullptr);
        EXPECT_LE(label->heightForWidth(label->width()), label->height());
        TypeInto(dialog_, SourceDialog::kIdParameter, QStringLiteral("3/float"));
        ClickItem(dialog_, SourceDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, &source, nullptr), 1);
    EXPECT_EQ(source.Name().ToUtf8(), "Source");
    EXPECT_EQ(source.Parameter().ToUtf8(), "3/float");
}

TEST_F(SourceDialogTest, LeadingAndTrailingSpacesAreKept) {
    Source* source = AddSource(u"Pump", u"100/graph");
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, SourceDialog::kIdName, QStringLiteral("  Pump 2  "));
        TypeInto(dialog_, SourceDialog::kIdParameter, QStringLiteral(" 3/hex "));
        ClickItem(dialog_, SourceDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, source, nullptr), 1);
    EXPECT_EQ(source->Name().ToUtf8(), "  Pump 2  ");
    EXPECT_EQ(source->Parameter().ToUtf8(), " 3/hex ");
}

TEST_F(SourceDialogTest, EditShowsThePathExactlyAndCancelOrEscapeKeepIt) {
    Source* source = AddSource(u"Level", u"100/graph");
    WhenShown(dialog_, [&] {
        EXPECT_EQ(ItemText(dialog_, SourceDialog::kIdParameter), "100/graph");
        EXPECT_EQ(ItemText(dialog_, SourceDialog::kIdName), "Level");
        TypeInto(dialog_, SourceDialog::kIdParameter, QStringLiteral("7"));
        ClickItem(dialog_, SourceDialog::kIdCancelButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, source, nullptr), 0);
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, SourceDialog::kIdName, QStringLiteral("Other"));
        QTest::keyClick(dialog_.Window(), Qt::Key_Escape);
    });
    EXPECT_EQ(dialog_.Run(tree_, source, nullptr), 0);
    EXPECT_EQ(source->Name().ToUtf8(), "Level");
    EXPECT_EQ(source->Parameter().ToUtf8(), "100/graph");
}

TEST_F(SourceDialogTest, EmptyTextsAreStoredEmpty) {
    Source* source = AddSource(u"Temp", u"5/float");
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, SourceDialog::kIdName, QString());
        TypeInto(dialog_, SourceDialog::kIdParameter, QString());
        ClickItem(dialog_, SourceDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, source, nullptr), 1);
    EXPECT_TRUE(source->Name().IsEmpty());
    EXPECT_TRUE(source->Parameter().IsEmpty());
}

// The worker removes the source (a Delete queued before) while its dialog is open.
TEST_F(SourceDialogTest, OkAfterTheWorkerDeletedTheSourceChangesNothing) {
    TempDir data;
    MonitorTree tree;
    ASSERT_EQ(tree.Start(data.File("Mistvale.xml")), 1);
    Group* group = new Group();
    tree.AddGroup(group);
    Source* source = new Source();
    tree.AddSource(group, source);
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, SourceDialog::kIdName, QStringLiteral("Renamed"));
        ASSERT_EQ(tree.QueueDeleteSource(source), 1);
        QElapsedTimer clock;
        clock.start();
        while (tree.GroupOf(source) != 0 && clock.elapsed() < 5000)
            QTest::qWait(5);
        EXPECT_EQ(tree.GroupOf(source), 0);
        ClickItem(dialog_, SourceDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree, source, nullptr), 0);
    EXPECT_EQ(group->Sources().Count(), 0u);
    tree.Stop();
}

} // namespace mistvale
