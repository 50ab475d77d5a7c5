// The Value dialog hands the typed text to the worker as one SetValue job; Cancel queues nothing.

#include "dialogs/value_dialog.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "model/worker_job.h"
#include "tests/dialogs/dialog_driver.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace mistvale {

// What the worker was asked to write (recorded on the worker thread).
struct WriteLog {
    std::mutex mutex;
    std::vector<std::pair<Source*, std::string>> writes;
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return writes.size();
    }
};

static void RecordJob(void* context, MonitorTree&, WorkerJob& job) {
    if (job.Kind() != JobKind::SetValue)
        return;
    WriteLog* log = static_cast<WriteLog*>(context);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->writes.emplace_back(job.GetSource(), job.Text().ToUtf8());
}

class ValueDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree_.SetDeviceJobHandler(RecordJob, &log_);
        ASSERT_EQ(tree_.Start(data_.File("Mistvale.xml")), 1);
        group_ = new Group();
        group_->SetParameter(WideString(u"ModbusTcpIp/127.0.0.1/1"));
        tree_.AddGroup(group_);
        source_ = new Source();
        source_->SetParameter(WideString(u"100"));
        tree_.AddSource(group_, source_);
    }
    void TearDown() override { tree_.Stop(); }

    // Waits until the worker has run at least count writes.
    void WaitForWrites(size_t count) {
        QElapsedTimer clock;
        clock.start();
        while (log_.Count() < count && clock.elapsed() < 5000)
            QTest::qWait(5);
    }

    TempDir data_;
    WriteLog log_;
    MonitorTree tree_;
    Group* group_ = nullptr;
    Source* source_ = nullptr;
    ValueDialog dialog_;
};

TEST_F(ValueDialogTest, ShowsTheValueTextAndOkQueuesOneWriteOfTheTypedText) {
    source_->SetValue(WideString(u"25"));
    WhenShown(dialog_, [&] {
        EXPECT_EQ(ItemText(dialog_, ValueDialog::kIdValue), "25");
        EXPECT_EQ(ItemText(dialog_, ValueDialog::kIdValueLabel), "Value");
        TypeInto(dialog_, ValueDialog::kIdValue, QStringLiteral(" 30 "));
        ClickItem(dialog_, ValueDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, source_, nullptr), 1);
    // A marker write queued now runs behind anything the dialog queued: a second write of the dialog
    // would show up before it.
    ASSERT_EQ(tree_.QueueSetValue(source_, WideString(u"marker")), 1);
    WaitForWrites(2);
    std::lock_guard<std::mutex> lock(log_.mutex);
    ASSERT_EQ(log_.writes.size(), 2u);
    EXPECT_EQ(log_.writes[0].first, source_);
    EXPECT_EQ(log_.writes[0].second, " 30 ");
    EXPECT_EQ(log_.writes[1].second, "marker");
}

// The caption and a line above the value name the source, its group and the register it goes to.
TEST_F(ValueDialogTest, CaptionNamesWhatItWrites) {
    const struct {
        const char16_t* group;
        const char16_t* source;
        const char* caption;
    } cases[] = {
        {u"ModbusSerial/9600/E/ttyUSB0/0x05", u"100",
         "Setpoint (Boiler) — holding register 100, slave 5, ttyUSB0"},
        {u"ModbusTcpIp/10.0.0.7/502", u"4#30/float", "Setpoint (Boiler) — input register 30, 10.0.0.7:502"},
        {u"ModbusTcpIp/plc/502", u"1#7", "Setpoint (Boiler) — coil 7, plc:502"},
        {u"Clock", u"Time", "Setpoint (Boiler)"},
    };
    group_->SetName(u"Boiler");
    source_->SetName(u"Setpoint");
    for (const auto& c : cases) {
        group_->SetParameter(WideString(c.group));
        source_->SetParameter(WideString(c.source));
        QString title;
        std::string line;
        WhenShown(dialog_, [&] {
            title = dialog_.Window()->windowTitle();
            line = ItemText(dialog_, ValueDialog::kIdTarget).toStdString();
            ClickItem(dialog_, ValueDialog::kIdCancelButton);
        });
        dialog_.Run(tree_, source_, nullptr);
        EXPECT_TRUE(title.startsWith(QString::fromUtf8(c.caption) + QStringLiteral(" - Mistvale")))
            << title.toStdString();
        EXPECT_EQ(line, c.caption); // and in full above the value, whatever the title bar shows
    }
}

TEST_F(ValueDialogTest, CancelAndEscapeQueueNothing) {
    source_->SetValue(WideString(u"Can't get value."));
    WhenShown(dialog_, [&] {
        EXPECT_EQ(ItemText(dialog_, ValueDialog::kIdValue), "Can't get value.");
        TypeInto(dialog_, ValueDialog::kIdValue, QStringLiteral("1"));
        ClickItem(dialog_, ValueDialog::kIdCancelButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, source_, nullptr), 0);
    WhenShown(dialog_, [&] { QTest::keyClick(dialog_.Window(), Qt::Key_Escape); });
    EXPECT_EQ(dialog_.Run(tree_, source_, nullptr), 0);
    // A write queued afterwards runs behind anything the two dialogs could have queued.
    WhenShown(dialog_, [&] { ClickItem(dialog_, ValueDialog::kIdOkButton); });
    EXPECT_EQ(dialog_.Run(tree_, source_, nullptr), 1);
    WaitForWrites(1);
    std::lock_guard<std::mutex> lock(log_.mutex);
    ASSERT_EQ(log_.writes.size(), 1u);
    // OK without editing writes the text that was shown.
    EXPECT_EQ(log_.writes[0].second, "Can't get value.");
}

TEST_F(ValueDialogTest, ASourceThatIsNoLongerListedIsNeverOpened) {
    Source loose;
    bool opened = false;
    QTimer::singleShot(0, [&] {
        if (dialog_.IsRunning()) {
            opened = true;
            dialog_.End(0);
        }
    });
    EXPECT_EQ(dialog_.Run(tree_, &loose, nullptr), 0);
    QTest::qWait(10);
    EXPECT_FALSE(opened);
    EXPECT_EQ(log_.Count(), 0u);
}

TEST(ValueDialogStopped, OkWithTheWorkerStoppedDropsTheTextSilently) {
    MonitorTree tree; // never started: every job is refused
    Group* group = new Group();
    tree.AddGroup(group);
    Source* source = new Source();
    tree.AddSource(group, source);
    ValueDialog dialog;
    WhenShown(dialog, [&] { ClickItem(dialog, ValueDialog::kIdOkButton); });
    EXPECT_EQ(dialog.Run(tree, source, nullptr), 1);
    EXPECT_EQ(dialog.IsRunning(), false);
}

// The field opens with its whole text selected, so typing replaces the value shown: 150, typed 30,
// writes 30 (not 15030). Real key events, as a user types.
TEST_F(ValueDialogTest, TypingReplacesTheValueShown) {
    source_->SetValue(WideString(u"150"));
    QString before;
    WhenShown(dialog_, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.Window(), 5000));
        // The selection follows the focus from the event loop.
        EXPECT_TRUE(QTest::qWaitFor(
            [] {
                auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
                return edit != nullptr && edit->hasSelectedText();
            },
            5000));
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        before =
            qobject_cast<QLineEdit*>(focus) ? qobject_cast<QLineEdit*>(focus)->selectedText() : QString();
        QTest::keyClicks(focus, QStringLiteral("30"));
        QTest::keyClick(focus, Qt::Key_Return);
    });
    EXPECT_EQ(dialog_.Run(tree_, source_, nullptr), 1);
    EXPECT_EQ(before, QStringLiteral("150"));
    WaitForWrites(1);
    std::lock_guard<std::mutex> lock(log_.mutex);
    ASSERT_EQ(log_.writes.size(), 1u);
    EXPECT_EQ(log_.writes[0].second, "30");
}

} // namespace mistvale
