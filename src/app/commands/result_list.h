#pragma once

#include "screener/screening.h"

#include <QString>
#include <Qt>

class QTreeWidget;
class QTreeWidgetItem;

// The result list's columns and the actions on its rows: sorting, copying, the row's stock.

struct TResultColumn
{
    const char* Caption;
    int Width; // pixels; 0 and 2 hide a column the list still holds
    Qt::Alignment Alignment;
};

//! The 21 columns in list order.
const TResultColumn& ResultColumn(int column);

//! Item data role of a row's chart: its number in the run's chart archive.
constexpr int ChartRole = Qt::UserRole + 1;

//! Sorts the rows by the text of `column`, compared by the user's locale, ascending for
//! `direction` 1 and descending for -1; equal texts keep their order, selected rows stay
//! selected.
void SortResultRows(QTreeWidget* list, int column, int direction);

//! The selected rows in list order, as the clipboard takes them: the 21 cells joined by
//! commas, commas inside a cell left out except in the first, each line ended by CR LF.
QString SelectedRowsText(const QTreeWidget* list);

//! The first selected row in list order, or null.
QTreeWidgetItem* FirstSelectedRow(const QTreeWidget* list);
