#pragma once

#include <QColor>
#include <QImage>

// Pixel checks on rendered chart images.
inline QColor PixelAt(const QImage& image, int x, int y)
{
    return QColor::fromRgb(image.pixel(x, y));
}

//! Whether any pixel of the box [x1, x2) x [y1, y2) has the colour.
inline bool AnyPixel(const QImage& image, int x1, int y1, int x2, int y2, const QColor& colour)
{
    for (int y = y1; y < y2; ++y)
        for (int x = x1; x < x2; ++x)
            if (image.pixel(x, y) == colour.rgb())
                return true;
    return false;
}

inline bool AnyPixel(const QImage& image, const QColor& colour)
{
    return AnyPixel(image, 0, 0, image.width(), image.height(), colour);
}

//! The rightmost column of the box [x1, x2) x [y1, y2) with a pixel of the colour; -1 when none.
inline int RightmostColumn(const QImage& image, int x1, int y1, int x2, int y2, const QColor& colour)
{
    for (int x = x2 - 1; x >= x1; --x)
        if (AnyPixel(image, x, y1, x + 1, y2, colour))
            return x;
    return -1;
}
