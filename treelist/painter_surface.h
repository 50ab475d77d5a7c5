#pragma once
// DrawingSurface over a QPainter, with the pixel rules of treelist/drawing_surface.h. Pens are kept in a
// small cache so that drawing a cell allocates nothing once a colour has been used.

#include "treelist/drawing_surface.h"

#include <QPen>

class QPainter;

namespace mistvale {

class PainterSurface : public DrawingSurface {
public:
    explicit PainterSurface(QPainter* painter = nullptr) : painter_(painter) {}
    void SetPainter(QPainter* painter) { painter_ = painter; }
    QPainter* Painter() const { return painter_; }

    void FillRect(const CellRect& rect, CellColor color) override;
    void Line(CellPoint from, CellPoint to, CellColor color, int width) override;
    void Polyline(const CellPoint* points, int count, CellColor color, int width) override;

private:
    const QPen& PenFor(CellColor color, int width);

    struct CachedPen {
        CellColor color = 0;
        int width = -1;
        QPen pen;
    };
    static constexpr int kPenCacheSize = 8;
    QPainter* painter_;
    CachedPen pens_[kPenCacheSize];
    int nextPen_ = 0;
};

} // namespace mistvale
