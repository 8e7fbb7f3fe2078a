#pragma once

#include <QByteArray>

class QImage;

//! `image` as a palette PNG at the smallest bit depth its colours allow (1, 2, 4 or 8 bits a
//! pixel), transparency kept; empty when it has more than 256 colours or cannot be encoded.
//! Every pixel decodes to the image's own, as it is after un-premultiplying.
QByteArray PalettePng(const QImage& image);
