#include "report/chart_archive.h"

#include <QColor>

#include <gtest/gtest.h>

namespace {

QImage Picture(int i)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(i % 256, (i * 7) % 256, 200));
    image.setPixel(i % 64, 0, qRgb(255, 255, 255));
    return image;
}

TChartScene Scene(const QImage& picture)
{
    return {picture.size(), Qt::black, {{QPoint(0, 0), picture}}};
}

QImage Decoded(const QByteArray& png)
{
    return QImage::fromData(png, "png").convertToFormat(QImage::Format_RGB32);
}

TEST(ComposeChart, LaysThePanesOnTheBackgroundInStackingOrder)
{
    QImage upper(10, 6, QImage::Format_ARGB32_Premultiplied);
    upper.fill(Qt::transparent);
    upper.setPixel(1, 5, qRgb(255, 0, 0));
    QImage lower(10, 4, QImage::Format_ARGB32_Premultiplied);
    lower.fill(qRgb(0, 0, 255));
    lower.setPixel(2, 0, qRgba(0, 0, 0, 0));
    const TChartScene scene{QSize(12, 12), QColor(240, 240, 240), {{QPoint(1, 0), upper}, {QPoint(1, 5), lower}}};

    // A canvas of the right size holding an older chart is drawn over completely.
    QImage stale(12, 12, QImage::Format_RGB32);
    stale.fill(qRgb(1, 2, 3));
    for (const QImage& composed : {ComposeChart(scene), ComposeChart(scene, stale)})
    {
        ASSERT_EQ(composed.size(), QSize(12, 12));
        EXPECT_EQ(composed.pixel(0, 0), qRgb(240, 240, 240)) << "background beside the panes";
        EXPECT_EQ(composed.pixel(5, 2), qRgb(240, 240, 240)) << "background through a clear pixel";
        EXPECT_EQ(composed.pixel(2, 5), qRgb(0, 0, 255)) << "the lower pane covers the row they share";
        EXPECT_EQ(composed.pixel(3, 5), qRgb(240, 240, 240)) << "a clear pixel of the lower pane";
        EXPECT_EQ(composed.pixel(4, 8), qRgb(0, 0, 255));
        EXPECT_EQ(composed.pixel(11, 11), qRgb(240, 240, 240));
    }
}

TEST(TChartArchive, GivesBackEveryPictureByItsNumber)
{
    TChartArchive archive;
    constexpr int Count = 40; // more than may wait at once
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(archive.Add(Scene(Picture(i))), i);
    for (int i = Count - 1; i >= 0; --i)
        EXPECT_EQ(Decoded(archive.Png(i)), Picture(i)) << i;
    EXPECT_TRUE(archive.Png(-1).isEmpty());
    EXPECT_TRUE(archive.Png(Count).isEmpty());
}

TEST(TChartArchive, AClearDropsEvenThePicturesStillBeingEncoded)
{
    TChartArchive archive;
    for (int round = 0; round < 20; ++round)
    {
        SCOPED_TRACE(round);
        for (int i = 0; i < 6; ++i)
            archive.Add(Scene(Picture(i)));
        archive.Clear();
        EXPECT_TRUE(archive.Png(0).isEmpty());
        // Number 0 again: an earlier picture finishing late must not take its place.
        ASSERT_EQ(archive.Add(Scene(Picture(100 + round))), 0);
        EXPECT_EQ(Decoded(archive.Png(0)), Picture(100 + round));
        archive.Clear();
    }
}

} // namespace
