#include "app/window/layout_area.h"

#include <utility>

TLayoutArea::TLayoutArea(QWidget* parent, std::function<void()> layout) : QWidget(parent), Layout(std::move(layout)) {}

void TLayoutArea::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}
