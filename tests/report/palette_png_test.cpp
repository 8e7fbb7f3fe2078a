#include "report/palette_png.h"

#include <QImage>

#include <gtest/gtest.h>

#include <random>

namespace {

// Byte 24 of a PNG is the bit depth of its header, byte 25 the colour type.
int HeaderByte(const QByteArray& png, int at)
{
    return png.size() > at ? static_cast<unsigned char>(png[at]) : -1;
}

// `colours` colours in runs of random lengths, so rows end and start mid-byte and mid-run.
QImage RunsOfColours(int width, int height, int colours, std::mt19937& random)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::uniform_int_distribution<int> run(1, 9);
    int colour = 0;
    int left = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            if (left-- == 0)
            {
                colour = (colour + 1 + static_cast<int>(random() % 3)) % colours;
                left = run(random);
            }
            image.setPixel(x, y, qRgb(colour * 37 % 256, colour, 255 - colour));
        }
    // Every colour at least once, so the count is exact.
    for (int i = 0; i < colours; ++i)
        image.setPixel(i % width, i / width, qRgb(i * 37 % 256, i, 255 - i));
    return image;
}

} // namespace

TEST(PalettePng, DecodesToTheSamePixelsAtTheSmallestBitDepth)
{
    std::mt19937 random(7);
    const std::pair<int, int> depths[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 4}, {16, 4}, {17, 8}, {256, 8}};
    for (const auto& [colours, depth] : depths)
        for (const int width : {1, 3, 7, 9, 16, 33})
        {
            const int height = std::max(3, 256 / width + 1);
            SCOPED_TRACE(testing::Message() << colours << " colours, " << width << " wide");
            const QImage image = RunsOfColours(width, height, colours, random);
            const QByteArray png = PalettePng(image);
            ASSERT_FALSE(png.isEmpty());
            EXPECT_EQ(HeaderByte(png, 24), depth);
            EXPECT_EQ(HeaderByte(png, 25), 3); // palette
            EXPECT_EQ(QImage::fromData(png, "png").convertToFormat(QImage::Format_RGB32), image);
        }
}

TEST(PalettePng, KeepsTransparencyAsTheImageHasItUnpremultiplied)
{
    QImage image(5, 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setPixel(1, 1, qPremultiply(qRgba(200, 100, 50, 128)));
    image.setPixel(2, 1, qRgba(10, 20, 30, 255));
    image.setPixel(3, 2, qPremultiply(qRgba(255, 255, 255, 1)));
    const QByteArray png = PalettePng(image);
    ASSERT_FALSE(png.isEmpty());
    EXPECT_EQ(QImage::fromData(png, "png").convertToFormat(QImage::Format_ARGB32),
              image.convertToFormat(QImage::Format_ARGB32));
}

TEST(PalettePng, LeavesImagesItCannotTakeToTheCaller)
{
    EXPECT_TRUE(PalettePng(QImage()).isEmpty());
    QImage many(300, 1, QImage::Format_RGB32);
    for (int x = 0; x < many.width(); ++x)
        many.setPixel(x, 0, qRgb(x % 256, x / 256, 0));
    EXPECT_TRUE(PalettePng(many).isEmpty());
    // The 256th colour still fits.
    EXPECT_FALSE(PalettePng(many.copy(0, 0, 256, 1)).isEmpty());
}
