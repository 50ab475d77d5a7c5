#pragma once
// The three small pictures of a value cell (graph, range bar, colour block) and the number reading they
// share. Plain C++: every painter draws through a DrawingSurface and keeps no state of its own.

#include "treelist/drawing_surface.h"

#include <cstdint>

namespace mistvale {

constexpr CellColor kGraphLineColor = MakeCellColor(130, 130, 130);
constexpr CellColor kMarkerColor = MakeCellColor(128, 16, 8);
constexpr CellColor kMiddleColor = MakeCellColor(128, 128, 128);
constexpr CellColor kRedColor = MakeCellColor(222, 29, 14);
constexpr CellColor kAmberColor = MakeCellColor(222, 200, 14);
constexpr CellColor kGreenColor = MakeCellColor(85, 191, 59);

// The number of points a graph cell shows, one pixel each.
constexpr int kGraphPoints = 100;

// Reads a number the way "%u" does: leading white space, an optional sign, decimal digits, the result
// wrapping modulo 2^32 (so "-5" gives the bit pattern of -5). Reading stops at the first non-digit.
// `length` < 0 means the text ends at its zero terminator. Returns 1 and sets `out` when at least one
// digit was read, else 0 and leaves `out` alone.
int ParseCellNumber(const char16_t* text, int length, std::int32_t& out);

// `samples` holds `count` samples, oldest first (at most kGraphPoints are used: the newest ones). Each
// sample is taken as an unsigned 16-bit number. Draws one polyline in the graph-line colour; the newest
// sample sits at x = right - 1, max at the top edge and min at the bottom edge.
void PaintGraph(const std::int16_t* samples, int count, std::int32_t min, std::int32_t max,
                const CellRect& rect, DrawingSurface& surface);

// A band from the middle of the cell towards the value's place (min at the first quarter, max at the third
// quarter), coloured by how close the value is to the ends, under three marker lines.
void PaintRange(std::int32_t value, std::int32_t min, std::int32_t max, const CellRect& rect,
                DrawingSurface& surface);

// A block of colour: green up to three quarters of the way from min to max, amber up to max, red above.
void PaintColor(std::int32_t value, std::int32_t min, std::int32_t max, const CellRect& rect,
                DrawingSurface& surface);

// The colours the two painters above choose for the fraction f = (value - min) / (max - min).
CellColor RangeColorFor(double fraction);
CellColor ColorBlockColorFor(double fraction);

} // namespace mistvale
