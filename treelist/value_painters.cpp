#include "treelist/value_painters.h"

#include <cmath>

namespace mistvale {

namespace {

// Differences of 32-bit values wrap like the 32-bit arithmetic the cells draw with, without the
// undefined behaviour of signed overflow.
std::int32_t WrappingDifference(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

double Fraction(std::int32_t value, std::int32_t min, std::int32_t max) {
    return static_cast<double>(WrappingDifference(value, min)) /
           static_cast<double>(WrappingDifference(max, min));
}

// Truncates toward zero after limiting the value, so that absurd bounds give far-away coordinates instead of
// an undefined conversion.
int TruncateToInt(double value) {
    constexpr double kLimit = 1 << 28;
    if (std::isnan(value))
        return 0;
    if (value > kLimit)
        value = kLimit;
    if (value < -kLimit)
        value = -kLimit;
    return static_cast<int>(value);
}

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

} // namespace

int ParseCellNumber(const char16_t* text, int length, std::int32_t& out) {
    if (!text)
        return 0;
    int i = 0;
    auto more = [&] { return (length < 0 || i < length) && text[i] != 0; };
    while (more() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (more() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    std::uint32_t value = 0;
    bool digits = false;
    while (more() && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - u'0');
        digits = true;
        ++i;
    }
    if (!digits)
        return 0;
    if (negative)
        value = 0u - value;
    out = static_cast<std::int32_t>(value);
    return 1;
}

void PaintGraph(const std::int16_t* samples, int count, std::int32_t min, std::int32_t max,
                const CellRect& rect, DrawingSurface& surface) {
    if (rect.right <= rect.left || min == max)
        return;
    if (!samples || count < 0)
        count = 0;
    if (count > kGraphPoints) {
        samples += count - kGraphPoints;
        count = kGraphPoints;
    }
    const double span = static_cast<double>(WrappingDifference(max, min));
    const double height = static_cast<double>(rect.bottom - rect.top);
    CellPoint points[kGraphPoints];
    int used = 0;
    for (int i = 0; i < kGraphPoints; ++i) {
        const int x = rect.right - kGraphPoints + i;
        if (x < rect.left)
            continue;
        std::int32_t v = min;
        if (i >= kGraphPoints - count)
            v = static_cast<std::uint16_t>(samples[i - (kGraphPoints - count)]);
        if (v > max)
            v = max;
        if (v < min)
            v = min;
        const double ratio = static_cast<double>(WrappingDifference(v, max)) / span;
        points[used].x = x;
        int y = rect.top - TruncateToInt(ratio * height);
        // Only bounds whose difference wraps around 32 bits can push a point off the cell.
        if (y < rect.top)
            y = rect.top;
        if (y > rect.bottom)
            y = rect.bottom;
        points[used].y = y;
        ++used;
    }
    if (used > 0)
        surface.Polyline(points, used, kGraphLineColor, 1);
}

CellColor RangeColorFor(double fraction) {
    if (std::isnan(fraction) || fraction < 0.0 || fraction > 1.0)
        return kRedColor;
    if (fraction < 0.2 || fraction > 0.8)
        return kAmberColor;
    return kGreenColor;
}

CellColor ColorBlockColorFor(double fraction) {
    if (fraction > 1.0)
        return kRedColor;
    if (fraction > 0.75)
        return kAmberColor;
    return kGreenColor;
}

void PaintRange(std::int32_t value, std::int32_t min, std::int32_t max, const CellRect& rect,
                DrawingSurface& surface) {
    if (rect.right <= rect.left || min == max)
        return;
    const double f = Fraction(value, min, max);
    const CellColor color = RangeColorFor(f);
    const double w = static_cast<double>(rect.right - rect.left);
    double position = rect.left + w * 0.25 + f * w * 0.5;
    if (std::isnan(position))
        position = rect.left;
    int xValue = TruncateToInt(position);
    if (xValue < rect.left)
        xValue = rect.left;
    if (xValue > rect.right)
        xValue = rect.right;
    const int xMiddle = TruncateToInt(rect.left + w * 0.5);
    CellRect band;
    band.left = xValue < xMiddle ? xValue : xMiddle;
    band.right = xValue < xMiddle ? xMiddle : xValue;
    band.top = rect.top + 3;
    band.bottom = rect.bottom - 3;
    if (band.right > band.left && band.bottom > band.top)
        surface.FillRect(band, color);
    const int xQuarter = TruncateToInt(rect.left + w * 0.25);
    const int xThreeQuarters = TruncateToInt(rect.left + w * 0.75);
    surface.Line({xQuarter, rect.top}, {xQuarter, rect.bottom}, kMarkerColor, 0);
    surface.Line({xThreeQuarters, rect.top}, {xThreeQuarters, rect.bottom}, kMarkerColor, 0);
    surface.Line({xMiddle, rect.top}, {xMiddle, rect.bottom}, kMiddleColor, 0);
}

void PaintColor(std::int32_t value, std::int32_t min, std::int32_t max, const CellRect& rect,
                DrawingSurface& surface) {
    if (rect.right <= rect.left || min == max)
        return;
    const CellColor color = ColorBlockColorFor(Fraction(value, min, max));
    CellRect block{rect.left, rect.top + 3, rect.right, rect.bottom - 3};
    if (block.bottom > block.top)
        surface.FillRect(block, color);
}

} // namespace mistvale
