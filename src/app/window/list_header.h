#pragma once

#include <QHeaderView>
#include <QSize>

// The result list's header. The list lays itself out for every row a run adds and asks the
// header for its size each time, which measured all 21 captions again; they change only
// with the captions, the font or the style.
class TListHeader : public QHeaderView
{
public:
    explicit TListHeader(QWidget* parent);

    QSize sizeHint() const override;
    void setModel(QAbstractItemModel* model) override;

protected:
    bool event(QEvent* event) override;

private:
    mutable QSize Measured;
};
