#pragma once
// The three drawing operations a value cell needs, independent of the toolkit that paints the row.

#include <cstdint>

namespace mistvale {

// A rectangle as the rows use it: left and top inside, right and bottom just outside.
struct CellRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct CellPoint {
    int x = 0;
    int y = 0;
};

// 0x00RRGGBB
using CellColor = std::uint32_t;

constexpr CellColor MakeCellColor(int red, int green, int blue) {
    return (static_cast<CellColor>(red & 0xFF) << 16) | (static_cast<CellColor>(green & 0xFF) << 8) |
           static_cast<CellColor>(blue & 0xFF);
}
constexpr int CellColorRed(CellColor color) {
    return static_cast<int>((color >> 16) & 0xFF);
}
constexpr int CellColorGreen(CellColor color) {
    return static_cast<int>((color >> 8) & 0xFF);
}
constexpr int CellColorBlue(CellColor color) {
    return static_cast<int>(color & 0xFF);
}

// Pixel rules (those of the classic raster APIs the cells were designed on):
// - FillRect paints x in [left, right) and y in [top, bottom); an empty rectangle paints nothing.
// - Line paints the pixels from `from` towards `to`, without the pixel of `to` itself.
// - Polyline paints each segment the same way and then the pixel of the last point as well, so the
//   newest sample of a graph is visible; a single point paints that one pixel.
// A width of 0 or 1 is one pixel.
class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;
    virtual void FillRect(const CellRect& rect, CellColor color) = 0;
    virtual void Line(CellPoint from, CellPoint to, CellColor color, int width) = 0;
    virtual void Polyline(const CellPoint* points, int count, CellColor color, int width) = 0;
};

} // namespace mistvale
