// The drawn icons: every id the program refers to exists, is drawn, and differs from the others.
#include <QImage>
#include <gtest/gtest.h>
#include <map>

#include "resources/app_icons.h"

namespace mistvale {

namespace {

const int kUsedIds[] = {101, 109, 110, 111, 112, 113, 114, 115, 116,
                        137, 138, 139, 140, 141, 142, 143, 144, 145};

int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

} // namespace

TEST(AppIcons, EveryUsedIdIsDrawnAtEverySize) {
    for (int id : kUsedIds) {
        EXPECT_EQ(HasIcon(id), 1) << id;
        QIcon icon = IconById(id);
        ASSERT_FALSE(icon.isNull()) << id;
        for (int size : {16, 24, 32, 48}) {
            QImage image = icon.pixmap(size, size).toImage();
            EXPECT_EQ(image.width(), size) << id;
            int opaque = OpaquePixels(image);
            // Drawn, but not a filled square: a shape on a transparent background.
            EXPECT_GT(opaque, size * size / 10) << id << " at " << size;
            EXPECT_LT(opaque, size * size) << id << " at " << size;
        }
    }
}

TEST(AppIcons, IconsAreDistinctAndUnknownIdsGiveNothing) {
    std::map<int, QImage> images;
    for (int id : kUsedIds)
        images[id] = IconPixmap(id, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    for (auto a = images.begin(); a != images.end(); ++a)
        for (auto b = std::next(a); b != images.end(); ++b)
            EXPECT_NE(a->second, b->second) << a->first << " and " << b->first;
    EXPECT_EQ(HasIcon(100), 0);
    EXPECT_TRUE(IconById(100).isNull());
    EXPECT_TRUE(IconPixmap(101, 0).isNull());
}

} // namespace mistvale
