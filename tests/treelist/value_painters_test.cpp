#include "allocation_counter.h"
#include "treelist/painter_surface.h"
#include "treelist/value_cell_drawer.h"
#include "treelist/value_painters.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <vector>

namespace mistvale {

namespace {

const QRgb kWhite = qRgb(255, 255, 255);

QRgb Rgb(CellColor color) {
    return qRgb(CellColorRed(color), CellColorGreen(color), CellColorBlue(color));
}

// A white image the painters draw on through the QPainter surface.
class Canvas {
public:
    Canvas(int width, int height) : image_(width, height, QImage::Format_RGB32) { image_.fill(Qt::white); }
    template <typename Paint> void Draw(Paint paint) {
        QPainter painter(&image_);
        PainterSurface surface(&painter);
        paint(surface);
    }
    QRgb At(int x, int y) const { return image_.pixel(x, y); }
    const QImage& Image() const { return image_; }
    bool AllWhite() const {
        for (int y = 0; y < image_.height(); ++y)
            for (int x = 0; x < image_.width(); ++x)
                if (image_.pixel(x, y) != kWhite)
                    return false;
        return true;
    }
    // x range of the pixels of `color` in row y, or {-1, -1}.
    std::pair<int, int> Span(int y, QRgb color) const {
        int first = -1, last = -1;
        for (int x = 0; x < image_.width(); ++x) {
            if (image_.pixel(x, y) == color) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        return {first, last};
    }

private:
    QImage image_;
};

const CellRect kGraphCell{10, 5, 210, 25};

} // namespace

TEST(CellNumber, ReadsLikePercentU) {
    std::int32_t value = 7;
    EXPECT_EQ(ParseCellNumber(u"  42", -1, value), 1);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(ParseCellNumber(u"-5", -1, value), 1);
    EXPECT_EQ(value, -5);
    EXPECT_EQ(ParseCellNumber(u"+12abc", -1, value), 1);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(ParseCellNumber(u"4294967296", -1, value), 1); // wraps modulo 2^32
    EXPECT_EQ(value, 0);
    value = 9;
    EXPECT_EQ(ParseCellNumber(u"Can't get value.", -1, value), 0);
    EXPECT_EQ(ParseCellNumber(u"-", -1, value), 0);
    EXPECT_EQ(ParseCellNumber(u"", -1, value), 0);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(ParseCellNumber(u"123", 2, value), 1); // a length limits the reading
    EXPECT_EQ(value, 12);
}

TEST(CellPath, TokensBoundsAndWords) {
    ValueCellSpec layout;
    ASSERT_EQ(ParseValueCellPath(u"100/graph/0/1000", -1, layout), 1);
    EXPECT_EQ(layout.kind, kValueCellGraph);
    EXPECT_EQ(layout.min, 0);
    EXPECT_EQ(layout.max, 1000);
    ASSERT_EQ(ParseValueCellPath(u"100/range", -1, layout), 1);
    EXPECT_EQ(layout.kind, kValueCellRange);
    EXPECT_EQ(layout.min, 0);
    EXPECT_EQ(layout.max, 100);
    ASSERT_EQ(ParseValueCellPath(u"100/RANGE/x/50", -1, layout), 1); // a non-numeric min keeps 0
    EXPECT_EQ(layout.min, 0);
    EXPECT_EQ(layout.max, 50);
    ASSERT_EQ(ParseValueCellPath(u"7/Color/-10", -1, layout), 1);
    EXPECT_EQ(layout.kind, kValueCellColor);
    EXPECT_EQ(layout.min, -10);
    EXPECT_EQ(layout.max, 100);
    ASSERT_EQ(ParseValueCellPath(u"1/Graph/500/0", -1, layout), 1);
    EXPECT_EQ(layout.min, 500);

    EXPECT_EQ(ParseValueCellPath(u"100/range/5/5", -1, layout), 0);
    EXPECT_EQ(ParseValueCellPath(u"100/color/7/7", -1, layout), 0);
    EXPECT_EQ(ParseValueCellPath(u"100/color/100", -1, layout), 0); // min 100 equals the default max
    EXPECT_EQ(ParseValueCellPath(u"graph", -1, layout), 0);         // no register token
    EXPECT_EQ(ParseValueCellPath(u"100", -1, layout), 0);
    EXPECT_EQ(ParseValueCellPath(u"100/hex", -1, layout), 0);
    EXPECT_EQ(ParseValueCellPath(u"100/graphs", -1, layout), 0);
}

TEST(GraphPainter, NoSamplesIsAFlatLineAlongTheBottom) {
    Canvas canvas(240, 40);
    canvas.Draw([](DrawingSurface& s) { PaintGraph(nullptr, 0, 0, 1000, kGraphCell, s); });
    const QRgb grey = Rgb(kGraphLineColor);
    EXPECT_EQ(canvas.Span(kGraphCell.bottom, grey), std::make_pair(110, 209)); // 100 points, last at right-1
    for (int y = 0; y < 40; ++y)
        EXPECT_TRUE(y == kGraphCell.bottom || canvas.Span(y, grey).first == -1) << "row " << y;
}

TEST(GraphPainter, ThirtySamplesFillTheRightEnd) {
    std::vector<std::int16_t> samples(30, 500); // half way: y = top + 10
    Canvas canvas(240, 40);
    canvas.Draw([&](DrawingSurface& s) { PaintGraph(samples.data(), 30, 0, 1000, kGraphCell, s); });
    const QRgb grey = Rgb(kGraphLineColor);
    EXPECT_EQ(canvas.Span(15, grey), std::make_pair(180, 209));
    const auto bottom = canvas.Span(25, grey);
    EXPECT_EQ(bottom.first, 110);
    EXPECT_LE(bottom.second, 179); // the 70 points without a sample lie at min
    EXPECT_GE(bottom.second, 178);
}

TEST(GraphPainter, OneHundredFiftySamplesShowTheNewestHundred) {
    std::vector<std::int16_t> samples(150, 0);
    for (int i = 50; i < 150; ++i)
        samples[i] = 1000;
    Canvas canvas(240, 40);
    canvas.Draw([&](DrawingSurface& s) { PaintGraph(samples.data(), 150, 0, 1000, kGraphCell, s); });
    const QRgb grey = Rgb(kGraphLineColor);
    EXPECT_EQ(canvas.Span(kGraphCell.top, grey), std::make_pair(110, 209));
    EXPECT_EQ(canvas.Span(kGraphCell.bottom, grey).first, -1);
}

TEST(GraphPainter, SamplesAreUnsignedAndClamped) {
    const QRgb grey = Rgb(kGraphLineColor);
    std::vector<std::int16_t> minusOne(100, -1); // 65535: above max, so at max
    Canvas high(240, 40);
    high.Draw([&](DrawingSurface& s) { PaintGraph(minusOne.data(), 100, 0, 1000, kGraphCell, s); });
    EXPECT_EQ(high.Span(kGraphCell.top, grey), std::make_pair(110, 209));

    std::vector<std::int16_t> mixed = {0, 100, 250, 500, 1000};
    Canvas inverted(240, 40); // min above max: every point at the bottom edge
    inverted.Draw([&](DrawingSurface& s) { PaintGraph(mixed.data(), 5, 500, 0, kGraphCell, s); });
    EXPECT_EQ(inverted.Span(kGraphCell.bottom, grey), std::make_pair(110, 209));
    for (int y = 0; y < kGraphCell.bottom; ++y)
        EXPECT_EQ(inverted.Span(y, grey).first, -1);
}

TEST(GraphPainter, NarrowCellShowsOnlyTheNewestSamples) {
    std::vector<std::int16_t> samples(100, 0);
    samples[99] = 1000;
    const CellRect narrow{0, 0, 40, 20};
    Canvas canvas(60, 30);
    canvas.Draw([&](DrawingSurface& s) { PaintGraph(samples.data(), 100, 0, 1000, narrow, s); });
    const QRgb grey = Rgb(kGraphLineColor);
    EXPECT_EQ(canvas.Span(20, grey).first, 0);
    EXPECT_EQ(canvas.At(39, 0), grey); // the newest sample at max
    EXPECT_EQ(canvas.Span(20, grey).second, 38);
}

// At 200 % the marker lines are two device pixels wide, as the fills are twice as large.
TEST(RangePainter, MarkersKeepTheirWeightOnAScaledScreen) {
    for (int scale : {1, 2}) {
        QImage image(220 * scale, 30 * scale, QImage::Format_RGB32);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            PainterSurface surface(&painter);
            PaintRange(70, 0, 100, CellRect{0, 0, 200, 20}, surface);
        }
        int markerPixels = 0;
        for (int x = 0; x < image.width(); ++x)
            markerPixels += image.pixel(x, 1) == Rgb(kMarkerColor) ? 1 : 0;
        EXPECT_EQ(markerPixels, 2 * scale) << "two marker lines at scale " << scale;
    }
}

TEST(RangePainter, TheExamplesOfAZeroToHundredRange) {
    const CellRect cell{0, 0, 200, 20};
    const QRgb marker = Rgb(kMarkerColor);
    const QRgb middle = Rgb(kMiddleColor);
    struct Case {
        std::int32_t value;
        int bandFirst, bandLast; // pixels of the band in row 10, apart from the marker lines
        CellColor color;
    };
    const Case cases[] = {{10, 60, 99, kAmberColor},
                          {0, 51, 99, kAmberColor},
                          {150, 101, 199, kRedColor},
                          {90, 101, 139, kAmberColor},
                          {70, 101, 119, kGreenColor}};
    for (const Case& c : cases) {
        Canvas canvas(220, 30);
        canvas.Draw([&](DrawingSurface& s) { PaintRange(c.value, 0, 100, cell, s); });
        const auto span = canvas.Span(10, Rgb(c.color));
        EXPECT_EQ(span.first, c.bandFirst) << c.value;
        EXPECT_EQ(span.second, c.bandLast) << c.value;
        EXPECT_EQ(canvas.Span(3, Rgb(c.color)).first, c.bandFirst) << "band starts at top + 3";
        EXPECT_EQ(canvas.Span(2, Rgb(c.color)).first, -1);
        EXPECT_EQ(canvas.Span(17, Rgb(c.color)).first, -1) << "band ends at bottom - 3";
        // Three lines over the band, from top to just above bottom.
        EXPECT_EQ(canvas.At(50, 0), marker);
        EXPECT_EQ(canvas.At(150, 19), marker);
        EXPECT_EQ(canvas.At(100, 10), middle);
        EXPECT_EQ(canvas.At(100, 20), kWhite);
    }
    Canvas half(220, 30);
    half.Draw([&](DrawingSurface& s) { PaintRange(50, 0, 100, cell, s); });
    EXPECT_EQ(half.Span(10, Rgb(kGreenColor)).first, -1); // an empty band
    EXPECT_EQ(half.At(75, 10), kWhite);
    EXPECT_EQ(half.At(100, 10), middle);
}

TEST(RangePainter, ColoursByFraction) {
    EXPECT_EQ(RangeColorFor(-0.01), kRedColor);
    EXPECT_EQ(RangeColorFor(1.01), kRedColor);
    EXPECT_EQ(RangeColorFor(0.19), kAmberColor);
    EXPECT_EQ(RangeColorFor(0.2), kGreenColor);
    EXPECT_EQ(RangeColorFor(0.8), kGreenColor);
    EXPECT_EQ(RangeColorFor(0.81), kAmberColor);
}

TEST(ColorPainter, GreenAmberRed) {
    const CellRect cell{0, 0, 100, 20};
    const struct {
        std::int32_t value;
        CellColor color;
    } cases[] = {
        {75, kGreenColor}, {76, kAmberColor}, {100, kAmberColor}, {101, kRedColor}, {-20, kGreenColor}};
    for (const auto& c : cases) {
        Canvas canvas(120, 30);
        canvas.Draw([&](DrawingSurface& s) { PaintColor(c.value, 0, 100, cell, s); });
        EXPECT_EQ(canvas.Span(10, Rgb(c.color)), std::make_pair(0, 99)) << c.value;
        EXPECT_EQ(canvas.At(50, 2), kWhite);
        EXPECT_EQ(canvas.At(50, 3), Rgb(c.color));
        EXPECT_EQ(canvas.At(50, 16), Rgb(c.color));
        EXPECT_EQ(canvas.At(50, 17), kWhite);
    }
}

TEST(ValuePainters, EqualBoundsAndEmptyCellsDrawNothing) {
    Canvas canvas(240, 40);
    canvas.Draw([](DrawingSurface& s) {
        PaintRange(5, 5, 5, CellRect{0, 0, 200, 20}, s);
        PaintColor(7, 7, 7, CellRect{0, 0, 200, 20}, s);
        PaintGraph(nullptr, 0, 3, 3, kGraphCell, s);
        const CellRect empty{50, 0, 50, 20};
        PaintRange(10, 0, 100, empty, s);
        PaintColor(10, 0, 100, empty, s);
        PaintGraph(nullptr, 0, 0, 100, empty, s);
    });
    EXPECT_TRUE(canvas.AllWhite());
}

TEST(ValuePainters, RepaintingAllocatesNothing) {
    std::vector<std::int16_t> samples(100);
    for (int i = 0; i < 100; ++i)
        samples[i] = static_cast<std::int16_t>(i * 10);
    QImage image(240, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PainterSurface surface(&painter);
    auto paintAll = [&] {
        PaintGraph(samples.data(), 100, 0, 1000, kGraphCell, surface);
        PaintRange(30, 0, 100, CellRect{0, 0, 200, 20}, surface);
        PaintColor(80, 0, 100, CellRect{0, 20, 200, 40}, surface);
    };
    paintAll(); // the pens are made here, once
    // The counter sees an allocation inside Qt, else the zero below would prove nothing.
    const std::size_t probe = AllocationCount();
    QByteArray bytes(4096, 'x');
    EXPECT_GT(AllocationCount(), probe);
    const std::size_t before = AllocationCount();
    for (int i = 0; i < 10; ++i)
        paintAll();
    EXPECT_EQ(AllocationCount() - before, 0u);
}

} // namespace mistvale
