#pragma once

#include <QList>

class QTreeWidget;
class QTreeWidgetItem;

// The rows a run has found but not yet put in the list. A row put in lays the whole list out
// again, so they go in together, just before a frame shows them; the newest is then scrolled
// into view and made current, with no row selected.
class TPendingRows
{
public:
    explicit TPendingRows(QTreeWidget* list);
    //! Flush().
    ~TPendingRows();
    TPendingRows(const TPendingRows&) = delete;
    TPendingRows& operator=(const TPendingRows&) = delete;

    //! Takes `row` for the list.
    void Add(QTreeWidgetItem* row);

    //! Puts the rows taken into the list.
    void Flush();

private:
    QTreeWidget* List;
    QList<QTreeWidgetItem*> Rows;
};
