// The Traffic window fed by the capture from other threads: rows and their texts, the filter by line
// and slave, pause, copy, the 10,000-frame bound, and capture only while it is shown.
#include "app/traffic_window.h"
#include "modbus/frame_capture.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <thread>

namespace mistvale {

namespace {

FrameRecord Frame(const char* line, uint8_t slave, FrameDirection direction, const char* outcome = "") {
    FrameRecord frame;
    frame.timeUs = 1765288402418211;
    frame.line = line;
    frame.direction = direction;
    frame.bytes = {slave, 0x03, 0x00, 0x64, 0x00, 0x01};
    frame.outcome = outcome;
    frame.rttMs = direction == FrameDirection::Received ? 12.5 : -1;
    return frame;
}

// Frames published from a thread of their own, as the lines do.
void PublishFromAThread(const std::vector<FrameRecord>& frames) {
    std::thread worker([&] {
        for (const FrameRecord& frame : frames)
            PublishFrame(frame);
    });
    worker.join();
}

TEST(TrafficWindow, RowsFilterPauseAndCopy) {
    TrafficWindow window(nullptr);
    PublishFrame(Frame("early", 1, FrameDirection::Sent)); // nobody watches yet: not kept
    window.show();
    ASSERT_TRUE(FrameCaptureOn());
    PublishFromAThread({Frame("ttyUSB0", 5, FrameDirection::Sent),
                        Frame("ttyUSB0", 5, FrameDirection::Received, "ok"),
                        Frame("10.0.0.7:502", 9, FrameDirection::Received, "time-out"),
                        Frame("ttyUSB0", 7, FrameDirection::Discarded)});
    window.TakeWaitingFrames();
    TrafficFramesModel& frames = window.Frames();
    ASSERT_EQ(frames.rowCount(), 4);
    EXPECT_EQ(frames.Text(1, TrafficFramesModel::kLine), QStringLiteral("ttyUSB0"));
    EXPECT_EQ(frames.Text(1, TrafficFramesModel::kDir), QStringLiteral("rx"));
    EXPECT_EQ(frames.Text(1, TrafficFramesModel::kSlave), QStringLiteral("5"));
    EXPECT_EQ(frames.Text(1, TrafficFramesModel::kFunction), QStringLiteral("3"));
    EXPECT_EQ(frames.Text(1, TrafficFramesModel::kBytes), QStringLiteral("05 03 00 64 00 01"));
    EXPECT_EQ(frames.Text(1, TrafficFramesModel::kRtt), QStringLiteral("12.5 ms"));
    EXPECT_TRUE(frames.Text(1, TrafficFramesModel::kTime).endsWith(QStringLiteral(".418211")));
    // Failed and thrown-away frames are marked; good ones are not.
    const auto marked = [&](int row) {
        return frames.data(frames.index(row, 0), Qt::ForegroundRole).isValid();
    };
    EXPECT_FALSE(marked(0));
    EXPECT_FALSE(marked(1));
    EXPECT_TRUE(marked(2));
    EXPECT_TRUE(marked(3));

    window.ChooseLine(QStringLiteral("ttyUSB0"));
    EXPECT_EQ(window.Filter().rowCount(), 3);
    window.ChooseSlave(5);
    EXPECT_EQ(window.Filter().rowCount(), 2);
    window.ChooseLine(QString());
    window.ChooseSlave(-1);
    EXPECT_EQ(window.Filter().rowCount(), 4);

    // Paused, frames wait and the list holds still; resumed, they come in.
    window.SetPaused(true);
    PublishFromAThread({Frame("ttyUSB0", 5, FrameDirection::Sent)});
    QTest::qWait(250);
    EXPECT_EQ(frames.rowCount(), 4);
    window.SetPaused(false);
    EXPECT_EQ(frames.rowCount(), 5);

    window.View()->selectionModel()->select(window.Filter().index(1, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window.View()->selectionModel()->select(window.Filter().index(2, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QStringList copied = window.SelectedText().split(QLatin1Char('\n'));
    ASSERT_EQ(copied.size(), 2);
    EXPECT_TRUE(copied[0].contains(QStringLiteral("\tttyUSB0\trx\t5\t3\t05 03 00 64 00 01\t12.5 ms\tok")))
        << copied[0].toStdString();
    EXPECT_TRUE(copied[1].endsWith(QStringLiteral("time-out")));

    window.hide();
    EXPECT_FALSE(FrameCaptureOn());
}

TEST(TrafficWindow, KeepsTheNewestTenThousandFrames) {
    TrafficWindow window(nullptr);
    window.show();
    std::vector<FrameRecord> many;
    for (int i = 0; i < 10050; ++i) {
        FrameRecord frame = Frame("bus", 1, FrameDirection::Sent);
        frame.timeUs = i;
        many.push_back(frame);
    }
    PublishFromAThread(many);
    window.TakeWaitingFrames();
    for (int i = 0; i < 3; ++i) {
        PublishFromAThread(many);
        window.TakeWaitingFrames();
    }
    ASSERT_EQ(window.Frames().rowCount(), 10000);
    EXPECT_EQ(window.Frames().Frame(0).timeUs, 50);
    EXPECT_EQ(window.Frames().Frame(9999).timeUs, 10049);
}

} // namespace

} // namespace mistvale
