#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <vector>

class QWidget;

// Paints what a run changes for every stock, the result list and the progress display, at
// most 25 times a second: a new row makes the list repaint all its visible rows, and a step
// of the progress bar repaints the bar and what lies over it at once; more frames look the
// same to a reader. A change that arrives between frames is painted by a timer at the next
// frame, also when no further change follows for a long time, so the newest state shows
// within 40 ms and painting is never left switched off.
class TRunFrames
{
public:
    explicit TRunFrames(std::initializer_list<QWidget*> widgets);
    ~TRunFrames();
    TRunFrames(const TRunFrames&) = delete;
    TRunFrames& operator=(const TRunFrames&) = delete;

    //! Runs `action` at once while the widgets paint, else right before they paint again,
    //! in place of an action still waiting: what it changes shows only in a frame anyway.
    void BeforeFrame(std::function<void()> action);

    //! Call before the widgets change.
    void Coming();

private:
    static constexpr qint64 FrameMs = 40;

    void Paint();
    void Resume();

    std::vector<QWidget*> Widgets;
    QTimer Timer;
    QElapsedTimer SinceFrame;
    bool Paused = false;
    std::function<void()> Waiting; // for the next frame
};
