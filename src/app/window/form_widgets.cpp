#include "app/window/form_widgets.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

QFont PixelFont(const QString& family, int pixels, bool bold)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void SetColours(QWidget* widget, const QColor& background, const std::optional<QColor>& text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    if (text)
    {
        palette.setColor(QPalette::WindowText, *text);
        palette.setColor(QPalette::Text, *text);
        palette.setColor(QPalette::ButtonText, *text);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& place, const std::optional<QColor>& colour)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(place);
    if (colour)
        SetColours(panel, *colour);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& place, const QString& text,
                  Qt::Alignment alignment, const QColor& colour, const std::optional<QColor>& background)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    label->setText(text);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    if (background)
    {
        palette.setColor(QPalette::Window, *background);
        label->setAutoFillBackground(true);
    }
    label->setPalette(palette);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& place, const QString& text,
                        const QFont& font)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(place);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QRect& place, const QString& text)
{
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QLatin1String(name));
    check->setGeometry(place);
    check->setFont(PixelFont(WindowFontName, 12));
    return check;
}

void SetTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}
