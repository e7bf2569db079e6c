// The images of the entry list: every one draws inside its box at any scale, and no two
// look alike.
#include "App_scanentries_window.h"
#include "TestWindowApplication.h"

#include <QImage>
#include <gtest/gtest.h>
#include <vector>

using namespace App_scanentries;

namespace {

// The image at 16 logical pixels on a screen of the given scale.
QImage Render(const Kiv_listviews::TImageList& images, int index, qreal scale) {
    return images.Image(index).pixmap(QSize(16, 16), scale).toImage();
}

int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
    return count;
}

TEST(EntryImages, PriorityAndGroupStateImagesAreDrawnSharpAndDistinct) {
    TestApplication::TTestWindowApplication app;
    const Kiv_listviews::TImageList priority = MakePriorityImages();
    const Kiv_listviews::TImageList groups = MakeGroupStateImages();
    ASSERT_EQ(priority.Count(), 2);
    ASSERT_EQ(groups.Count(), 3);
    std::vector<QImage> all;
    for (const auto* images : {&priority, &groups}) {
        for (int i = 0; i < images->Count(); ++i) {
            const QImage normal = Render(*images, i, 1);
            const QImage doubled = Render(*images, i, 2);
            EXPECT_EQ(doubled.size(), QSize(32, 32)); // drawn at the screen's pixels
            EXPECT_GT(OpaquePixels(normal), 10);
            // The same picture, over four times the pixels.
            EXPECT_GT(OpaquePixels(doubled), 3 * OpaquePixels(normal));
            all.push_back(normal);
        }
    }
    for (std::size_t a = 0; a < all.size(); ++a)
        for (std::size_t b = a + 1; b < all.size(); ++b)
            EXPECT_NE(all[a], all[b]) << a << " and " << b;
    EXPECT_TRUE(priority.Image(2).isNull());
}

} // namespace
