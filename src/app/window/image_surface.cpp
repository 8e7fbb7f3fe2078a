#include "app/window/image_surface.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TImageSurface::TImageSurface(QWidget* parent, int width, int height)
    : QWidget(parent), Picture(width, height, QImage::Format_ARGB32_Premultiplied)
{
    // Clear until a pass draws on it, so the panel shows through as it does before a lookup.
    Picture.fill(Qt::transparent);
    Shown = Picture;
    resize(width, height);
}

void TImageSurface::Present()
{
    if (Shown.constBits() != Picture.constBits() && !Shown.isNull() && Retired.size() < MaxRetired)
        Retired.push_back(std::move(Shown));
    Shown = Picture;
    update();
}

void TImageSurface::Restart()
{
    if (Picture.isDetached())
        return;
    // A fresh picture for every stock of a run cost an allocation and its page faults.
    const auto free = std::find_if(Retired.begin(), Retired.end(), [this](const QImage& image) {
        return image.isDetached() && image.size() == Picture.size() && image.format() == Picture.format();
    });
    if (free != Retired.end())
    {
        Picture = std::move(*free);
        Retired.erase(free);
    }
    else
    {
        Picture = QImage(Picture.size(), Picture.format());
    }
}

void TImageSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, Shown);
}

void TImageSurface::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    emit MouseMoved(point.x(), point.y());
}
