#pragma once
// The Search dialog (template 115): finds Modbus RTU devices on every serial port and adds the ones the
// user keeps as groups. Search queues the SearchDevices job on the refresh worker; the worker probes the
// slave addresses of every port with the baud rate and parity shown here and leaves one FoundDevice per
// answering device in the dialog's result list. When the job has ended the dialog lists the devices,
// each checked; Add (or a double-click on a row) creates one group per checked device.
//
// While a search runs, Search and Add are disabled, the bar shows the port and address being probed and
// the dialog cannot be closed (Escape and the close box do nothing), so the result list and the
// settings the worker reads stay valid for the whole job; Stop ends the search at the next address and
// lists what was found so far. The dialog can be resized; the list grows with it.
//
// The end of the job reaches the dialog as WM_SEARCH_FINISHED through the model's notify handler: the
// owner of that handler (the main window) forwards it with NotifySearchFinished.

#include "dialogs/dialog_base.h"
#include "dialogs/icon_combo_box.h"
#include "dialogs/progress_indicator.h"
#include "model/locked_list.h"
#include "platform/wide_string.h"

#include <QString>
#include <atomic>
#include <mutex>

class QTreeWidget;

namespace mistvale {

class DeviceJobsContext;
class FoundDevice;
class MonitorTree;
struct TreeSink;

class SearchDialog : public DialogBase {
public:
    enum : int {
        kIdList = 1015,     // the devices found
        kIdProgress = 1016, // busy bar
        kIdParity = 1029,   // "None", "Even", "Odd"
        kIdBaud = 1030,     // editable baud rate
        kIdBaudLabel = 1032,
        kIdParityLabel = 1033,
        kIdAdd = 1038,
        kIdSearch = 1039,
        kIdStop = 1040, // ends a running search at the next address
    };
    // Columns of the list.
    enum : int {
        kColumnDevice = 0,
        kColumnVendor = 1,
        kColumnProduct = 2,
        kColumnVersion = 3,
        kColumnSerialNumber = 4,
        kColumnPort = 5, // the adapter, so that one address on two lines can be told apart
        kColumnCount = 6,
    };

    SearchDialog();
    ~SearchDialog() override;

    // Runs the dialog over owner. jobs is the context the tree's device jobs were installed with
    // (InstallDeviceJobs); sink, when given, is the tree-list that Add rebuilds. Returns the dialog's
    // result (0 after Add as well), -1 when it could not run.
    int Run(MonitorTree& tree, DeviceJobsContext* jobs, const TreeSink* sink, QWidget* owner);

    // Any thread: tells the running dialog that the search job has ended (posts WM_SEARCH_FINISHED,
    // QEvent::User + 2). Nothing when the dialog is not running.
    void NotifySearchFinished();
    // The dialog's template, as its siblings give theirs.
    static const DialogTemplate* Template();

    // Worker thread: the baud rate and parity for the next port, from a copy the user-interface
    // thread keeps up to date; a baud text that does not begin with a number gives 38400, no parity
    // entry gives 'N'. context is the SearchDialog. Returns 1.
    static int ReadSearchSettings(void* context, unsigned* baud, char16_t* parity);

    int IsSearching() const { return searching_ ? 1 : 0; }
    // Worker thread: notes the address being probed (for the bar) and says whether to go on.
    static int OnSearchProgress(void* context, const WideString& port, unsigned address,
                                unsigned lastAddress);
    // The progress bar's text ("ttyUSB0: address 37 of 247"), empty when there is none.
    QString ProgressText() const { return progress_.Text(); }
    // The list view while the dialog runs, for tests and screenshots.
    QTreeWidget* List() const;

protected:
    int OnInit() override;
    int OnCommand(int id, int code) override;
    int OnDestroy(int result) override;
    int OnMessage(int message, std::uintptr_t wParam, std::intptr_t lParam) override;

private:
    void StartSearch();
    void ShowResults();
    void AddCheckedDevices();
    void SortByColumn(int column);
    void UpdateSettingsSnapshot();
    void ClearResults();
    void ShowProgress();
    WideString ParityLetter() const;

    MonitorTree* tree_ = nullptr;
    DeviceJobsContext* jobs_ = nullptr;
    const TreeSink* sink_ = nullptr;
    bool searching_ = false;
    int sortColumn_ = -1; // none
    bool sortAscending_ = true;
    // Filled by the worker during a search; read here only after WM_SEARCH_FINISHED.
    LockedList results_;
    IconComboBox baud_;
    IconComboBox parity_;
    ProgressIndicator progress_;

    // Where the worker is; written by the worker, shown by a timer. stopRequested_ ends the search.
    mutable std::mutex progressMutex_;
    WideString progressPort_;
    unsigned progressAddress_ = 0;
    unsigned progressLast_ = 0;
    std::atomic<bool> stopRequested_{false};

    // What the worker reads as the search settings; written on the user-interface thread.
    mutable std::mutex settingsMutex_;
    unsigned baudSnapshot_ = 38400;
    char16_t paritySnapshot_ = u'N';
};

} // namespace mistvale
