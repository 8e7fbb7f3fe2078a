#include "app/commands/run_frames.h"

#include <QWidget>

#include <utility>

TRunFrames::TRunFrames(std::initializer_list<QWidget*> widgets) : Widgets(widgets)
{
    Timer.setSingleShot(true);
    QObject::connect(&Timer, &QTimer::timeout, Widgets.front(), [this] { Paint(); });
    SinceFrame.start();
}

TRunFrames::~TRunFrames()
{
    Resume();
}

void TRunFrames::BeforeFrame(std::function<void()> action)
{
    if (Paused)
        Waiting = std::move(action);
    else
        action();
}

void TRunFrames::Coming()
{
    const qint64 elapsed = SinceFrame.elapsed();
    if (elapsed >= FrameMs)
    {
        Timer.stop();
        Paint();
        return;
    }
    if (!Paused)
    {
        for (QWidget* widget : Widgets)
            widget->setUpdatesEnabled(false);
        Paused = true;
    }
    if (!Timer.isActive())
        Timer.start(static_cast<int>(FrameMs - elapsed));
}

void TRunFrames::Paint()
{
    Resume();
    SinceFrame.restart();
}

void TRunFrames::Resume()
{
    if (!Paused)
        return;
    if (Waiting)
        std::exchange(Waiting, nullptr)();
    for (QWidget* widget : Widgets)
        widget->setUpdatesEnabled(true);
    Paused = false;
}
