#include "app/window/grid_delegate.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>

#include <algorithm>

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QRect cell = option.rect;
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter->fillRect(cell, selected ? option.palette.highlight() : option.palette.base());
    const QString text = index.data(Qt::DisplayRole).toString();
    const int room = cell.width() - 2 * TextMargin;
    if (!text.isEmpty() && room > 0)
    {
        const QStaticText& shaped = Shaped(text, room, option.font);
        const QSizeF size = shaped.size();
        const auto alignment = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
        qreal x = cell.left() + TextMargin;
        if (alignment.testFlag(Qt::AlignRight))
            x = cell.right() + 1 - TextMargin - size.width();
        else if (alignment.testFlag(Qt::AlignHCenter))
            x = cell.left() + (cell.width() - size.width()) / 2;
        // Clip and pen set for the text and undone after it: save() and restore() copy the
        // whole painter state, which cost more than the text. The font is the list's, as the
        // painter's already is.
        const bool clipped = painter->hasClipping();
        const QPen pen = painter->pen();
        if (clipped)
            painter->save();
        painter->setClipRect(cell);
        painter->setFont(option.font);
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        painter->drawStaticText(QPointF(x, cell.top() + (cell.height() - size.height()) / 2), shaped);
        if (clipped)
        {
            painter->restore();
        }
        else
        {
            painter->setClipping(false);
            painter->setPen(pen);
        }
    }
    // The grid lines as one-pixel rectangles: drawn as lines they took the slow pen path.
    // A cell of width 0 has its bottom line reach one pixel left, as the line did.
    painter->fillRect(QRect(cell.right(), cell.top(), 1, cell.height()), GridColour);
    painter->fillRect(QRect(QPoint(std::min(cell.left(), cell.right()), cell.bottom()),
                            QPoint(std::max(cell.left(), cell.right()), cell.bottom())),
                      GridColour);
}

QSize TGridDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The list has one font and its cells one line of text each, so the text decides.
    const QString key = index.data(Qt::DisplayRole).toString();
    auto found = Sizes.find(key);
    if (found != Sizes.end())
        return *found;
    if (Sizes.size() >= MaxCachedTexts)
        Sizes.clear();
    return *Sizes.insert(key, QStyledItemDelegate::sizeHint(option, index));
}

const QStaticText& TGridDelegate::Shaped(const QString& text, int room, const QFont& font) const
{
    const std::pair<int, QString> key{room, text};
    auto found = Cache.find(key);
    if (found != Cache.end())
        return *found;
    if (Cache.size() >= MaxCachedTexts)
        Cache.clear();
    QStaticText shaped(QFontMetrics(font).elidedText(text, Qt::ElideRight, room));
    shaped.setTextFormat(Qt::PlainText);
    shaped.prepare(QTransform(), font);
    return *Cache.insert(key, shaped);
}
