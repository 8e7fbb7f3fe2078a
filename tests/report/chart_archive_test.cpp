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

QImage Decoded(const QByteArray& png)
{
    return QImage::fromData(png, "png").convertToFormat(QImage::Format_RGB32);
}

TEST(TChartArchive, GivesBackEveryPictureByItsNumber)
{
    TChartArchive archive;
    constexpr int Count = 40; // more than may wait at once
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(archive.Add(Picture(i)), i);
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
            archive.Add(Picture(i));
        archive.Clear();
        EXPECT_TRUE(archive.Png(0).isEmpty());
        // Number 0 again: an earlier picture finishing late must not take its place.
        ASSERT_EQ(archive.Add(Picture(100 + round)), 0);
        EXPECT_EQ(Decoded(archive.Png(0)), Picture(100 + round));
        archive.Clear();
    }
}

} // namespace
