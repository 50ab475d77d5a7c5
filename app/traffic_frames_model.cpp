#include "app/traffic_frames_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace mistvale {

bool FrameFailed(const FrameRecord& frame) {
    if (frame.direction == FrameDirection::Discarded)
        return true;
    return frame.direction == FrameDirection::Received && frame.outcome != "ok";
}

int TrafficFramesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(frames_.size());
}

int TrafficFramesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString TrafficFramesModel::Text(int row, int column) const {
    const FrameRecord& frame = Frame(row);
    switch (column) {
    case kTime:
        return QDateTime::fromMSecsSinceEpoch(frame.timeUs / 1000).toString(QStringLiteral("HH:mm:ss.zzz")) +
               QStringLiteral("%1").arg(static_cast<int>(frame.timeUs % 1000), 3, 10, QLatin1Char('0'));
    case kLine:
        return QString::fromStdString(frame.line);
    case kDir:
        return QString::fromLatin1(FrameDirectionName(frame.direction));
    case kSlave: {
        const int slave = frame.direction == FrameDirection::Discarded ? -1 : FrameSlave(frame);
        return slave < 0 ? QString() : QString::number(slave);
    }
    case kFunction: {
        const int function = frame.direction == FrameDirection::Discarded ? -1 : FrameFunction(frame);
        return function < 0 ? QString() : QString::number(function);
    }
    case kBytes:
        return QString::fromStdString(FrameHex(frame.bytes));
    case kRtt:
        return frame.rttMs < 0 ? QString() : QString::number(frame.rttMs, 'f', 1) + QStringLiteral(" ms");
    case kOutcome:
        return QString::fromStdString(frame.outcome);
    default:
        return QString();
    }
}

QVariant TrafficFramesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(frames_.size()))
        return QVariant();
    if (role == Qt::DisplayRole)
        return Text(index.row(), index.column());
    if (role == Qt::ToolTipRole && index.column() == kBytes) {
        // Sixteen bytes a line, as a hex dump shows them.
        const QString bytes = Text(index.row(), kBytes);
        QString lines;
        for (qsizetype at = 0; at < bytes.size(); at += 48)
            lines += (at == 0 ? QString() : QStringLiteral("\n")) + bytes.mid(at, 47);
        return lines;
    }
    if (role == Qt::ForegroundRole && FrameFailed(Frame(index.row())))
        return QBrush(Frame(index.row()).direction == FrameDirection::Discarded ? QColor(128, 96, 0)
                                                                                : QColor(192, 0, 0));
    if (role == Qt::TextAlignmentRole &&
        (index.column() == kSlave || index.column() == kFunction || index.column() == kRtt))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant TrafficFramesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char* const kTitles[kColumnCount] = {"Time",     "Line",  "Dir", "Slave",
                                                      "Function", "Bytes", "RTT", "Outcome"};
    return section >= 0 && section < kColumnCount ? QString::fromLatin1(kTitles[section]) : QVariant();
}

void TrafficFramesModel::Append(std::vector<FrameRecord>& frames) {
    if (frames.empty())
        return;
    // Of a batch larger than the limit only its newest frames can stay.
    size_t skip = frames.size() > limit_ ? frames.size() - limit_ : 0;
    const size_t incoming = frames.size() - skip;
    const size_t overflow = frames_.size() + incoming > limit_ ? frames_.size() + incoming - limit_ : 0;
    if (overflow > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(overflow) - 1);
        frames_.erase(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(overflow));
        endRemoveRows();
    }
    const int first = static_cast<int>(frames_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(incoming) - 1);
    for (size_t i = skip; i < frames.size(); ++i)
        frames_.push_back(std::move(frames[i]));
    endInsertRows();
    frames.clear();
}

void TrafficFramesModel::Clear() {
    beginResetModel();
    frames_.clear();
    endResetModel();
}

QString TrafficFramesModel::RowText(int row) const {
    QStringList cells;
    for (int column = 0; column < kColumnCount; ++column)
        cells << Text(row, column);
    return cells.join(QLatin1Char('\t'));
}

void TrafficFilter::SetLineAndSlave(const QString& line, int slave) {
    line_ = line.toStdString();
    slave_ = slave;
    invalidateFilter();
}

bool TrafficFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const auto* frames = static_cast<const TrafficFramesModel*>(sourceModel());
    const FrameRecord& frame = frames->Frame(sourceRow);
    if (!line_.empty() && frame.line != line_)
        return false;
    return slave_ < 0 || FrameSlave(frame) == slave_;
}

} // namespace mistvale
