#include "app/window/list_header.h"

#include <QEvent>

TListHeader::TListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    // As the header a tree view makes for itself.
    setSectionsMovable(true);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(this, &QHeaderView::sectionCountChanged, this, [this] { Measured = QSize(); });
}

QSize TListHeader::sizeHint() const
{
    if (!Measured.isValid())
        Measured = QHeaderView::sizeHint();
    return Measured;
}

void TListHeader::setModel(QAbstractItemModel* model)
{
    QHeaderView::setModel(model);
    Measured = QSize();
    if (model)
        connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { Measured = QSize(); });
}

bool TListHeader::event(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        Measured = QSize();
    return QHeaderView::event(event);
}
