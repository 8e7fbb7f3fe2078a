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

// Where the run of the colour at `x` ends, tested eight pixels at a time while all of them
// match: a chart's long stretches of background then cost one test per eight pixels.
std::size_t RunEnd(const QRgb* row, std::size_t x, std::size_t width)
{
    const QRgb colour = row[x++];
    while (x + 8 <= width)
    {
        QRgb differs = 0;
        for (std::size_t i = 0; i < 8; ++i)
            differs |= row[x + i] ^ colour;
        if (differs != 0)
            break;
        x += 8;
    }
    while (x < width && row[x] == colour)
        ++x;
    return x;
}

// The image's colours, un-premultiplied ARGB, in the order met; false past MaxColours.
// Charts are runs of a handful of colours, so each run is looked up once.
bool CollectColours(const QImage& argb, std::vector<QRgb>& colours)
{
    const auto width = static_cast<std::size_t>(argb.width());
    for (int y = 0; y < argb.height(); ++y)
    {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (std::size_t x = 0; x < width; x = RunEnd(row, x, width))
        {
            if (std::find(colours.begin(), colours.end(), row[x]) == colours.end())
            {
                if (colours.size() == MaxColours)
                    return false;
                colours.push_back(row[x]);
            }
        }
    }
    return true;
}

// One row as colour numbers into `numbers`, which holds a number a pixel.
void NumberRow(const QRgb* row, std::size_t width, const std::vector<QRgb>& colours, std::uint8_t* numbers)
{
    for (std::size_t x = 0; x < width;)
    {
        const std::size_t end = RunEnd(row, x, width);
        const auto number = std::find(colours.begin(), colours.end(), row[x]) - colours.begin();
        std::memset(numbers + x, static_cast<int>(number), end - x);
        x = end;
    }
}

int BitDepth(std::size_t colours)
{
    if (colours <= 2)
        return 1;
    if (colours <= 4)
        return 2;
    return colours <= 16 ? 4 : 8;
}

// Packs one row of colour numbers into Depth bits each, the first pixel in the high bits.
template <int Depth>
void PackRowAs(const std::uint8_t* pixels, std::size_t width, std::uint8_t* packed)
{
    constexpr std::size_t PerByte = 8 / Depth;
    std::size_t x = 0;
    for (; x + PerByte <= width; x += PerByte)
    {
        unsigned byte = 0;
        for (std::size_t i = 0; i < PerByte; ++i)
            byte = (byte << Depth) | pixels[x + i];
        *packed++ = static_cast<std::uint8_t>(byte);
    }
    if (x < width)
    {
        unsigned byte = 0;
        for (std::size_t i = 0; i < PerByte; ++i)
            byte = (byte << Depth) | (x + i < width ? pixels[x + i] : 0u);
        *packed = static_cast<std::uint8_t>(byte);
    }
}

void PackRow(const std::uint8_t* pixels, std::size_t width, int depth, std::uint8_t* packed)
{
    switch (depth)
    {
    case 1:
        return PackRowAs<1>(pixels, width, packed);
    case 2:
        return PackRowAs<2>(pixels, width, packed);
    case 4:
        return PackRowAs<4>(pixels, width, packed);
    default:
        std::memcpy(packed, pixels, width);
    }
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data),
                                                          static_cast<qsizetype>(length));
}

void Flush(png_structp) {}

// libpng reports its errors by longjmp, so this frame holds nothing that needs a destructor
// beyond what the caller made before.
bool WritePng(const QImage& argb, const std::vector<QRgb>& colours, const std::vector<png_color>& palette,
              const std::vector<png_byte>& alphas, std::vector<std::uint8_t>& numbers,
              std::vector<std::uint8_t>& packed, QByteArray& out)
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
    const int depth = BitDepth(colours.size());
    png_set_write_fn(png, &out, AppendBytes, Flush);
    png_set_compression_level(png, CompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE); // filters only blur colour numbers
    png_set_IHDR(png, info, static_cast<png_uint_32>(argb.width()), static_cast<png_uint_32>(argb.height()), depth,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!alphas.empty())
        png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
    png_write_info(png, info);
    const auto width = static_cast<std::size_t>(argb.width());
    for (int y = 0; y < argb.height(); ++y)
    {
        NumberRow(reinterpret_cast<const QRgb*>(argb.constScanLine(y)), width, colours, numbers.data());
        PackRow(numbers.data(), width, depth, packed.data());
        png_write_row(png, packed.data());
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
    std::vector<QRgb> colours;
    if (!CollectColours(argb, colours))
        return {};
    const bool opaque = !argb.hasAlphaChannel();
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    for (const QRgb colour : colours)
    {
        palette.push_back({static_cast<png_byte>(qRed(colour)), static_cast<png_byte>(qGreen(colour)),
                           static_cast<png_byte>(qBlue(colour))});
        alphas.push_back(opaque ? png_byte{255} : static_cast<png_byte>(qAlpha(colour)));
    }
    // tRNS may end at the last colour that is not opaque.
    while (!alphas.empty() && alphas.back() == 255)
        alphas.pop_back();
    std::vector<std::uint8_t> numbers(static_cast<std::size_t>(argb.width()));
    std::vector<std::uint8_t> packed(numbers.size());
    QByteArray out;
    if (!WritePng(argb, colours, palette, alphas, numbers, packed, out))
        return {};
    return out;
}
