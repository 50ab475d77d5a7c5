#pragma once

#include "modbus/frame_capture.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <deque>
#include <vector>

namespace mistvale {

// The frames of the Traffic window, oldest first, at most `limit` of them: older ones drop as new
// ones come. Texts are made when a row is painted, not when it arrives.
class TrafficFramesModel : public QAbstractTableModel {
public:
    enum Column { kTime, kLine, kDir, kSlave, kFunction, kBytes, kRtt, kOutcome, kColumnCount };
    static constexpr size_t kDefaultLimit = 10000;

    explicit TrafficFramesModel(size_t limit = kDefaultLimit, QObject* parent = nullptr)
        : QAbstractTableModel(parent), limit_(limit) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Append(std::vector<FrameRecord>& frames);
    void Clear();
    const FrameRecord& Frame(int row) const { return frames_[static_cast<size_t>(row)]; }
    // The row as one line of text, columns separated by tabs.
    QString RowText(int row) const;
    QString Text(int row, int column) const;

private:
    const size_t limit_;
    std::deque<FrameRecord> frames_;
};

// Rows of one line and one slave (empty line and slave -1: all).
class TrafficFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetLineAndSlave(const QString& line, int slave);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::string line_;
    int slave_ = -1;
};

// True for a frame to show as failed: a reply that is not "ok", and anything thrown away.
bool FrameFailed(const FrameRecord& frame);

} // namespace mistvale
