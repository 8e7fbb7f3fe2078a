#pragma once

#include <QColor>
#include <QHash>
#include <QSize>
#include <QStaticText>
#include <QString>
#include <QStyledItemDelegate>

#include <utility>

// Paints the result list's cells: plain text, elided to the cell, with grid lines on the right
// and at the bottom. A screening run repaints the visible rows for every row it adds, so the
// shaped text of each cell is kept for the next paint instead of being laid out again.
class TGridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The list lays its rows out again for every row a run adds and asks the first row for
    // its size each time; shaping the same texts again was most of that layout.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    static constexpr int TextMargin = 1;
    static constexpr int MaxCachedTexts = 4000;
    static constexpr QColor GridColour{128, 128, 128};

    const QStaticText& Shaped(const QString& text, int room, const QFont& font) const;

    mutable QHash<std::pair<int, QString>, QStaticText> Cache;
    mutable QHash<QString, QSize> Sizes;
};
