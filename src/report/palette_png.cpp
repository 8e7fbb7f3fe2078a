#include "report/palette_png.h"

#include <QImage>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// zlib level 3 is the last of its fast levels: on charts it packs tighter than Qt's writer did
// at level 4, as the pixels it gets are packed into 4 bits or fewer.
constexpr int CompressionLevel = 3;
constexpr std::size_t MaxColours = 256;

struct TIndexed
{
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Pixels; // a colour number a pixel, row after row
    std::vector<QRgb> Colours;        // un-premultiplied ARGB
};

// Charts are runs of a handful of colours, so each run is looked up once.
bool IndexColours(const QImage& argb, TIndexed& out)
{
    out.Width = argb.width();
    out.Height = argb.height();
    const auto width = static_cast<std::size_t>(out.Width);
    out.Pixels.resize(width * static_cast<std::size_t>(out.Height));
    for (int y = 0; y < out.Height; ++y)
    {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        std::uint8_t* target = out.Pixels.data() + static_cast<std::size_t>(y) * width;
        std::size_t x = 0;
        while (x < width)
        {
            const QRgb colour = row[x];
            std::size_t end = x + 1;
            while (end < width && row[end] == colour)
                ++end;
            auto found = std::find(out.Colours.begin(), out.Colours.end(), colour);
            if (found == out.Colours.end())
            {
                if (out.Colours.size() == MaxColours)
                    return false;
                found = out.Colours.insert(out.Colours.end(), colour);
            }
            std::memset(target + x, static_cast<int>(found - out.Colours.begin()), end - x);
            x = end;
        }
    }
    return true;
}

int BitDepth(std::size_t colours)
{
    if (colours <= 2)
        return 1;
    if (colours <= 4)
        return 2;
    return colours <= 16 ? 4 : 8;
}

// Packs one row of colour numbers into `depth` bits each, the first pixel in the high bits.
void PackRow(const std::uint8_t* pixels, std::size_t width, int depth, std::uint8_t* packed)
{
    if (depth == 8)
    {
        std::memcpy(packed, pixels, width);
        return;
    }
    const auto bits = static_cast<std::size_t>(depth);
    const std::size_t perByte = 8 / bits;
    std::memset(packed, 0, (width + perByte - 1) / perByte);
    for (std::size_t x = 0; x < width; ++x)
        packed[x / perByte] |= static_cast<std::uint8_t>(pixels[x] << ((perByte - 1 - x % perByte) * bits));
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data),
                                                          static_cast<qsizetype>(length));
}

void Flush(png_structp) {}

// libpng reports its errors by longjmp, so this frame holds nothing that needs a destructor
// beyond what the caller made before.
bool WritePng(const TIndexed& image, const std::vector<png_color>& palette, const std::vector<png_byte>& alphas,
              std::vector<std::uint8_t>& row, QByteArray& out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const int depth = BitDepth(image.Colours.size());
    png_set_write_fn(png, &out, AppendBytes, Flush);
    png_set_compression_level(png, CompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE); // filters only blur colour numbers
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width), static_cast<png_uint_32>(image.Height), depth,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!alphas.empty())
        png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    png_write_info(png, info);
    const auto width = static_cast<std::size_t>(image.Width);
    for (int y = 0; y < image.Height; ++y)
    {
        PackRow(image.Pixels.data() + static_cast<std::size_t>(y) * width, width, depth, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

QByteArray PalettePng(const QImage& image)
{
    if (image.isNull())
        return {};
    const QImage argb = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32
                            ? image
                            : image.convertToFormat(QImage::Format_ARGB32);
    TIndexed indexed;
    if (!IndexColours(argb, indexed))
        return {};
    const bool opaque = !argb.hasAlphaChannel();
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    for (const QRgb colour : indexed.Colours)
    {
        palette.push_back({static_cast<png_byte>(qRed(colour)), static_cast<png_byte>(qGreen(colour)),
                           static_cast<png_byte>(qBlue(colour))});
        alphas.push_back(opaque ? png_byte{255} : static_cast<png_byte>(qAlpha(colour)));
    }
    // tRNS may end at the last colour that is not opaque.
    while (!alphas.empty() && alphas.back() == 255)
        alphas.pop_back();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(indexed.Width));
    QByteArray out;
    if (!WritePng(indexed, palette, alphas, row, out))
        return {};
    return out;
}
