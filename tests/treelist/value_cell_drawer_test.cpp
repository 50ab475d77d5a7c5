#include "model/group.h"
#include "model/source.h"
#include "treelist/painter_surface.h"
#include "treelist/value_cell_drawer.h"
#include "treelist/value_painters.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace mistvale {

namespace {

QImage Draw(void* data, const CellRect& rect) {
    QImage image(220, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PainterSurface surface(&painter);
    DrawValueCell(nullptr, data, 1, rect, surface, nullptr);
    return image;
}

QRgb Rgb(CellColor color) {
    return qRgb(CellColorRed(color), CellColorGreen(color), CellColorBlue(color));
}

} // namespace

TEST(ValueCellDrawer, GraphCreatesTheHistoryAtItsFirstPainting) {
    Source source;
    source.SetParameter(u"100/graph/0/1000");
    EXPECT_EQ(source.AppendSample(5), 0); // no history yet: reads collect nothing
    EXPECT_EQ(source.HistoryCreated(), 0);
    const CellRect cell{10, 5, 210, 25};
    QImage first = Draw(static_cast<Record*>(&source), cell);
    EXPECT_EQ(source.HistoryCreated(), 1);
    EXPECT_EQ(first.pixel(209, 25), Rgb(kGraphLineColor)); // flat at min
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(source.AppendSample(1000), 1);
    QImage later = Draw(static_cast<Record*>(&source), cell);
    EXPECT_EQ(later.pixel(200, 5), Rgb(kGraphLineColor)); // the newest 30 at max
    EXPECT_EQ(later.pixel(150, 25), Rgb(kGraphLineColor));
}

TEST(ValueCellDrawer, RangeAndColorReadTheValueAndCreateNoHistory) {
    Source range;
    range.SetParameter(u"100/Range");
    range.SetValue(u"Can't get value."); // drawn as 0: amber band from the first quarter to the middle
    QImage image = Draw(static_cast<Record*>(&range), CellRect{0, 0, 200, 20});
    EXPECT_EQ(image.pixel(51, 10), Rgb(kAmberColor));
    EXPECT_EQ(image.pixel(49, 10), qRgb(255, 255, 255));
    EXPECT_EQ(range.HistoryCreated(), 0);

    Source color;
    color.SetParameter(u"100/COLOR/0/100");
    color.SetValue(u"101");
    EXPECT_EQ(Draw(static_cast<Record*>(&color), CellRect{0, 0, 200, 20}).pixel(100, 10), Rgb(kRedColor));
}

TEST(ValueCellDrawer, UnusableRowsLeaveTheCellAlone) {
    const CellRect cell{0, 0, 200, 20};
    auto blank = [](const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != qRgb(255, 255, 255))
                    return false;
        return true;
    };
    EXPECT_TRUE(blank(Draw(nullptr, cell)));
    Group group; // not a source
    EXPECT_TRUE(blank(Draw(static_cast<Record*>(&group), cell)));
    Source equal;
    equal.SetParameter(u"100/range/5/5");
    equal.SetValue(u"5");
    EXPECT_TRUE(blank(Draw(static_cast<Record*>(&equal), cell)));
    Source graph;
    graph.SetParameter(u"100/graph/3/3");
    EXPECT_TRUE(blank(Draw(static_cast<Record*>(&graph), cell)));
    EXPECT_EQ(graph.HistoryCreated(), 0);
    Source other;
    other.SetParameter(u"100/hex");
    other.SetValue(u"0x10");
    EXPECT_TRUE(blank(Draw(static_cast<Record*>(&other), cell)));
}

} // namespace mistvale
