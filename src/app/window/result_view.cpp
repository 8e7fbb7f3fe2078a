#include "app/window/result_view.h"

#include "app/commands/result_list.h"
#include "app/window/form_widgets.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QPainter>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

namespace {

// Paints the result list's cells: plain text, elided to the cell, with grid lines on the right
// and at the bottom. A screening run repaints the visible rows for every row it adds, so the
// shaped text of each cell is kept for the next paint instead of being laid out again.
class TGridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
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

    // The list lays its rows out again for every row a run adds and asks the first row for
    // its size each time; shaping the same texts again was most of that layout.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
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

private:
    static constexpr int TextMargin = 1;
    static constexpr int MaxCachedTexts = 4000;
    static constexpr QColor GridColour{128, 128, 128};

    const QStaticText& Shaped(const QString& text, int room, const QFont& font) const
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

    mutable QHash<std::pair<int, QString>, QStaticText> Cache;
    mutable QHash<QString, QSize> Sizes;
};

// The result list's header. The list lays itself out for every row a run adds and asks the
// header for its size each time, which measured all 21 captions again; they change only
// with the captions, the font or the style.
class TListHeader : public QHeaderView
{
public:
    explicit TListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        // As the header a tree view makes for itself.
        setSectionsMovable(true);
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        connect(this, &QHeaderView::sectionCountChanged, this, [this] { Measured = QSize(); });
    }

    QSize sizeHint() const override
    {
        if (!Measured.isValid())
            Measured = QHeaderView::sizeHint();
        return Measured;
    }

    void setModel(QAbstractItemModel* model) override
    {
        QHeaderView::setModel(model);
        Measured = QSize();
        if (model)
            connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { Measured = QSize(); });
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            Measured = QSize();
        return QHeaderView::event(event);
    }

private:
    mutable QSize Measured;
};

} // namespace

QTreeWidget* MakeResultList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QStringLiteral("KabuCodeList"));
    list->setHeader(new TListHeader(list));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFont(PixelFont(WindowFontName, 12));
    // Colours by palette and grid lines by a delegate: a style sheet would make every
    // repaint of a long result list go through the slow style-sheet path.
    QPalette listPalette = list->palette();
    listPalette.setColor(QPalette::Base, Qt::black);
    listPalette.setColor(QPalette::Text, QColor(255, 255, 0));
    list->setPalette(listPalette);
    list->setItemDelegate(new TGridDelegate(list));
    list->setColumnCount(ResultColumnCount);
    QTreeWidgetItem* header = list->headerItem();
    for (int column = 0; column < ResultColumnCount; ++column)
    {
        header->setText(column, QString::fromUtf8(ResultColumn(column).Caption));
        header->setTextAlignment(column, ResultColumn(column).Alignment);
    }
    list->header()->setMinimumSectionSize(0);
    list->header()->setSectionsClickable(true);
    list->header()->setStretchLastSection(false);
    for (int column = 0; column < ResultColumnCount; ++column)
        list->setColumnWidth(column, ResultColumn(column).Width);
    return list;
}
