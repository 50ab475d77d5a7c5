#pragma once

#include "app/traffic_frames_model.h"

#include <QTimer>
#include <QWidget>

#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;

namespace mistvale {

class SettingsStore;

// The Traffic window: every frame the links send and receive while it is open, newest at the bottom.
// Frames arrive on the lines' threads and are handed to the view in batches every 100 ms, so a busy
// bus costs the window one update a tenth of a second. Capture runs only while the window is shown.
class TrafficWindow : public QWidget {
public:
    explicit TrafficWindow(SettingsStore* settings, QWidget* parent = nullptr);
    ~TrafficWindow() override;

    // Frames waiting for the next batch are moved into the list now (tests, and Save).
    void TakeWaitingFrames();
    TrafficFramesModel& Frames() { return frames_; }
    TrafficFilter& Filter() { return filter_; }
    QTableView* View() { return view_; }
    // The selected rows as text, one line each (what Copy puts on the clipboard).
    QString SelectedText() const;
    // Every row the filter shows, as Save writes them.
    QString ShownText() const;
    void SetPaused(bool paused);
    void ChooseLine(const QString& line);
    void ChooseSlave(int slave);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void StartCapture();
    void StopCapture();
    void OnFrame(const FrameRecord& frame);
    void UpdateChoices(const std::vector<FrameRecord>& frames);
    void ApplyFilter();
    void CopySelected();
    void SaveAs();
    void SaveGeometry();

    SettingsStore* settings_;
    TrafficFramesModel frames_;
    TrafficFilter filter_;
    QTableView* view_ = nullptr;
    QComboBox* lineChoice_ = nullptr;
    QComboBox* slaveChoice_ = nullptr;
    QPushButton* pause_ = nullptr;
    QTimer batchTimer_;
    int listener_ = 0;

    std::mutex lock_;
    std::deque<FrameRecord> waiting_; // guarded by lock_; bounded like the list
    bool paused_ = false;             // user-interface thread only
    std::set<std::string> lines_;
    std::set<int> slaves_;
};

} // namespace mistvale
