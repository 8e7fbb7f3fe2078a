#include "chart/chart_canvas.h"

#include "chart/pane_scale.h"
#include "common/exact_format.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QPoint>

#include <algorithm>
#include <vector>

namespace {

// Appends the pixels of a horizontal or vertical run that the pattern turns on.
void AppendRun(std::vector<QPoint>& points, int x, int y, int dx, int dy, int length,
               std::span<const int> pattern)
{
    std::size_t part = 0;
    int left = pattern[0];
    for (int i = 0; i < length; ++i)
    {
        if (part % 2 == 0)
            points.emplace_back(x + i * dx, y + i * dy);
        if (--left == 0)
        {
            part = (part + 1) % pattern.size();
            left = pattern[part];
        }
    }
}

QPen PixelPen(const QColor& colour)
{
    QPen pen(colour);
    pen.setWidth(0);
    // A flat cap leaves out a line's end pixel, as the chart's line drawing always has.
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

} // namespace

QString ChartFontFamily()
{
    return QStringLiteral("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"); // ＭＳ Ｐゴシック
}

void FillRectangle(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour)
{
    const int left = std::min(x1, x2);
    const int top = std::min(y1, y2);
    const int width = std::max(x1, x2) - left;
    const int height = std::max(y1, y2) - top;
    if (width > 0 && height > 0)
        painter.fillRect(left, top, width, height, colour);
}

void OutlineRectangle(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour)
{
    const int left = std::min(x1, x2);
    const int top = std::min(y1, y2);
    const int right = std::max(x1, x2);
    const int bottom = std::max(y1, y2);
    if (right <= left || bottom <= top)
        return;
    FillRectangle(painter, left, top, right, top + 1, colour);
    FillRectangle(painter, left, bottom - 1, right, bottom, colour);
    FillRectangle(painter, left, top, left + 1, bottom, colour);
    FillRectangle(painter, right - 1, top, right, bottom, colour);
}

void StyledRectangle(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour,
                     std::span<const int> pattern)
{
    const int left = std::min(x1, x2);
    const int top = std::min(y1, y2);
    const int width = std::max(x1, x2) - left;
    const int height = std::max(y1, y2) - top;
    if (width <= 0 || height <= 0 || pattern.empty())
        return;
    std::vector<QPoint> points;
    points.reserve(static_cast<std::size_t>(2 * (width + height)));
    AppendRun(points, left, top, 1, 0, width, pattern);
    if (height > 1)
        AppendRun(points, left, top + height - 1, 1, 0, width, pattern);
    AppendRun(points, left, top, 0, 1, height, pattern);
    if (width > 1)
        AppendRun(points, left + width - 1, top, 0, 1, height, pattern);
    painter.save();
    painter.setPen(PixelPen(colour));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawPoints(points.data(), static_cast<int>(points.size()));
    painter.restore();
}

void EllipseOutline(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour)
{
    const int left = std::min(x1, x2);
    const int top = std::min(y1, y2);
    const int width = std::max(x1, x2) - left;
    const int height = std::max(y1, y2) - top;
    if (width <= 0 || height <= 0)
        return;
    painter.save();
    painter.setPen(PixelPen(colour));
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Qt's outline of a w x h rectangle covers w + 1 columns.
    painter.drawEllipse(QRect(left, top, width - 1, height - 1));
    painter.restore();
}

void LineSegment(QPainter& painter, int x1, int y1, int x2, int y2, const QColor& colour)
{
    if (x1 == x2 && y1 == y2)
        return;
    painter.save();
    painter.setPen(PixelPen(colour));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawLine(x1, y1, x2, y2);
    painter.restore();
}

QFont ChartFont(int pixelSize, int stretch)
{
    QFont font;
    font.setFamilies({ChartFontFamily(), QStringLiteral("IPAPGothic")});
    font.setPixelSize(pixelSize);
    font.setStretch(stretch);
    // Crisp one-colour glyphs, as the chart's small captions have always been drawn.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

int FittingStretch(const QFont& font, const QString& text, int room)
{
    constexpr int NarrowestStretch = 50;
    const int natural = QFontMetrics(font).horizontalAdvance(text);
    if (natural <= room)
        return 100;
    // Advances shrink about in proportion; glyph rounding can leave a pixel over, so step on.
    QFont narrowed = font;
    int stretch = std::max(NarrowestStretch, room * 100 / std::max(natural, 1));
    for (; stretch > NarrowestStretch; --stretch)
    {
        narrowed.setStretch(stretch);
        if (QFontMetrics(narrowed).horizontalAdvance(text) <= room)
            break;
    }
    return stretch;
}

void TextAt(QPainter& painter, int x, int y, const QString& text, int pixelSize, const QColor& colour, int stretch)
{
    painter.save();
    painter.setFont(ChartFont(pixelSize, stretch));
    painter.setPen(colour);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(x, y + painter.fontMetrics().ascent(), text);
    painter.restore();
}

void DrawValueGrid(QPainter& painter, const TPaneScale& scale, std::int64_t step, const QString& unit,
                   int textPixels, const TChartPalette& palette)
{
    constexpr int MaxGridLines = 1000;
    struct TGridLine
    {
        int Dy;
        QString Label;
    };
    std::vector<TGridLine> gridLines;
    int lines = 0;
    for (std::int64_t v = FirstMultiple(scale.MinValue, step); v <= scale.MaxValue && lines < MaxGridLines;
         v += step, ++lines)
    {
        const int dy = ValueDy(scale, v);
        if (scale.Top + dy <= scale.Bottom)
            gridLines.push_back({dy, QString::fromLatin1(FormatD(v, 5)) + unit});
    }
    // IPA P Gothic is wider than the layout's face: "10000千株" would run into the plot.
    const QFont font = ChartFont(textPixels);
    const QFontMetrics metrics(font);
    const QString* widest = nullptr;
    int widestAdvance = -1;
    for (const TGridLine& line : gridLines)
        if (const int advance = metrics.horizontalAdvance(line.Label); advance > widestAdvance)
        {
            widest = &line.Label;
            widestAdvance = advance;
        }
    constexpr int LabelOffset = 40;
    const int stretch = widest ? FittingStretch(font, *widest, LabelOffset - 1) : 100;
    for (const TGridLine& line : gridLines)
    {
        StyledRectangle(painter, scale.Left, scale.Top + line.Dy, scale.Right, scale.Top + line.Dy + 1,
                        palette.Grid, DotPattern);
        TextAt(painter, scale.Left - LabelOffset, scale.Top + line.Dy - 4, line.Label, textPixels,
               palette.Text, stretch);
    }
}
