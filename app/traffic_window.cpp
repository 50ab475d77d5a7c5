#include "app/traffic_window.h"

#include "app/settings_store.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace mistvale {

namespace {

constexpr const char* kGeometrySetting = "Traffic";
constexpr int kBatchMs = 100;

} // namespace

TrafficWindow::TrafficWindow(SettingsStore* settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
    setWindowTitle(QStringLiteral("Traffic - Mistvale"));
    filter_.setSourceModel(&frames_);

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("&Line"), this));
    lineChoice_ = new QComboBox(this);
    lineChoice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    lineChoice_->addItem(QStringLiteral("All lines"));
    static_cast<QLabel*>(bar->itemAt(0)->widget())->setBuddy(lineChoice_);
    bar->addWidget(lineChoice_);
    auto* slaveLabel = new QLabel(QStringLiteral("&Slave"), this);
    bar->addWidget(slaveLabel);
    slaveChoice_ = new QComboBox(this);
    slaveChoice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    slaveChoice_->addItem(QStringLiteral("All"), -1);
    slaveLabel->setBuddy(slaveChoice_);
    bar->addWidget(slaveChoice_);
    bar->addStretch(1);
    pause_ = new QPushButton(QStringLiteral("&Pause"), this);
    pause_->setCheckable(true);
    auto* clear = new QPushButton(QStringLiteral("C&lear"), this);
    auto* copy = new QPushButton(QStringLiteral("&Copy"), this);
    auto* save = new QPushButton(QStringLiteral("Sa&ve…"), this);
    for (QPushButton* button : {pause_, clear, copy, save}) {
        button->setAutoDefault(false);
        bar->addWidget(button);
    }

    view_ = new QTableView(this);
    view_->setModel(&filter_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->setShowGrid(false);
    view_->verticalHeader()->hide();
    // Rows of one height need no measuring of each row: ten thousand rows stay cheap.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    // The bytes take what the other columns leave, so that RTT and Outcome stay in sight; a long frame
    // ends in an ellipsis and is whole in its tooltip.
    const int digit = view_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {17, 16, 5, 6, 8, 48, 10, 12};
    for (int column = 0; column < TrafficFramesModel::kColumnCount; ++column)
        view_->setColumnWidth(column, widths[column] * digit + 8);
    view_->horizontalHeader()->setStretchLastSection(false);
    view_->horizontalHeader()->setSectionResizeMode(TrafficFramesModel::kBytes, QHeaderView::Stretch);
    view_->setTextElideMode(Qt::ElideRight);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);

    connect(
        lineChoice_, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(
        slaveChoice_, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(pause_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
    connect(
        clear, &QPushButton::clicked, this,
        [this] {
            {
                std::lock_guard<std::mutex> guard(lock_);
                waiting_.clear();
            }
            frames_.Clear();
        });
    connect(
        copy, &QPushButton::clicked, this, [this] { CopySelected(); });
    connect(save, &QPushButton::clicked, this, [this] { SaveAs(); });
    batchTimer_.setInterval(kBatchMs);
    connect(&batchTimer_, &QTimer::timeout, this, [this] {
        if (!paused_)
            TakeWaitingFrames();
    });

    resize(900, 420);
    QByteArray geometry;
    if (settings_ != nullptr && settings_->GetBinary(kGeometrySetting, geometry))
        restoreGeometry(geometry);
}

TrafficWindow::~TrafficWindow() {
    StopCapture();
}

void TrafficWindow::StartCapture() {
    if (listener_ == 0)
        listener_ = AddFrameListener([this](const FrameRecord& frame) { OnFrame(frame); });
    batchTimer_.start();
}

void TrafficWindow::StopCapture() {
    if (listener_ != 0) {
        RemoveFrameListener(listener_);
        listener_ = 0;
    }
    batchTimer_.stop();
}

void TrafficWindow::OnFrame(const FrameRecord& frame) {
    std::lock_guard<std::mutex> guard(lock_);
    // While paused, or while the window is slow to take them, frames wait; never more than it keeps.
    if (waiting_.size() >= TrafficFramesModel::kDefaultLimit)
        waiting_.pop_front();
    waiting_.push_back(frame);
}

void TrafficWindow::TakeWaitingFrames() {
    std::vector<FrameRecord> batch;
    {
        std::lock_guard<std::mutex> guard(lock_);
        batch.assign(std::make_move_iterator(waiting_.begin()), std::make_move_iterator(waiting_.end()));
        waiting_.clear();
    }
    if (batch.empty())
        return;
    UpdateChoices(batch);
    QScrollBar* bar = view_->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum() - 2;
    frames_.Append(batch);
    // The newest frame stays in sight unless the user scrolled back to read older ones.
    if (atBottom)
        view_->scrollToBottom();
}

void TrafficWindow::UpdateChoices(const std::vector<FrameRecord>& frames) {
    for (const FrameRecord& frame : frames) {
        if (lines_.insert(frame.line).second) {
            QSignalBlocker quiet(lineChoice_);
            lineChoice_->addItem(QString::fromStdString(frame.line));
        }
        const int slave = frame.direction == FrameDirection::Discarded ? -1 : FrameSlave(frame);
        if (slave >= 0 && slaves_.insert(slave).second) {
            QSignalBlocker quiet(slaveChoice_);
            // In rising order after "All".
            int at = 1;
            while (at < slaveChoice_->count() && slaveChoice_->itemData(at).toInt() < slave)
                ++at;
            slaveChoice_->insertItem(at, QString::number(slave), slave);
        }
    }
}

void TrafficWindow::ApplyFilter() {
    const QString line = lineChoice_->currentIndex() <= 0 ? QString() : lineChoice_->currentText();
    const int slave = slaveChoice_->currentData().isValid() ? slaveChoice_->currentData().toInt() : -1;
    filter_.SetLineAndSlave(line, slave);
}

void TrafficWindow::ChooseLine(const QString& line) {
    const int at = line.isEmpty() ? 0 : lineChoice_->findText(line);
    if (at >= 0)
        lineChoice_->setCurrentIndex(at);
}

void TrafficWindow::ChooseSlave(int slave) {
    const int at = slaveChoice_->findData(slave);
    if (at >= 0)
        slaveChoice_->setCurrentIndex(at);
}

void TrafficWindow::SetPaused(bool paused) {
    paused_ = paused;
    if (pause_->isChecked() != paused)
        pause_->setChecked(paused);
    pause_->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    if (!paused)
        TakeWaitingFrames();
}

QString TrafficWindow::SelectedText() const {
    QModelIndexList rows = view_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& row : rows)
        lines << frames_.RowText(filter_.mapToSource(row).row());
    return lines.join(QLatin1Char('\n'));
}

QString TrafficWindow::ShownText() const {
    QStringList lines;
    for (int row = 0; row < filter_.rowCount(); ++row) {
        const int source = filter_.mapToSource(filter_.index(row, 0)).row();
        lines << QString::fromStdString(FrameTraceLine(frames_.Frame(source)));
    }
    return lines.join(QLatin1Char('\n'));
}

void TrafficWindow::CopySelected() {
    const QString text = SelectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void TrafficWindow::SaveAs() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Traffic"), QStringLiteral("traffic.txt"),
                                     QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    const QByteArray bytes = (ShownText() + QLatin1Char('\n')).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
        !file.flush())
        QMessageBox::warning(
            this, QStringLiteral("Mistvale"),
            QStringLiteral("The traffic could not be saved to %1: %2").arg(path, file.errorString()));
}

void TrafficWindow::SaveGeometry() {
    if (settings_ != nullptr)
        settings_->SetBinary(kGeometrySetting, saveGeometry());
}

void TrafficWindow::showEvent(QShowEvent* event) {
    StartCapture();
    QWidget::showEvent(event);
}

void TrafficWindow::hideEvent(QHideEvent* event) {
    StopCapture();
    SaveGeometry();
    QWidget::hideEvent(event);
}

void TrafficWindow::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopySelected();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace mistvale
