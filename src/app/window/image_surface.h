#pragma once

#include <QImage>
#include <QWidget>

#include <cstddef>
#include <vector>

// A drawing surface. The chart passes paint on Picture; the screen shows the picture as it
// stood at the last Present, so a repaint in the middle of a chain never shows half a chart.
class TImageSurface : public QWidget
{
    Q_OBJECT
public:
    TImageSurface(QWidget* parent, int width, int height);
    QImage Picture; // what the chart passes paint on
    QImage Shown;   // what the screen shows

    //! Shows the picture as it stands now. The shown picture shares the picture's pixels:
    //! drawing on the picture again copies them first, unless Restart came before.
    void Present();

    //! The picture is about to be drawn over whole, so its pixels need not be kept: while
    //! they are shown or handed on, the next drawing goes on pixels no one else holds.
    void Restart();

signals:
    void MouseMoved(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Pictures shown earlier, some still held by a run's chart archive; each is drawn on again
    // once no one else holds it, instead of a fresh one for every stock.
    std::vector<QImage> Retired;
    static constexpr std::size_t MaxRetired = 12;
};
