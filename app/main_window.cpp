#include "app/main_window.h"

#include "app/context_menu_rules.h"
#include "app/hyperlink_label.h"
#include "app/record_lookup.h"
#include "app/refresh_interval.h"
#include "app/window_placement.h"
#include "dialogs/message_box.h"
#include "model/config_file.h"
#include "model/group.h"
#include "model/source.h"
#include "platform/string_table.h"
#include "resources/app_icons.h"
#include "treelist/row_text.h"
#include "treelist/tree_sink_adapter.h"
#include "treelist/value_cell_drawer.h"
#include "treelist/virtual_keys.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSizeGrip>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <climits>

namespace mistvale {

namespace {

// The toolbar's keys.
constexpr QKeyCombination kOptionsKey = Qt::CTRL | Qt::Key_Comma;
constexpr QKeyCombination kSearchKey = Qt::CTRL | Qt::Key_F;
constexpr QKeyCombination kRecordKey = Qt::CTRL | Qt::Key_R;
constexpr QKeyCombination kTrafficKey = Qt::CTRL | Qt::Key_T;

// A tooltip that names the action's key: "Search for Modbus Devices (Ctrl+F)".
QString WithShortcut(const QString& tip, const QAction* action) {
    const QString key = action->shortcut().toString(QKeySequence::NativeText);
    return key.isEmpty() ? tip : QStringLiteral("%1 (%2)").arg(tip, key);
}

// The text with its first `letter` (any case) marked as the menu mnemonic; an '&' of the text itself
// stays a character.
QString WithMnemonic(QString text, QChar letter) {
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    const qsizetype at = text.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at >= 0)
        text.insert(at, QLatin1Char('&'));
    return text;
}

} // namespace

const char* const MainWindow::kLinkText = "modbus.org";
const char* const MainWindow::kLinkAddress = "https://www.modbus.org/";

namespace {

// Template 102: the tree control and the static control that becomes the link; the band bar and the
// size grip are added at start-up.
const ControlTemplate kControls[] = {
    {MainWindow::kIdTree, ControlKind::TreeView, 0, 20, 420, 240, nullptr,
     kStyleAnchorRight | kStyleAnchorBottom},
    {MainWindow::kIdLink, ControlKind::Label, 340, 4, 76, 12, MainWindow::kLinkText, kStyleNoPrefix},
};

const DialogTemplate kTemplate = {
    102,
    420,
    260,
    "Mistvale",
    kControls,
    static_cast<int>(sizeof(kControls) / sizeof(kControls[0])),
    kDialogResizable | kDialogMinimizeBox | kDialogMaximizeBox | kDialogApplicationWindow,
};

// Tree-list option bits of the main window: collapsing keeps children, deleting all keeps icons, plain
// header captions.
constexpr unsigned kTreeOptions = 0x4000000C;
// TVS_EX_DOUBLEBUFFER | TVS_EX_RICHTOOLTIP, kept for the record; Qt always double-buffers.
constexpr unsigned kTreeExtendedStyle = 0x0004 | 0x0010;

// The display's scale factor as the program has always used it: logical pixels per inch over 96.
double ScaleFactor(const QWidget* widget) {
    const int dpi = widget != nullptr ? widget->logicalDpiX() : 96;
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

} // namespace

MainWindow::MainWindow() = default;

MainWindow::~MainWindow() {
    // Normally shutdown has done all of this already; these are no-ops then.
    signals_.Remove();
    tree_.Stop();
}

const DialogTemplate* MainWindow::Template() {
    return &kTemplate;
}

int MainWindow::RunMain() {
    return Run(&kTemplate, nullptr);
}

// ---- start-up and shutdown ------------------------------------------------------------------------

int MainWindow::OnInit() {
    stopping_ = false;
    quitRequested_ = false;
    current_ = nullptr;

    // 1. Icon and title with the program's version.
    SetIcon(kIconApp);
    SetTitle(FormatTitle(QStringLiteral("Mistvale")));
    // 2. The problem report handler belongs to a subsystem this build does not have.
    // 3, 4. Settings.
    settings_.Open(SettingsForm::Registry);
    refreshTime_ = static_cast<unsigned>(settings_.GetNumber(kSettingRefreshTime, kDefaultRefreshTime));
    flags_ = static_cast<unsigned>(settings_.GetNumber(kSettingFlags, kDefaultFlags));
    // 5, 6. Link, band bar and toolbar.
    CreateBandBar();
    // 7. Minimum size.
    SetMinimumSize(kMinimumWidth, kMinimumHeight, true);
    // 8. The tree-list with its handlers, icons, columns and stored column layout.
    SetUpTreeList();
    // 9. Context menu.
    CreateContextMenu();
    // 10. Size grip; the tree-list's right and bottom edges follow the window's.
    sizeGrip_ = new QSizeGrip(Window());
    const int grip = Window()->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Window());
    AddItem(kIdSizeGrip, sizeGrip_, QRect(0, 0, grip, grip), kStyleNone);
    LayOut();
    // 11. Window placement.
    RestoreWindowPlacement(settings_, Window(), kSettingMain);
    LayOut();
    // 12. The model: device jobs and notifications first, then the worker and the configuration file.
    InstallDeviceJobs(tree_, &deviceJobs_);
    tree_.SetNotifyHandler(&MainWindow::OnModelNotify, this);
    outcomes_.Add(&ValueRecorder::OnOutcome, &recorder_);
    outcomes_.Add(&MqttBridge::OnOutcome, &mqtt_, &MqttBridge::OnPassOutcome);
    tree_.SetOutcomeHandler(&OutcomeFanOut::OnOutcome, &outcomes_);
    tree_.SetPassOutcomeHandler(&OutcomeFanOut::OnPassOutcome, &outcomes_);
    // A plant PC that logs unattended names its record file on the command line or in the environment.
    if (!recordFile_.empty())
        SetRecording(QString::fromStdString(recordFile_));
    else if (const char* recordFile = std::getenv("MISTVALE_RECORD_FILE");
             recordFile != nullptr && *recordFile)
        SetRecording(QString::fromLocal8Bit(recordFile));
    tree_.Start(configPath_);
    StartMqtt();
    if (tree_.StartedFromUnreadableFile())
        PostDialogMessage(kMsgTreeUnreadable);
    // Every change reaches the file within a second, so that a crash or a power cut loses nothing.
    StartTimer(kSaveTimerId, kSaveIntervalMs);
    // 13. Fill the tree-list.
    Rebuild();
    // 14. First refresh at once, then every RefreshTime seconds.
    RestartRefreshTimer();
    // 15. The automatic update check, when the user left it on.
    if (flags_ & kFlagAutoUpdate) {
        updateChecker_.Start(updateSetupGiven_ ? updateSetup_ : ProgramUpdateSetup(), Window(),
                             UpdateSettings(), kSettingLastCheck, &MainWindow::CloseFromUpdate, this);
    }

    // Requests to quit from the session or a terminal end the program like the close box.
    signals_.Install(&MainWindow::OnTerminationSignal, this);
    return 1;
}

int MainWindow::OnDestroy(int) {
    if (stopping_)
        return 1;
    stopping_ = true;
    // The signal handlers stay until the tree and the settings are written: a second Ctrl+C or a
    // SIGTERM after SIGHUP at logout must not kill the save. Requests that arrive meanwhile are
    // ignored, since stopping_ is set.
    StopTimer(kRefreshTimerId);
    StopTimer(kSaveTimerId);
    timerIntervalMs_ = 0;
    // 1. Stop the model: save the tree, stop the worker (events keep flowing meanwhile), delete it all.
    tree_.Stop(&MainWindow::Pump, this);
    current_ = nullptr;
    // Every row up to the worker's last read reaches the file.
    recorder_.Stop();
    mqtt_.Stop();
    // 2. Settings values.
    settings_.SetNumber(kSettingRefreshTime, refreshTime_);
    settings_.SetNumber(kSettingFlags, flags_);
    // 3. The link needs no release of its own.
    // 4. Column layout, then detach the tree-list.
    QByteArray columns;
    if (treeList_.SaveColumns(columns))
        SaveColumnLayout(settings_, columns, kSettingTree);
    treeList_.Detach();
    // 5. Window placement.
    SaveWindowPlacement(settings_, Window(), kSettingMain);
    // 6. The update check (a transfer ends within about a second; an open question can be answered).
    updateChecker_.Stop();
    // 7. Toolbar and context menu.
    delete toolBar_.data();
    delete menu_;
    menu_ = nullptr;
    // 8. Settings store.
    settings_.Close();
    signals_.Remove();
    // Only now, with the tree and the settings written, may an updated program start: started earlier,
    // it would load the old tree and its next save would drop this run's changes.
    updateChecker_.LaunchPending();
    return 1;
}

void MainWindow::CloseFromUpdate(void* context) {
    static_cast<MainWindow*>(context)->PostDialogMessage(kMsgClose);
}

UpdateSettingsAccess MainWindow::UpdateSettings() {
    UpdateSettingsAccess access;
    access.context = &settings_;
    access.getNumber = [](const char* name, std::uint64_t fallback, void* context) {
        return static_cast<SettingsStore*>(context)->GetNumber(name, fallback);
    };
    access.setNumber = [](const char* name, std::uint64_t value, void* context) {
        return static_cast<SettingsStore*>(context)->SetNumber(name, value);
    };
    access.getString = [](const char* name, WideString& value, void* context) {
        return static_cast<SettingsStore*>(context)->GetString(name, value);
    };
    access.setString = [](const char* name, const WideString& value, void* context) {
        return static_cast<SettingsStore*>(context)->SetString(name, value);
    };
    return access;
}

void MainWindow::CreateBandBar() {
    QWidget* window = Window();
    auto* band = new QWidget(window);
    auto* layout = new QHBoxLayout(band);
    const double scale = ScaleFactor(window);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);

    auto* toolBar = new QToolBar(band);
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const int iconSize = static_cast<int>(24 * scale);
    toolBar->setIconSize(QSize(iconSize, iconSize));
    toolBar->setStyleSheet(QStringLiteral("QToolBar { border: 0px; background: transparent; }"));
    // Each command has a key, named in its tooltip, so the toolbar needs no mouse.
    QAction* options = toolBar->addAction(IconById(kIconOptions), ToQString(Text(kStrOptions)));
    options->setData(kCmdOptions);
    options->setShortcut(QKeySequence(kOptionsKey));
    options->setToolTip(WithShortcut(ToQString(Text(kStrOptions)), options));
    toolBar->addSeparator();
    QAction* search = toolBar->addAction(IconById(kIconSearch), ToQString(Text(kStrSearchDevices)));
    search->setData(kCmdSearch);
    search->setShortcut(QKeySequence(kSearchKey));
    search->setToolTip(WithShortcut(ToQString(Text(kStrSearchDevices)), search));
    toolBar->addSeparator();
    // Checkable: it shows whether a recording runs; its tooltip says where to, or why it stopped.
    QAction* record = toolBar->addAction(IconById(kIconRecord), QStringLiteral("Record"));
    record->setData(kCmdRecord);
    record->setCheckable(true);
    record->setShortcut(QKeySequence(kRecordKey));
    recordAction_ = record;
    UpdateRecordAction();
    toolBar->addSeparator();
    QAction* traffic = toolBar->addAction(IconById(kIconTraffic), QStringLiteral("Traffic"));
    traffic->setData(kCmdTraffic);
    traffic->setShortcut(QKeySequence(kTrafficKey));
    traffic->setToolTip(
        WithShortcut(QStringLiteral("Traffic: every request and reply on the lines"), traffic));
    // The broker's state while values are published; hidden otherwise.
    mqttAction_ = toolBar->addAction(QStringLiteral("MQTT"));
    mqttAction_->setVisible(false);
    QObject::connect(toolBar, &QToolBar::actionTriggered, toolBar, [this](QAction* action) {
        if (!stopping_ && action->data().isValid())
            OnCommand(action->data().toInt(), kCodeClicked);
    });
    layout->addWidget(toolBar, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    // The template's static control becomes the link, at a fixed size: its text plus 20 pixels each
    // way, scaled.
    auto* link = new HyperlinkLabel(band);
    link->SetLink(QString::fromUtf8(kLinkText), QUrl(QString::fromUtf8(kLinkAddress)));
    const QSize text = link->fontMetrics().size(Qt::TextSingleLine, link->text());
    link->setFixedSize(text.width() + static_cast<int>(20 * scale),
                       text.height() + static_cast<int>(20 * scale));
    if (ItemWindow(kIdLink) != nullptr)
        ReplaceItem(kIdLink, link);
    layout->addWidget(link, 0, Qt::AlignVCenter);

    const int height = std::max(toolBar->sizeHint().height(), link->height()) + 2;
    AddItem(kIdBandBar, band, QRect(0, 0, window->width(), height), kStyleAnchorRight);
    bandBar_ = band;
    toolBar_ = toolBar;
    link_ = link;
}

void MainWindow::SetUpTreeList() {
    auto* view = Item<QTreeView>(kIdTree);
    if (view == nullptr)
        return;
    // The tree sits right below the band bar; its bottom keeps room for the size grip.
    const int top = bandBar_ ? bandBar_->height() : 0;
    view->setGeometry(0, top, Window()->width(), std::max(0, Window()->height() - top));
    view->setFrameShape(QFrame::NoFrame);

    treeList_.Attach(view, kTreeOptions);
    treeList_.SetItemHandlers(nullptr, nullptr, nullptr, nullptr, nullptr, this);
    treeList_.SetInputHandlers(nullptr, &MainWindow::OnRightClick, &MainWindow::OnDoubleClick, nullptr,
                               &MainWindow::OnKeyDown);
    treeList_.SetCopyHandler(&MainWindow::OnCopyKey);
    treeList_.SetCellDrawer(&MainWindow::OnDrawCell);
    treeList_.SetCellHandlers(&MainWindow::OnCellDim, &MainWindow::OnCellToolTip);
    // Wakes only when a value that is fresh now would turn old; each rebuild sets it anew.
    staleTimer_ = new QTimer(Window());
    staleTimer_->setSingleShot(true);
    QObject::connect(staleTimer_, &QTimer::timeout, staleTimer_, [this] { UpdateStaleness(); });
    treeList_.SetExtendedStyle(kTreeExtendedStyle, kTreeExtendedStyle);
    treeList_.AddIcon(IconById(kIconGroup));
    treeList_.AddIcon(IconById(kIconSource));
    treeList_.InsertColumn(Text(kStrName), 0, 300, 0);
    treeList_.InsertColumn(Text(kStrValue), 1, 400, 0);
    QByteArray columns;
    if (LoadColumnLayout(settings_, treeList_.ColumnCount(), columns, kSettingTree))
        treeList_.LoadColumns(columns);
    // The Value column takes the rest of the window, so no empty strip is left beside the header; the
    // saved widths still size the columns before it.
    view->header()->setStretchLastSection(true);
    MakeTreeSink(treeList_, sink_);
}

void MainWindow::CreateContextMenu() {
    menu_ = new QMenu(Window());
    struct Item {
        int command;
        int text; // string id; 0 for the one text of its own
        int icon;
        QChar mnemonic; // the letter that chooses it from the keyboard
    };
    const Item items[] = {
        {kCmdAddGroup, kStrAddGroup, kIconGroup, u'G'},
        {kCmdAddSource, kStrAddSource, kIconSource, u'S'},
        {kCmdAddAllRegisters, kStrAddAllRegisters, kIconAddRegisters, u'M'},
        {0, 0, 0, QChar()},
        {kCmdSetValue, 0, kIconEdit, u'V'},
        {kCmdEdit, kStrEdit, kIconEdit, u'E'},
        {0, 0, 0, QChar()},
        {kCmdDelete, kStrDelete, kIconDelete, u'D'},
    };
    for (const Item& item : items) {
        if (item.command == 0) {
            menu_->addSeparator();
            continue;
        }
        const QString text = item.text != 0 ? ToQString(Text(item.text)) : QStringLiteral("Set Value…");
        QAction* action = menu_->addAction(IconById(item.icon), WithMnemonic(text, item.mnemonic));
        action->setData(item.command);
        if (item.command == kCmdSetValue) {
            // Shown in the menu; the key itself is taken by the tree-list (menus have no shortcuts of
            // their own while closed).
            action->setShortcut(QKeySequence(Qt::Key_F2));
            action->setShortcutVisibleInContextMenu(true);
        }
        if (item.command == kCmdDelete) {
            action->setShortcut(QKeySequence(QKeySequence::Delete));
            action->setShortcutVisibleInContextMenu(true);
        }
    }
}

void MainWindow::LayOut() {
    QWidget* window = Window();
    if (window == nullptr)
        return;
    if (bandBar_)
        bandBar_->setGeometry(0, 0, window->width(), bandBar_->height());
    if (sizeGrip_) {
        const int size = sizeGrip_->width();
        sizeGrip_->move(window->width() - size, window->height() - size);
        sizeGrip_->setVisible(!window->isMaximized() && !window->isFullScreen());
        sizeGrip_->raise();
    }
    // Once the tree-list has its new size.
    QTimer::singleShot(0, window, [this] { FitColumnsToWindow(); });
}

void MainWindow::FitColumnsToWindow() {
    QTreeView* view = treeList_.Tree();
    if (view == nullptr || stopping_)
        return;
    QHeaderView* header = view->header();
    const int count = header->count();
    if (count < 2)
        return;
    // Widths saved in a maximised window would push the Value column out of a smaller one: the
    // columns before it give up width in proportion, so that it keeps a usable width in view.
    const int available = view->viewport()->width();
    const int lastWidth = view->logicalDpiX() * kSmallestLastColumn / 96;
    int before = 0;
    for (int visual = 0; visual + 1 < count; ++visual)
        before += header->sectionSize(header->logicalIndex(visual));
    if (before > 0 && before + lastWidth > available) {
        const double share = static_cast<double>(std::max(0, available - lastWidth)) / before;
        before = 0;
        for (int visual = 0; visual + 1 < count; ++visual) {
            const int logical = header->logicalIndex(visual);
            header->resizeSection(logical, std::max(header->minimumSectionSize(),
                                                    static_cast<int>(header->sectionSize(logical) * share)));
            before += header->sectionSize(logical);
        }
    }
    // The stretched Value column does not shrink below the width it was given last, so a window that
    // got narrower (or a scroll bar that came) would leave it sticking out: it ends at the edge again.
    const int last = header->logicalIndex(count - 1);
    const int fits = std::max(lastWidth, available - before);
    if (header->sectionSize(last) > fits)
        header->resizeSection(last, fits);
}

// ---- the model and the refresh timer --------------------------------------------------------------

void MainWindow::BringToFront() {
    QWidget* window = Window();
    if (window == nullptr)
        return;
    if (window->isMinimized())
        window->showNormal();
    window->raise();
    window->activateWindow();
}

void MainWindow::TellLater(const QString& text) {
    problems_ << text;
    PostDialogMessage(kMsgTellProblem);
}

void MainWindow::TellWhatEnded() {
    DeviceJobsContext::ImportOutcome import;
    if (deviceJobs_.TakeImport(&import) && import.added == 0)
        TellLater(QStringLiteral("No registers were added to %1: %2.")
                      .arg(QString::fromStdString(import.group), QString::fromStdString(import.why)));
    const bool recording = recorder_.IsRecording();
    if (recordingShown_ && !recording && !recorder_.StopReason().empty())
        TellLater(QStringLiteral("Recording stopped: %1. The Record button is off; press it to record again.")
                      .arg(QString::fromStdString(recorder_.StopReason())));
    recordingShown_ = recording;
}

void MainWindow::TellUnreadableTree() {
    const QString path = QString::fromStdString(tree_.ConfigPath());
    const std::string& kept = tree_.KeptUnreadableAs();
    const QString text =
        kept.empty()
            ? QStringLiteral(
                  "%1 could not be read, nor kept aside. It is left as it is: this session's changes "
                  "are not saved.")
                  .arg(path)
            : QStringLiteral(
                  "%1 could not be read; it has been kept as %2. Mistvale starts with an empty tree.")
                  .arg(path, QString::fromStdString(kept));
    ShowMessage(kMsgBoxOk | kMsgBoxIconExclamation, QStringLiteral("Mistvale"), text);
}

void MainWindow::RebuildForPass() {
    if (rebuildDue_)
        return; // the timer rebuilds
    const auto now = std::chrono::steady_clock::now();
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastRebuild_).count();
    if (since >= kRebuildSpacingMs) {
        Rebuild();
        return;
    }
    rebuildDue_ = StartTimer(kRebuildTimerId, static_cast<unsigned>(kRebuildSpacingMs - since)) != 0;
    if (!rebuildDue_)
        Rebuild();
}

void MainWindow::RebuildShowing(const void* record) {
    Rebuild();
    if (TreeItem item = treeList_.FindItemByData(record)) {
        treeList_.SelectItem(item);
        treeList_.EnsureItemVisible(item);
    }
}

void MainWindow::Rebuild() {
    lastRebuild_ = std::chrono::steady_clock::now();
    if (sink_.context != nullptr)
        tree_.Rebuild(sink_);
    listed_.Update(tree_);
    UpdateStaleness();
    UpdateRecordAction();
    if (mqtt_.IsOn() && tree_.ChangeCount() != topicsAtChange_) {
        topicsAtChange_ = tree_.ChangeCount();
        mqtt_.UpdateTopics();
    }
    UpdateMqttAction();
    TellWhatEnded();
    if (rebuildObserver_ != nullptr && tree_.IsLoaded())
        rebuildObserver_(rebuildContext_);
}

void MainWindow::RestartRefreshTimer() {
    StopTimer(kRefreshTimerId);
    tree_.QueueRefresh();
    timerIntervalMs_ = RefreshIntervalMs(refreshTime_);
    if (!StartTimer(kRefreshTimerId, static_cast<unsigned>(timerIntervalMs_)))
        timerIntervalMs_ = 0;
}

void MainWindow::RearmRefreshTimer(unsigned refreshTime) {
    // A new rate from the Options dialog: the next refresh comes when the new interval has passed.
    timerIntervalMs_ = RefreshIntervalMs(refreshTime);
    if (!StartTimer(kRefreshTimerId, static_cast<unsigned>(timerIntervalMs_)))
        timerIntervalMs_ = 0;
}

void MainWindow::OnRearm(void* context, unsigned refreshTime) {
    static_cast<MainWindow*>(context)->RearmRefreshTimer(refreshTime);
}

void MainWindow::OnModelNotify(void* context, int message) {
    // Worker thread: only post.
    auto* self = static_cast<MainWindow*>(context);
    // Many lines end their passes about together: one message on its way is enough.
    if (message == WM_MODEL_CHANGED && !self->modelChangePosted_.exchange(true))
        self->PostDialogMessage(WM_MODEL_CHANGED);
    else if (message == WM_SEARCH_FINISHED)
        self->searchDialog_.NotifySearchFinished();
}

void MainWindow::Pump(void*) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void MainWindow::ValidateCurrentRecord() {
    if (current_ != nullptr && !LookUpRecord(tree_, current_, nullptr))
        current_ = nullptr;
}

int MainWindow::LookUpCurrent(RecordSnapshot* snapshot) {
    if (current_ == nullptr)
        return 0;
    if (!LookUpRecord(tree_, current_, snapshot)) {
        // Deleted by the worker meanwhile: forget it rather than touch it.
        current_ = nullptr;
        return 0;
    }
    return 1;
}

// ---- messages and commands ------------------------------------------------------------------------

int MainWindow::OnMessage(int message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
    case kMsgSize:
        LayOut();
        return 1;
    case kMsgTimer:
        if (wParam == kRefreshTimerId) {
            if (!stopping_)
                RestartRefreshTimer();
            return 1;
        }
        if (wParam == kSaveTimerId) {
            if (!stopping_)
                tree_.SaveIfChanged();
            return 1;
        }
        if (wParam == kRebuildTimerId) {
            StopTimer(kRebuildTimerId);
            rebuildDue_ = false;
            ValidateCurrentRecord();
            Rebuild();
            return 1;
        }
        break;
    case kMsgTreeUnreadable:
        TellUnreadableTree();
        return 1;
    case kMsgTellProblem:
        if (!problems_.isEmpty() && !stopping_)
            ShowMessage(kMsgBoxOk | kMsgBoxIconExclamation, QStringLiteral("Mistvale"),
                        problems_.takeFirst());
        return 1;
    case WM_MODEL_CHANGED:
        modelChangePosted_.store(false);
        // A record the worker deleted is never used again by a command.
        ValidateCurrentRecord();
        RebuildForPass();
        return 1;
    default:
        break;
    }
    return DialogBase::OnMessage(message, wParam, lParam);
}

int MainWindow::OnCommand(int id, int code) {
    if (!stopping_) {
        switch (id) {
        case kCmdOptions: {
            QString url;
            settings_.GetString(kSettingMqttUrl, url);
            const QString before = url;
            // A broker named on the command line is this run's; the field is for the stored one.
            optionsDialog_.SetMqttUrl(mqttGiven_ ? nullptr : &url);
            if (optionsDialog_.Run(refreshTime_, flags_, &MainWindow::OnRearm, this, Window()) == 1 &&
                !mqttGiven_ && url != before) {
                settings_.SetString(kSettingMqttUrl, url);
                mqtt_.Stop();
                StartMqtt();
            }
            break;
        }
        case kCmdSearch:
            searchDialog_.Run(tree_, &deviceJobs_, &sink_, Window());
            break;
        case kCmdEdit:
            EditCurrent();
            break;
        case kCmdDelete:
            DeleteCurrent();
            break;
        case kCmdAddSource:
            AddSourceToCurrent();
            break;
        case kCmdAddGroup:
            AddGroup();
            break;
        case kCmdAddAllRegisters:
            AddAllRegistersOfCurrent();
            break;
        case kCmdSetValue:
            SetValueOfCurrent();
            break;
        case kCmdRecord:
            ToggleRecording();
            break;
        case kCmdTraffic:
            ShowTraffic();
            break;
        default:
            break;
        }
    }
    // Ends the window for Escape (2) and 8; Enter (1) does nothing.
    return DialogBase::OnCommand(id, code);
}

void MainWindow::PrepareContextMenu(const void* data) {
    current_ = data;
    RecordSnapshot snapshot;
    const bool listed = LookUpCurrent(&snapshot) != 0;
    const ContextMenuState state = ContextMenuStateFor(listed ? &snapshot : nullptr);
    auto enable = [this](int command, bool on) {
        if (QAction* action = MenuAction(command))
            action->setEnabled(on);
    };
    enable(kCmdAddGroup, state.addGroup);
    enable(kCmdAddSource, state.addSource);
    enable(kCmdAddAllRegisters, state.addAllRegisters);
    enable(kCmdEdit, state.edit);
    enable(kCmdDelete, state.remove);
    enable(kCmdSetValue, state.setValue);
}

QAction* MainWindow::MenuAction(int command) const {
    if (menu_ == nullptr)
        return nullptr;
    for (QAction* action : menu_->actions())
        if (action->data().isValid() && action->data().toInt() == command)
            return action;
    return nullptr;
}

void MainWindow::ShowContextMenu(const void* data) {
    if (menu_ == nullptr || stopping_)
        return;
    // The right-clicked item (or none) becomes the selection.
    treeList_.SelectItem(data != nullptr ? treeList_.FindItemByData(data) : nullptr);
    PrepareContextMenu(data);
    Window()->activateWindow();
    // At the mouse when it points at the record's row (a right-click); else (the menu key, Shift+F10)
    // just below the start of the record's row, where the eye already is.
    QPoint at = QCursor::pos();
    QTreeView* view = treeList_.Tree();
    TreeItem item = data != nullptr ? treeList_.FindItemByData(data) : treeList_.GetSelectedItem();
    CellRect row{};
    if (view != nullptr && item != nullptr && treeList_.GetCellRect(item, 0, row)) {
        const QRect rowRect(QPoint(0, row.top), QPoint(view->viewport()->width(), row.bottom - 1));
        const QPoint mouse = view->viewport()->mapFromGlobal(at);
        if (!rowRect.contains(mouse))
            at = view->viewport()->mapToGlobal(QPoint(row.left, row.bottom));
    }
    QAction* chosen = menu_->exec(at);
    if (chosen != nullptr && chosen->isEnabled() && chosen->data().isValid())
        OnCommand(chosen->data().toInt(), kCodeClicked);
}

void MainWindow::EditCurrent() {
    RecordSnapshot record;
    if (!LookUpCurrent(&record))
        return;
    int result = 0;
    if (record.kind == RecordKind::Group)
        result = groupDialog_.Run(tree_, record.group, Window());
    else
        result = sourceDialog_.Run(tree_, record.source, Window());
    if (result == 1) {
        tree_.NoteEdited();
        Rebuild();
    }
}

void MainWindow::DeleteCurrent() {
    RecordSnapshot record;
    if (!LookUpCurrent(&record))
        return;
    const bool group = record.kind == RecordKind::Group;
    WideString question;
    // The name is an insert: whatever it holds ("100%", "%1") is shown as typed.
    FormatText(question, group ? kStrDeleteGroupQuestion : kStrDeleteSourceQuestion, {record.name});
    const int answer =
        ShowMessage(kMsgBoxYesNo | kMsgBoxIconQuestion, QStringLiteral("Mistvale"), ToQString(question));
    if (answer != kMsgResultYes)
        return;
    // A refused job (the worker is not running) is dropped silently.
    if (group)
        tree_.QueueDeleteGroup(record.group);
    else
        tree_.QueueDeleteSource(record.source);
}

void MainWindow::AddSourceToCurrent() {
    RecordSnapshot record;
    if (!LookUpCurrent(&record) || record.kind != RecordKind::Group || record.parameter.IsEmpty())
        return;
    auto* source = new Source();
    source->SetGroup(record.group);
    if (sourceDialog_.Run(tree_, source, Window()) == 1 && AddSourceIfListed(tree_, record.group, source)) {
        RebuildShowing(source);
        return;
    }
    // Cancelled, or the group was deleted while the dialog was open.
    delete source;
}

void MainWindow::AddGroup() {
    auto* group = new Group();
    if (groupDialog_.Run(tree_, group, Window()) == 1 && tree_.AddGroup(group)) {
        RebuildShowing(static_cast<Record*>(group));
        return;
    }
    delete group;
}

void MainWindow::SetValueOfCurrent() {
    RecordSnapshot record;
    if (!LookUpCurrent(&record) || record.kind != RecordKind::Source)
        return;
    valueDialog_.Run(tree_, record.source, Window());
}

void MainWindow::AddAllRegistersOfCurrent() {
    RecordSnapshot record;
    if (!LookUpCurrent(&record) || record.kind != RecordKind::Group)
        return;
    tree_.QueueAddAllRegisters(record.group);
}

// ---- tree-list handlers ---------------------------------------------------------------------------

void MainWindow::OnRightClick(TreeItem item, void* context) {
    auto* self = static_cast<MainWindow*>(context);
    void* data = nullptr;
    if (item != nullptr)
        self->treeList_.GetItemInfo(item, nullptr, &data, nullptr, nullptr, nullptr, 0, nullptr);
    self->ShowContextMenu(data);
}

void MainWindow::OnDoubleClick(TreeItem item, void* context) {
    auto* self = static_cast<MainWindow*>(context);
    void* data = nullptr;
    if (item == nullptr || self->stopping_ ||
        !self->treeList_.GetItemInfo(item, nullptr, &data, nullptr, nullptr, nullptr, 0, nullptr))
        return;
    // Only sources open the Value dialog; a group just opens or closes, as a tree's double-click does.
    RecordSnapshot record;
    if (!LookUpRecord(self->tree_, data, &record))
        return;
    if (record.kind == RecordKind::Group)
        self->treeList_.ExpandItem(item, TreeListView::kToggle);
    else
        self->valueDialog_.Run(self->tree_, record.source, self->Window());
}

void MainWindow::OnKeyDown(int virtualKey, void* context) {
    auto* self = static_cast<MainWindow*>(context);
    // Delete removes the selected record; F2 writes the selected source (Enter does nothing).
    const int command = virtualKey == kVkDelete ? kCmdDelete : virtualKey == kVkF2 ? kCmdSetValue : 0;
    if (command == 0 || self->stopping_)
        return;
    void* data = nullptr;
    self->treeList_.GetSelectedItemData(nullptr, &data);
    self->current_ = data;
    self->PostCommand(command);
}

void MainWindow::OnCopyKey(TreeItem item, void* context) {
    auto* self = static_cast<MainWindow*>(context);
    void* data = nullptr;
    if (item == nullptr ||
        !self->treeList_.GetItemInfo(item, nullptr, &data, nullptr, nullptr, nullptr, 0, nullptr))
        return;
    // What the row shows: a source's value text, a group's name.
    RecordSnapshot record;
    if (!LookUpRecord(self->tree_, data, &record))
        return;
    QString text =
        record.kind == RecordKind::Source ? ToQString(record.source->Value()) : ToQString(record.name);
    QApplication::clipboard()->setText(text);
}

namespace {

struct CellDrawing {
    TreeItem item;
    int column;
    const CellRect* rect;
    DrawingSurface* surface;
};

void DrawListedCell(Source& source, void* context) {
    auto* cell = static_cast<CellDrawing*>(context);
    DrawValueCell(cell->item, static_cast<Record*>(&source), cell->column, *cell->rect, *cell->surface,
                  nullptr);
}

} // namespace

void MainWindow::OnDrawCell(TreeItem item, void* data, int column, const CellRect& rect,
                            DrawingSurface& surface, void* context) {
    // A row may still name a source the worker deleted a moment ago (the rebuild that drops it is on
    // its way): draw only a source the model lists, and only while it is held.
    auto* self = static_cast<MainWindow*>(context);
    CellDrawing cell{item, column, &rect, &surface};
    self->listed_.With(self->tree_, data, &DrawListedCell, &cell);
}

int MainWindow::OnCellDim(TreeItem, void* data, int column, void* context) {
    return column == 1 && static_cast<MainWindow*>(context)->stale_.Contains(data);
}

namespace {

constexpr qsizetype kToolTipLineLength = 80;

struct ValueAndOutcome {
    WideString value;
    SourceOutcome outcome;
};

void CopyValueAndOutcome(Source& source, void* context) {
    auto* copy = static_cast<ValueAndOutcome*>(context);
    copy->value = source.Value();
    copy->outcome = source.Outcome();
}

} // namespace

int MainWindow::OnCellToolTip(TreeItem item, void* data, int column, QString& text, void* context) {
    auto* self = static_cast<MainWindow*>(context);
    ValueAndOutcome copy;
    if (column != 1 || !self->listed_.With(self->tree_, data, &CopyValueAndOutcome, &copy))
        return 0;
    text = ValueToolTip(copy.outcome, self->stale_.Contains(data));
    // A value cut short in its cell (a 64-bit number or a large double in a narrow column) is given
    // whole here.
    const QString value = QString::fromUtf16(copy.value.Text(), copy.value.Length());
    CellRect cell;
    if (!value.isEmpty() && self->treeList_.Tree() != nullptr && self->treeList_.GetCellRect(item, 1, cell) &&
        (value.size() > kMaxPaintedText ||
         self->treeList_.Tree()->fontMetrics().horizontalAdvance(value) > cell.right - cell.left)) {
        // In lines a tooltip can show: a number has no spaces to wrap at.
        QString whole;
        for (qsizetype at = 0; at < value.size(); at += kToolTipLineLength)
            whole += (at == 0 ? QString() : QStringLiteral("\n")) + value.mid(at, kToolTipLineLength);
        text = text.isEmpty() ? whole : whole + QLatin1Char('\n') + text;
    }
    return text.isEmpty() ? 0 : 1;
}

// ---- old values and the record of values ---------------------------------------------------------

void MainWindow::UpdateStaleness() {
    if (!tree_.IsLoaded() || stopping_)
        return;
    const SteadyTime now = std::chrono::steady_clock::now();
    if (stale_.Update(tree_, refreshTime_, now) && treeList_.Tree() != nullptr)
        treeList_.Tree()->viewport()->update();
    if (staleTimer_.isNull())
        return;
    if (stale_.NextChange() == SteadyTime::max()) {
        staleTimer_->stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(stale_.NextChange() - now).count();
    staleTimer_->start(static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX)));
}

int MainWindow::SetRecording(const QString& path) {
    int ok = 1;
    if (path.isEmpty()) {
        recorder_.Stop();
    } else {
        std::string error;
        ok = recorder_.Start(path.toStdString(), &error);
        if (!ok) {
            std::fprintf(stderr, "Mistvale: cannot record into %s: %s\n", path.toLocal8Bit().constData(),
                         error.c_str());
            TellLater(QStringLiteral("The values cannot be recorded into %1: %2.")
                          .arg(path, QString::fromStdString(error)));
        }
    }
    recordingShown_ = recorder_.IsRecording();
    UpdateRecordAction();
    return ok;
}

void MainWindow::StartMqtt() {
    MqttSettings settings = mqttSettings_;
    if (!mqttGiven_) {
        QString url;
        if (!settings_.GetString(kSettingMqttUrl, url) || url.trimmed().isEmpty())
            return;
        settings.url = url.trimmed().toStdString();
        if (const char* password = std::getenv("MISTVALE_MQTT_PASSWORD"); password != nullptr)
            settings.password = password;
        mqttSettings_ = settings;
    }
    if (settings.clientId.empty())
        settings.clientId = StableClientId(configPath_.empty() ? DefaultConfigPath() : configPath_);
    std::string why;
    // The broker's state shows on the toolbar; its changes also go to standard error.
    if (!mqtt_.Start(
            settings, [](const std::string& line) { std::fprintf(stderr, "mistvale: %s\n", line.c_str()); },
            &why)) {
        std::fprintf(stderr, "mistvale: cannot publish to %s: %s\n", settings.url.c_str(), why.c_str());
        ShowMessage(kMsgBoxOk | kMsgBoxIconExclamation, QStringLiteral("Mistvale"),
                    QStringLiteral("Values cannot be published to %1: %2")
                        .arg(QString::fromStdString(settings.url), QString::fromStdString(why)));
    }
    topicsAtChange_ = tree_.ChangeCount();
    UpdateMqttAction();
}

void MainWindow::UpdateMqttAction() {
    if (mqttAction_.isNull())
        return;
    const MqttPublisher::State state = mqtt_.Publisher().CurrentState();
    mqttAction_->setVisible(state != MqttPublisher::State::Off);
    const char* text = state == MqttPublisher::State::Connected ? "MQTT: connected"
                       : state == MqttPublisher::State::Lost    ? "MQTT: broker lost"
                                                                : "MQTT: connecting";
    mqttAction_->setText(QString::fromLatin1(text));
    mqttAction_->setToolTip(QStringLiteral("%1 (%2), topics %3/…")
                                .arg(QString::fromLatin1(text), QString::fromStdString(mqttSettings_.url),
                                     QString::fromStdString(mqtt_.Publisher().Prefix())));
}

void MainWindow::ShowTraffic() {
    // A tool window beside the tree, not modal: the tree goes on refreshing while it shows the frames.
    if (traffic_.isNull())
        traffic_ = new TrafficWindow(&settings_, Window());
    traffic_->show();
    traffic_->raise();
    traffic_->activateWindow();
}

void MainWindow::ToggleRecording() {
    if (recorder_.IsRecording()) {
        SetRecording(QString());
        return;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString name = QStringLiteral("Mistvale-%1.csv")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    // Recording appends to a file that exists, so choosing one replaces nothing.
    const QString path = QFileDialog::getSaveFileName(
        Window(), QStringLiteral("Record Values"), QDir(folder).filePath(name),
        QStringLiteral("CSV files (*.csv);;All files (*)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) {
        UpdateRecordAction();
        return;
    }
    SetRecording(path); // a failure is told
}

void MainWindow::UpdateRecordAction() {
    if (recordAction_.isNull())
        return;
    const bool recording = recorder_.IsRecording();
    recordAction_->setChecked(recording);
    QString tip;
    if (recording)
        tip = QStringLiteral("Recording values to %1. Click to stop.")
                  .arg(QString::fromStdString(recorder_.Path()));
    else if (!recorder_.StopReason().empty())
        tip = QStringLiteral("Recording stopped: %1. Click to record again.")
                  .arg(QString::fromStdString(recorder_.StopReason()));
    else
        tip = QStringLiteral("Record every value into a CSV file");
    recordAction_->setToolTip(WithShortcut(tip, recordAction_));
}

// ---- quitting on request --------------------------------------------------------------------------

void MainWindow::OnTerminationSignal(void* context, int) {
    static_cast<MainWindow*>(context)->RequestQuit();
}

void MainWindow::RequestQuit() {
    if (stopping_ || quitRequested_ || !IsRunning())
        return;
    quitRequested_ = true;
    QTimer::singleShot(0, Window(), [this] { ContinueQuit(); });
}

void MainWindow::ContinueQuit() {
    if (stopping_ || !IsRunning())
        return;
    // Whatever is open over the main window goes first, so that no dialog is left holding a record of
    // the model that shutdown deletes. Menus close at once, message boxes answer No, dialogs get their
    // Escape (a dialog that cannot close yet, such as a running search, is asked again shortly).
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        QTimer::singleShot(0, Window(), [this] { ContinueQuit(); });
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != Window()) {
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->close();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTimer::singleShot(50, Window(), [this] { ContinueQuit(); });
        return;
    }
    OnClose();
}

} // namespace mistvale
