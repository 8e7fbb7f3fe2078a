#include "app/commands/pending_rows.h"

#include <QTreeWidget>

TPendingRows::TPendingRows(QTreeWidget* list) : List(list) {}

TPendingRows::~TPendingRows()
{
    Flush();
}

void TPendingRows::Add(QTreeWidgetItem* row)
{
    Rows.append(row);
}

void TPendingRows::Flush()
{
    if (Rows.isEmpty())
        return;
    QTreeWidgetItem* newest = Rows.back();
    List->addTopLevelItems(Rows);
    Rows.clear();
    List->setCurrentItem(newest);
    List->scrollToItem(newest);
    List->clearSelection();
}
