#include "app/window/result_view.h"

#include "app/commands/result_list.h"
#include "app/window/form_widgets.h"
#include "app/window/grid_delegate.h"
#include "app/window/list_header.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTreeWidget>

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
