#include "app/window/form_widgets.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
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

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& place, const QString& text, Qt::Alignment alignment,
                  const QColor& colour, const std::optional<QColor>& background)
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

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& place, const QString& text, const QFont& font)
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

QPixmap TitlePicture(const QSize& size)
{
    QPixmap picture(size);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 0, size.height());
    gradient.setColorAt(0, QColor(0, 32, 96));
    gradient.setColorAt(1, QColor(0, 96, 160));
    painter.fillRect(picture.rect(), gradient);
    painter.setPen(QColor(255, 255, 255));
    painter.setFont(PixelFont(QStringLiteral("IPAPGothic"), 48, true));
    painter.drawText(QRect(0, 40, size.width(), 70), Qt::AlignCenter, QStringLiteral("Orvanta"));
    painter.setPen(QColor(255, 255, 0));
    painter.setFont(PixelFont(QStringLiteral("IPAPGothic"), 22, true));
    painter.drawText(QRect(0, 110, size.width(), 30), Qt::AlignCenter,
                     QStringLiteral("おるばんた ― 株価チャートと銘柄検索"));
    return picture;
}

void SetTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}
