#pragma once

#include "chart/chart_palette.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <span>

class QPainter;
struct TPaneScale;

// Drawing primitives with the chart's rectangle rule: a rectangle from (x1, y1) to (x2, y2)
// covers columns x1..x2-1 and rows y1..y2-1, so a rectangle of zero width or height paints
// nothing and neighbouring rectangles that share an edge coordinate touch without overlap.

// On/off run lengths in pixels of the styled one-pixel pens.
inline constexpr int DotPattern[] = {3, 3};
inline constexpr int DashDotDotPattern[] = {9, 3, 3, 3, 3, 3};

// Font sizes in pixels: 8 and 7 points at 96 dots per inch.
inline constexpr int Text8Point = 11;
inline constexpr int Text7Point = 9;

//! Solid rectangle in one colour (pen and brush alike); corners in either order.
void FillRectangle(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour);

//! One-pixel solid outline without fill.
void OutlineRectangle(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour);

//! One-pixel styled outline without fill; each edge starts the pattern at its first pixel.
void StyledRectangle(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour,
                     std::span<const int> pattern);

//! One-pixel ellipse outline inside the rectangle, without fill.
void EllipseOutline(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour);

//! Line from `from` to `to` without its end pixel; a line of no length paints nothing.
void LineSegment(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour);

//! Text whose cell's top-left corner is (x, y), without background, in the window's face;
//! `stretch` narrows the face to that percentage of its width.
void TextAt(QPainter& painter, int x, int y, const QString& text, int pixelSize, const QColor& colour,
            int stretch = 100);

//! The widest stretch of `font`, in percent from 100 down to 50, at which `text` advances at
//! most `room` pixels; 50 when even that is too wide.
int FittingStretch(const QFont& font, const QString& text, int room);

//! The chart face: the layout's "ＭＳ Ｐゴシック", falling back to IPA P Gothic.
QString ChartFontFamily();

//! The chart face at a pixel size and stretch, drawn without antialiasing.
QFont ChartFont(int pixelSize, int stretch = 100);

//! Dotted horizontal lines at the multiples of `step` within the pane's value range, each
//! labelled "%5d" + `unit` to the left of the plot; at most 1,000 lines, so a hostile range
//! cannot hang the window. The labels share one stretch, narrowed so the widest ends before
//! the plot's left edge. Lines in the palette's grid colour, labels in its text colour.
void DrawValueGrid(QPainter& painter, const TPaneScale& scale, std::int64_t step, const QString& unit,
                   int textPixels, const TChartPalette& palette);
