#include "dialogs/search_dialog.h"

#include "modbus/device_jobs.h"
#include "modbus/found_device.h"
#include "model/group.h"
#include "model/model_messages.h"
#include "model/monitor_tree.h"
#include "platform/string_table.h"
#include "resources/app_icons.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVariant>

#include <algorithm>
#include <vector>

namespace mistvale {

// Template 115 (no default push button: Enter in the baud field must not start a search).
static const ControlTemplate kSearchControls[] = {
    {SearchDialog::kIdBaudLabel, ControlKind::Label, 5, 5, 40, 14, "Baud Rate", kStyleNone},
    {SearchDialog::kIdBaud, ControlKind::DropDownCombo, 50, 5, 59, 14, nullptr, kStyleNone},
    {SearchDialog::kIdParityLabel, ControlKind::Label, 135, 5, 40, 14, "Parity", kStyleNone},
    {SearchDialog::kIdParity, ControlKind::DropDownList, 180, 5, 60, 14, nullptr, kStyleNone},
    {SearchDialog::kIdList, ControlKind::ListView, 5, 26, 441, 81, nullptr,
     kStyleCheckBoxes | kStyleAnchorRight | kStyleAnchorBottom},
    {SearchDialog::kIdProgress, ControlKind::ProgressBar, 5, 114, 245, 12, nullptr,
     kStyleHidden | kStyleAnchorRight | kStyleMoveDown},
    {SearchDialog::kIdStop, ControlKind::PushButton, 258, 113, 60, 14, "Stop",
     kStyleDisabled | kStyleMoveRight | kStyleMoveDown},
    {SearchDialog::kIdSearch, ControlKind::PushButton, 323, 113, 60, 14, "Search",
     kStyleMoveRight | kStyleMoveDown},
    {SearchDialog::kIdAdd, ControlKind::PushButton, 388, 113, 60, 14, "Add",
     kStyleDisabled | kStyleMoveRight | kStyleMoveDown},
};

static const DialogTemplate kSearchTemplate = {
    115,
    452,
    132,
    "Mistvale",
    kSearchControls,
    static_cast<int>(sizeof kSearchControls / sizeof kSearchControls[0]),
    kDialogResizable,
};

const DialogTemplate* SearchDialog::Template() {
    return &kSearchTemplate;
}

// Timer of the progress bar while a search runs.
static constexpr int kProgressTimer = 1;

// Column headers (string ids) and widths in pixels at 96 dots per inch.
// The Port column has no string of the table: its caption is the only new text.
static const int kColumnHeaders[SearchDialog::kColumnCount - 1] = {kStrDevice, kStrVendor, kStrProduct,
                                                                   kStrVersion, kStrSerialNumber};
static const int kColumnWidths[SearchDialog::kColumnCount] = {70, 140, 100, 100, 170, 90};

// Identification objects shown in columns 1 to 4.
static const int kColumnObjects[SearchDialog::kColumnCount] = {-1, 0, 1, 2, 5, -1};

// A device's identification text as one line: line breaks, tabs and other control characters become
// one space each run, so a text a device sent with them neither breaks the row nor the group name.
static WideString OneLine(const WideString& text) {
    std::u16string line;
    bool space = false;
    for (int i = 0; i < text.Length(); ++i) {
        const char16_t c = text.Text()[i];
        if (c < 0x20 || c == 0x7F) {
            space = true;
            continue;
        }
        if (space && !line.empty())
            line.push_back(u' ');
        space = false;
        line.push_back(c);
    }
    return WideString(line.c_str());
}

static FoundDevice* DeviceOfItem(const QTreeWidgetItem* item) {
    return static_cast<FoundDevice*>(item->data(0, Qt::UserRole).value<void*>());
}

SearchDialog::SearchDialog() = default;

SearchDialog::~SearchDialog() {
    results_.DeleteAll();
}

int SearchDialog::Run(MonitorTree& tree, DeviceJobsContext* jobs, const TreeSink* sink, QWidget* owner) {
    tree_ = &tree;
    jobs_ = jobs;
    sink_ = sink;
    searching_ = false;
    SetIcon(kIconApp);
    int result = DialogBase::Run(&kSearchTemplate, owner);
    tree_ = nullptr;
    jobs_ = nullptr;
    sink_ = nullptr;
    return result;
}

void SearchDialog::NotifySearchFinished() {
    PostDialogMessage(WM_SEARCH_FINISHED);
}

int SearchDialog::ReadSearchSettings(void* context, unsigned* baud, char16_t* parity) {
    const SearchDialog* dialog = static_cast<const SearchDialog*>(context);
    unsigned baudRate = 38400;
    char16_t parityLetter = u'N';
    if (dialog != nullptr) {
        std::lock_guard<std::mutex> lock(dialog->settingsMutex_);
        baudRate = dialog->baudSnapshot_;
        parityLetter = dialog->paritySnapshot_;
    }
    if (baud != nullptr)
        *baud = baudRate;
    if (parity != nullptr)
        *parity = parityLetter;
    return 1;
}

QTreeWidget* SearchDialog::List() const {
    return Item<QTreeWidget>(kIdList);
}

// The number at the front of a baud text ("%u"): blanks skipped, then decimal digits; 38400 when there
// are none. A value too large for 32 bits is kept at the largest one (the port then refuses it).
static unsigned ParseBaud(const WideString& text) {
    int i = 0;
    while (text.At(i) == u' ' || text.At(i) == u'\t')
        ++i;
    if (text.At(i) < u'0' || text.At(i) > u'9')
        return 38400;
    unsigned long long value = 0;
    for (; text.At(i) >= u'0' && text.At(i) <= u'9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text.At(i) - u'0');
        if (value > 0xFFFFFFFFull)
            value = 0xFFFFFFFFull;
    }
    return static_cast<unsigned>(value);
}

void SearchDialog::UpdateSettingsSnapshot() {
    WideString baudText;
    baud_.GetText(baudText);
    std::uint32_t parity = 0;
    const char16_t letter =
        parity_.SelectedValue(nullptr, &parity) != 0 ? static_cast<char16_t>(parity) : u'N';
    std::lock_guard<std::mutex> lock(settingsMutex_);
    baudSnapshot_ = ParseBaud(baudText);
    paritySnapshot_ = letter;
}

WideString SearchDialog::ParityLetter() const {
    std::uint32_t parity = 0;
    WideString letter;
    letter.AppendChar(parity_.SelectedValue(nullptr, &parity) != 0 ? static_cast<char16_t>(parity) : u'N');
    return letter;
}

int SearchDialog::OnInit() {
    SetTitle(FormatTitle(WideString(u"Mistvale")));
    SetItemText(kIdAdd, Text(kStrAdd));
    SetItemText(kIdSearch, Text(kStrSearch));

    if (QTreeWidget* list = List()) {
        list->setColumnCount(kColumnCount);
        QStringList headers;
        for (int id : kColumnHeaders)
            headers << ToQString(Text(id));
        headers << QStringLiteral("Port");
        list->setHeaderLabels(headers);
        const double scale = list->logicalDpiX() / 96.0;
        for (int column = 0; column < kColumnCount; ++column)
            list->setColumnWidth(column, static_cast<int>(kColumnWidths[column] * scale));
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setRootIsDecorated(false);
        list->setSortingEnabled(false);
        QHeaderView* header = list->header();
        header->setSectionsClickable(true);
        header->setSortIndicatorShown(false);
        header->setStretchLastSection(true);
        QObject::connect(header, &QHeaderView::sectionClicked, list,
                         [this](int column) { SortByColumn(column); });
    }

    baud_.Attach(ItemWindow(kIdBaud));
    for (const char16_t* rate : {u"9600", u"19200", u"38400", u"57600", u"115200"})
        baud_.Add(WideString(rate), 0, kIconBaudRate);
    int index = -1;
    if (baud_.FindText(WideString(u"38400"), 1, -1, &index) != 0)
        baud_.Select(index);
    baud_.SetText(WideString(u"38400"));

    parity_.Attach(ItemWindow(kIdParity));
    parity_.Add(WideString(u"None"), 'N', kIconParityNone, &index);
    parity_.Select(index);
    parity_.Add(WideString(u"Even"), 'E', kIconParityEven);
    parity_.Add(WideString(u"Odd"), 'O', kIconParityOdd);

    progress_.Attach(ItemWindow(kIdProgress));
    SetMinimumSize(kSearchTemplate.width, kSearchTemplate.height, true);
    searching_ = false;
    sortColumn_ = -1;
    EnableItem(kIdAdd, 0);
    progress_.Show(0);
    progress_.Animate(0);
    UpdateSettingsSnapshot();
    return 1;
}

int SearchDialog::OnCommand(int id, int code) {
    switch (id) {
    case kIdSearch:
        if (!searching_)
            StartSearch();
        return 1;
    case kIdAdd:
        if (!searching_)
            AddCheckedDevices();
        return 1;
    case kIdStop:
        if (searching_) {
            stopRequested_ = true;
            EnableItem(kIdStop, 0);
        }
        return 1;
    case kIdBaud:
    case kIdParity:
        // The worker reads these for each port it scans, so the copy follows every change.
        UpdateSettingsSnapshot();
        return 1;
    case kIdList:
        if (code == kCodeDoubleClick && !searching_) {
            PostCommand(kIdAdd);
            return 1;
        }
        return 0;
    default:
        break;
    }
    return DialogBase::OnCommand(id, code);
}

void SearchDialog::ClearResults() {
    if (QTreeWidget* list = List()) {
        list->clear();
        list->header()->setSortIndicatorShown(false);
    }
    sortColumn_ = -1;
    sortAscending_ = true;
    results_.DeleteAll();
}

void SearchDialog::StartSearch() {
    ClearResults();
    EnableItem(kIdList, 0);
    EnableItem(kIdAdd, 0);
    // A second search while one runs would empty the list the worker is filling.
    EnableItem(kIdSearch, 0);
    progress_.Show(1);
    progress_.Animate(60);
    UpdateSettingsSnapshot();
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        progressPort_.Clear();
        progressAddress_ = progressLast_ = 0;
    }
    stopRequested_ = false;
    EnableItem(kIdStop, 1);
    StartTimer(kProgressTimer, 100);
    searching_ = true;
    int queued = 0;
    if (tree_ != nullptr && jobs_ != nullptr) {
        SearchTarget target;
        target.results = &results_;
        target.settings = ReadSearchSettings;
        target.settingsContext = this;
        target.progress = OnSearchProgress;
        jobs_->SetSearchTarget(target);
        queued = tree_->QueueSearch();
    }
    if (queued == 0) {
        // The worker does not run: nothing will come, so the dialog goes back to its idle state
        // instead of showing a search that never ends.
        searching_ = false;
        if (jobs_ != nullptr)
            jobs_->ClearSearchTarget();
        StopTimer(kProgressTimer);
        EnableItem(kIdStop, 0);
        progress_.Show(0);
        progress_.Animate(0);
        EnableItem(kIdList, 1);
        EnableItem(kIdSearch, 1);
    }
}

void SearchDialog::ShowResults() {
    QTreeWidget* list = List();
    int count = 0;
    if (list != nullptr) {
        const QIcon icon = IconById(kIconDevice);
        SharedLock lock(results_);
        for (ListItem* entry = results_.First(); entry != nullptr; entry = entry->Next()) {
            FoundDevice* device = static_cast<FoundDevice*>(entry);
            QTreeWidgetItem* item = new QTreeWidgetItem();
            item->setText(kColumnDevice, QString::number(device->slave));
            item->setIcon(kColumnDevice, icon);
            item->setData(0, Qt::UserRole, QVariant::fromValue<void*>(device));
            for (int column = kColumnVendor; column < kColumnPort; ++column)
                item->setText(column, ToQString(OneLine(device->identification[kColumnObjects[column]])));
            item->setText(kColumnPort, ToQString(device->port));
            if (device->identification[0].IsEmpty() && device->identification[1].IsEmpty())
                item->setText(kColumnVendor, ToQString(Text(kStrUnknownDevice)));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Checked);
            list->addTopLevelItem(item);
            ++count;
        }
    }
    EnableItem(kIdList, 1);
    EnableItem(kIdAdd, count > 0 ? 1 : 0);
    EnableItem(kIdSearch, 1);
    EnableItem(kIdStop, 0);
    StopTimer(kProgressTimer);
    progress_.Show(0);
    progress_.Animate(0);
    searching_ = false;
}

int SearchDialog::OnSearchProgress(void* context, const WideString& port, unsigned address,
                                   unsigned lastAddress) {
    auto* dialog = static_cast<SearchDialog*>(context);
    if (dialog == nullptr)
        return 1;
    {
        std::lock_guard<std::mutex> lock(dialog->progressMutex_);
        if (!(dialog->progressPort_ == port))
            dialog->progressPort_ = port;
        dialog->progressAddress_ = address;
        dialog->progressLast_ = lastAddress;
    }
    return dialog->stopRequested_.load() ? 0 : 1;
}

void SearchDialog::ShowProgress() {
    WideString port;
    unsigned address = 0, last = 0;
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        port = progressPort_;
        address = progressAddress_;
        last = progressLast_;
    }
    if (last == 0)
        return; // no port probed yet: the bar stays busy
    progress_.SetProgress(static_cast<int>(address), static_cast<int>(last),
                          QStringLiteral("%1: address %2 of %3").arg(ToQString(port)).arg(address).arg(last));
}

void SearchDialog::AddCheckedDevices() {
    QTreeWidget* list = List();
    if (list == nullptr || tree_ == nullptr)
        return;
    WideString baudText;
    baud_.GetText(baudText);
    const WideString parity = ParityLetter();
    int added = 0;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        FoundDevice* device = DeviceOfItem(item);
        if (item->checkState(0) != Qt::Checked || device == nullptr)
            continue;
        Group* group = new Group();
        WideString name;
        if (!device->identification[0].IsEmpty() || !device->identification[1].IsEmpty()) {
            name.Format(u"%s %s [%u]", OneLine(device->identification[0]).Text(),
                        OneLine(device->identification[1]).Text(), device->slave);
        } else {
            name.Format(Text(kStrDeviceAtAddress), device->slave);
        }
        WideString path;
        path.Format(u"ModbusSerial/%s/%c/%s/0x%02X", baudText.Text(), static_cast<int>(parity.At(0)),
                    device->port.Text(), device->slave);
        group->SetNameAndParameter(name, path);
        if (tree_->AddGroup(group) != 0)
            ++added;
        else
            delete group;
    }
    if (added > 0) {
        if (sink_ != nullptr)
            tree_->Rebuild(*sink_);
        End(0);
    }
}

// Orders two cell texts: every ':' removed, then natural order (digit runs as numbers, no case).
static int CompareCells(const QString& left, const QString& right) {
    QString a = left;
    QString b = right;
    a.remove(QLatin1Char(':'));
    b.remove(QLatin1Char(':'));
    const WideString wa = ToWideString(a);
    const WideString wb = ToWideString(b);
    return wa.CompareNatural(wb.Text());
}

void SearchDialog::SortByColumn(int column) {
    QTreeWidget* list = List();
    if (list == nullptr || column < 0 || column >= kColumnCount)
        return;
    if (column == sortColumn_) {
        sortAscending_ = !sortAscending_;
    } else {
        sortColumn_ = column;
        sortAscending_ = true;
    }
    std::vector<QTreeWidgetItem*> rows;
    while (list->topLevelItemCount() > 0)
        rows.push_back(list->takeTopLevelItem(0));
    const bool ascending = sortAscending_;
    std::stable_sort(rows.begin(), rows.end(), [column, ascending](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const int order = CompareCells(a->text(column), b->text(column));
        return ascending ? order < 0 : order > 0;
    });
    for (QTreeWidgetItem* row : rows)
        list->addTopLevelItem(row);
    QHeaderView* header = list->header();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

int SearchDialog::OnMessage(int message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == kMsgTimer && wParam == kProgressTimer) {
        if (searching_)
            ShowProgress();
        return 1;
    }
    if (message == WM_SEARCH_FINISHED) {
        if (searching_)
            ShowResults();
        return 1;
    }
    return DialogBase::OnMessage(message, wParam, lParam);
}

int SearchDialog::OnDestroy(int result) {
    if (searching_) {
        // The worker is still filling the result list and reading the settings.
        return 0;
    }
    if (jobs_ != nullptr)
        jobs_->ClearSearchTarget();
    baud_.Clear();
    parity_.Clear();
    if (QTreeWidget* list = List())
        list->clear();
    results_.DeleteAll();
    (void)result;
    return 1;
}

} // namespace mistvale
