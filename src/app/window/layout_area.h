#pragma once

#include <QWidget>

#include <functional>

// The form's client area: lays out its docked panels whenever it changes size.
class TLayoutArea : public QWidget
{
public:
    TLayoutArea(QWidget* parent, std::function<void()> layout);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::function<void()> Layout;
};
