#include "treelist/painter_surface.h"

#include <QColor>
#include <QPainter>
#include <QPoint>
#include <QRect>

namespace mistvale {

namespace {

QColor ToQColor(CellColor color) {
    return QColor(CellColorRed(color), CellColorGreen(color), CellColorBlue(color));
}

} // namespace

const QPen& PainterSurface::PenFor(CellColor color, int width) {
    if (width < 1)
        width = 1;
    for (CachedPen& cached : pens_)
        if (cached.width == width && cached.color == color)
            return cached.pen;
    CachedPen& slot = pens_[nextPen_];
    nextPen_ = (nextPen_ + 1) % kPenCacheSize;
    slot.color = color;
    slot.width = width;
    // Widths are logical pixels, so lines keep their weight beside the fills on a scaled screen (a
    // cosmetic pen would stay one device pixel); flat caps leave out the end point.
    slot.pen = QPen(ToQColor(color), width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    return slot.pen;
}

void PainterSurface::FillRect(const CellRect& rect, CellColor color) {
    if (!painter_ || rect.right <= rect.left || rect.bottom <= rect.top)
        return;
    painter_->fillRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                       ToQColor(color));
}

void PainterSurface::Line(CellPoint from, CellPoint to, CellColor color, int width) {
    if (!painter_ || (from.x == to.x && from.y == to.y))
        return;
    painter_->setPen(PenFor(color, width));
    painter_->drawLine(QPoint(from.x, from.y), QPoint(to.x, to.y));
}

void PainterSurface::Polyline(const CellPoint* points, int count, CellColor color, int width) {
    if (!painter_ || !points || count <= 0)
        return;
    painter_->setPen(PenFor(color, width));
    // Converted in fixed chunks on the stack; consecutive chunks share their joint point.
    constexpr int kChunk = 128;
    QPoint chunk[kChunk];
    int start = 0;
    while (start < count - 1) {
        int n = count - start;
        if (n > kChunk)
            n = kChunk;
        for (int i = 0; i < n; ++i)
            chunk[i] = QPoint(points[start + i].x, points[start + i].y);
        painter_->drawPolyline(chunk, n);
        start += n - 1;
    }
    // The end point is painted as well, so the last sample of a graph shows.
    const CellPoint& last = points[count - 1];
    const int size = width > 1 ? width : 1;
    painter_->fillRect(QRect(last.x, last.y, size, size), ToQColor(color));
}

} // namespace mistvale
