#pragma once
// MainWindow: the program's one application object and its main window (template 102).
//
// It owns, for the life of the process, the settings store, the dialogs, the tree-list and the model
// with its refresh worker. Start-up runs in OnInit and shutdown in OnDestroy, each in a fixed order
// (see main_window.cpp). The window shows the groups and sources in a two-column tree-list below a band
// bar with the toolbar ("Options", "Search for Modbus Devices") and a web link; every editing command
// starts from the tree-list's context menu, the Delete key or a double-click.
//
// Threads: everything here runs on the user-interface thread except the model's notify handler, which
// the worker calls and which only posts events. The record last picked in the tree-list is kept as an
// address and is only used after it has been found among the records the model still lists, because
// the worker may have deleted it meanwhile.

#include "app/mqtt_bridge.h"
#include "app/record_lookup.h"
#include "app/settings_store.h"
#include "app/termination_signals.h"
#include "app/traffic_window.h"
#include "app/value_status.h"
#include "dialogs/dialog_base.h"
#include "dialogs/group_dialog.h"
#include "dialogs/options_dialog.h"
#include "dialogs/search_dialog.h"
#include "dialogs/source_dialog.h"
#include "dialogs/value_dialog.h"
#include "modbus/device_jobs.h"
#include "model/monitor_tree.h"
#include "model/outcome_fan_out.h"
#include "model/tree_rows.h"
#include "model/value_recorder.h"
#include "treelist/tree_list_view.h"
#include "update/update_checker.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>

class QAction;
class QMenu;
class QSizeGrip;
class QToolBar;

namespace mistvale {

class HyperlinkLabel;
struct RecordSnapshot;

class MainWindow : public DialogBase {
public:
    // Controls of the template and the widgets added at start-up.
    enum : int {
        kIdBandBar = 1013, // the band bar: toolbar and link
        kIdTree = 1005,    // the tree-list
        kIdLink = 1014,    // the web link
        kIdSizeGrip = 1099,
    };
    // Commands.
    enum : int {
        kCmdOptions = 5001,
        kCmdSearch = 5002,
        kCmdRecord = 5003,
        kCmdTraffic = 5004,
        kCmdEdit = 40002,
        kCmdDelete = 40003,
        kCmdAddSource = 40004,
        kCmdAddGroup = 40005,
        kCmdAddAllRegisters = 40006,
        kCmdSetValue = 40007,
    };
    static constexpr int kRefreshTimerId = 1;
    static constexpr int kRebuildTimerId = 2;
    static constexpr int kSaveTimerId = 3;
    // Changes to the tree reach its file within this time.
    static constexpr int kSaveIntervalMs = 1000;
    // The Value column keeps at least this width in view (pixels at 96 DPI).
    static constexpr int kSmallestLastColumn = 120;
    // Posted at start when the tree file could not be read, so that the window shows first.
    static constexpr int kMsgTreeUnreadable = 0x8010;
    // Posted when something the user started cannot go on: shown once the current handler has ended.
    static constexpr int kMsgTellProblem = 0x8011;
    // Lines end their passes on their own; the window is rebuilt at most this often for them.
    static constexpr int kRebuildSpacingMs = 200;
    // Smallest window size, in dialog units.
    static constexpr int kMinimumWidth = 400;
    static constexpr int kMinimumHeight = 250;
    // The web address behind the link.
    static const char* const kLinkText;
    static const char* const kLinkAddress;

    MainWindow();
    ~MainWindow() override;

    // Runs the main window until it is closed and returns its result, the process's exit code (0).
    int RunMain();

    // Where this run keeps its tree; empty (the default) is $XDG_DATA_HOME/Mistvale.xml. Set before
    // RunMain.
    void SetConfigPath(const std::string& path) { configPath_ = path; }
    // A record file to start with (the command line's --record); before RunMain.
    void SetRecordFile(const std::string& path) { recordFile_ = path; }
    // Publishing to a broker from the command line (--mqtt); else the setting "MqttUrl" is used.
    void SetMqtt(const MqttSettings& settings) {
        mqttSettings_ = settings;
        mqttGiven_ = true;
    }
    MqttBridge& Mqtt() { return mqtt_; }
    // Called after every rebuild of the tree-list (start-up and each WM_MODEL_CHANGED); for benchmarks.
    void SetRebuildObserver(void (*observer)(void* context), void* context) {
        rebuildObserver_ = observer;
        rebuildContext_ = context;
    }

    // The settings values the Options dialog changes.
    unsigned RefreshTime() const { return refreshTime_; }
    unsigned Flags() const { return flags_; }

    MonitorTree& Tree() { return tree_; }
    // Shows the window in front of others (a second start on the same tree asks for it).
    void BringToFront();
    TreeListView& TreeList() { return treeList_; }
    // Refills the tree-list from the model, keeping the view as the user left it.
    void Rebuild();
    DeviceJobsContext& DeviceJobs() { return deviceJobs_; }
    SearchDialog& Search() { return searchDialog_; }

    // The record the commands work on (an address, maybe of a record deleted meanwhile), or nullptr.
    const void* CurrentRecord() const { return current_; }
    // Makes data (a tree item's record, or nullptr) the current record and sets the context menu's
    // items enabled or gray for it; what a right-click does before the menu is shown.
    void PrepareContextMenu(const void* data);
    // The context menu's item for a command, or nullptr.
    QAction* MenuAction(int command) const;
    // The refresh timer's interval in milliseconds (0 when it does not run).
    int RefreshTimerInterval() const { return timerIntervalMs_; }
    // The record of values and the toolbar button that starts and stops it.
    ValueRecorder& Recorder() { return recorder_; }
    UpdateChecker& Updates() { return updateChecker_; }
    // Where the update check asks (tests point it at a local service and a copied program); the
    // program's own setup when not set.
    void SetUpdateSetup(const UpdateCheckSetup& setup) {
        updateSetup_ = setup;
        updateSetupGiven_ = true;
    }
    QAction* RecordAction() const { return recordAction_; }
    // The Traffic window once opened (it stays until the main window goes), else nullptr.
    TrafficWindow* Traffic() const { return traffic_; }
    // Starts recording into path (appending), or stops when path is empty; the button follows.
    int SetRecording(const QString& path);
    // Which sources show an old value, as the last check found.
    const StaleValues& Staleness() const { return stale_; }

    // Ends the program as the close box does, from the event loop: closes the menus, message boxes and
    // dialogs that are open over the main window first, waiting for those that cannot close yet (a
    // running device search), then runs the full shutdown. Used for SIGTERM, SIGINT and SIGHUP.
    void RequestQuit();

    static const DialogTemplate* Template();

protected:
    int OnInit() override;
    int OnDestroy(int result) override;
    int OnCommand(int id, int code) override;
    int OnMessage(int message, std::uintptr_t wParam, std::intptr_t lParam) override;

private:
    void CreateBandBar();
    void SetUpTreeList();
    // Rebuilds, then selects the record just added and scrolls as little as needed to show it.
    void RebuildShowing(const void* record);
    void CreateContextMenu();
    void LayOut();
    // Narrows the columns before the Value column when they leave it no room in the window.
    void FitColumnsToWindow();
    // A rebuild for the end of a pass: at once, or when kRebuildSpacingMs have passed since the last.
    void RebuildForPass();
    void TellUnreadableTree();
    // Shows text in a message box after the current handler (queued; several are shown in turn).
    void TellLater(const QString& text);
    // After a rebuild: an import that added nothing, a recording that stopped.
    void TellWhatEnded();
    void RestartRefreshTimer();
    void RearmRefreshTimer(unsigned refreshTime);
    void ValidateCurrentRecord();
    int LookUpCurrent(RecordSnapshot* snapshot);

    void ShowContextMenu(const void* data);
    void EditCurrent();
    void DeleteCurrent();
    void AddSourceToCurrent();
    void AddGroup();
    void AddAllRegistersOfCurrent();
    void SetValueOfCurrent();
    void ContinueQuit();
    void ToggleRecording();
    void ShowTraffic();
    void UpdateRecordAction();
    void UpdateStaleness();

    static void OnModelNotify(void* context, int message);
    static void Pump(void* context);
    static void CloseFromUpdate(void* context);
    UpdateSettingsAccess UpdateSettings();
    static void OnRightClick(TreeItem item, void* context);
    static void OnDoubleClick(TreeItem item, void* context);
    static void OnKeyDown(int virtualKey, void* context);
    static void OnCopyKey(TreeItem item, void* context);
    static void OnDrawCell(TreeItem item, void* data, int column, const CellRect& rect,
                           DrawingSurface& surface, void* context);
    static void OnRearm(void* context, unsigned refreshTime);
    static int OnCellDim(TreeItem item, void* data, int column, void* context);
    static int OnCellToolTip(TreeItem item, void* data, int column, QString& text, void* context);
    static void OnTerminationSignal(void* context, int signal);

    SettingsStore settings_;
    OptionsDialog optionsDialog_;
    GroupDialog groupDialog_;
    SourceDialog sourceDialog_;
    ValueDialog valueDialog_;
    SearchDialog searchDialog_;
    TreeListView treeList_;
    TreeSink sink_{};
    // The device jobs' context outlives the tree, whose worker uses it until it has stopped.
    DeviceJobsContext deviceJobs_;
    MonitorTree tree_;
    // Rows of the record come from the worker until it has stopped.
    ValueRecorder recorder_;
    TerminationSignals signals_;
    UpdateChecker updateChecker_;
    UpdateCheckSetup updateSetup_;
    bool updateSetupGiven_ = false;
    StaleValues stale_;
    ListedSources listed_;

    // Widgets of the running window (owned by it).
    QPointer<QWidget> bandBar_;
    QPointer<QToolBar> toolBar_;
    QPointer<HyperlinkLabel> link_;
    QPointer<QSizeGrip> sizeGrip_;
    QMenu* menu_ = nullptr;
    QPointer<QAction> recordAction_;
    QPointer<TrafficWindow> traffic_;
    std::string recordFile_;
    MqttSettings mqttSettings_;
    bool mqttGiven_ = false;
    std::uint64_t topicsAtChange_ = ~std::uint64_t{0}; // the tree's change count the topics were made at
    MqttBridge mqtt_{tree_};
    OutcomeFanOut outcomes_;
    QPointer<QAction> mqttAction_;
    void StartMqtt();
    void UpdateMqttAction();
    QPointer<QTimer> staleTimer_;

    unsigned refreshTime_ = 2;
    unsigned flags_ = 1;
    const void* current_ = nullptr;
    std::string configPath_;
    int timerIntervalMs_ = 0;
    bool stopping_ = false;
    std::atomic<bool> modelChangePosted_{false}; // a WM_MODEL_CHANGED is on its way (any thread)
    bool rebuildDue_ = false;                    // the rebuild timer runs
    bool recordingShown_ = false;                // the Record button showed a running recording
    QStringList problems_;                       // texts waiting for kMsgTellProblem
    std::chrono::steady_clock::time_point lastRebuild_{};
    bool quitRequested_ = false;
    void (*rebuildObserver_)(void*) = nullptr;
    void* rebuildContext_ = nullptr;
};

} // namespace mistvale
