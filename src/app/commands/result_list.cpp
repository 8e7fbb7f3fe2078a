#include "app/commands/result_list.h"

#include <QTreeWidget>

#include <algorithm>
#include <vector>

namespace {

constexpr Qt::Alignment Left = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment Centre = Qt::AlignHCenter | Qt::AlignVCenter;
constexpr Qt::Alignment Right = Qt::AlignRight | Qt::AlignVCenter;

const TResultColumn Columns[ResultColumnCount] = {
    {"銘柄", 120, Left},         {"市場", 40, Centre},     {"現在値", 70, Centre}, {"前日比", 75, Centre},
    {"始値", 2, Centre},         {"高値", 2, Centre},      {"安値", 2, Centre},    {"出来高", 65, Centre},
    {"単元株数", 0, Centre},     {"推奨", 40, Centre},     {"購入値", 70, Centre}, {"購入日付", 75, Centre},
    {"売却値", 70, Centre},      {"売却日付", 75, Centre}, {"上昇率", 50, Centre}, {"評価", 40, Centre},
    {"1株あたり益", 75, Centre}, {"Info1", 0, Right},      {"Info2", 0, Right},    {"Info3", 0, Right},
    {"Info4", 0, Right}};

} // namespace

const TResultColumn& ResultColumn(int column)
{
    return Columns[column];
}

void SortResultRows(QTreeWidget* list, int column, int direction)
{
    std::vector<QTreeWidgetItem*> rows;
    std::vector<QTreeWidgetItem*> selected;
    while (list->topLevelItemCount() > 0)
    {
        QTreeWidgetItem* row = list->topLevelItem(0);
        if (row->isSelected())
            selected.push_back(row);
        rows.push_back(list->takeTopLevelItem(0));
    }
    std::stable_sort(rows.begin(), rows.end(), [column, direction](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return QString::localeAwareCompare(a->text(column), b->text(column)) * direction < 0;
    });
    for (QTreeWidgetItem* row : rows)
        list->addTopLevelItem(row);
    for (QTreeWidgetItem* row : selected)
        row->setSelected(true);
}

QString SelectedRowsText(const QTreeWidget* list)
{
    QString text;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
    {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        if (!row->isSelected())
            continue;
        text += row->text(0);
        for (int column = 1; column < ResultColumnCount; ++column)
        {
            QString cell = row->text(column);
            cell.remove(QLatin1Char(','));
            text += QLatin1Char(',') + cell;
        }
        text += QStringLiteral("\r\n");
    }
    return text;
}

QTreeWidgetItem* FirstSelectedRow(const QTreeWidget* list)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected())
            return list->topLevelItem(i);
    return nullptr;
}
