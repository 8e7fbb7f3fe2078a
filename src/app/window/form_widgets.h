#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <Qt>

#include <optional>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

// The window's controls as the layout gives them: a name, a place and colours each.

//! The layout's faces; the application maps them to IPA P Gothic.
inline const QString WindowFontName = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString UiFontName = QStringLiteral("MS UI Gothic");
inline const QString PopFontName = QStringLiteral("HG創英角ﾎﾟｯﾌﾟ体");

//! `family` at a size in pixels.
QFont PixelFont(const QString& family, int pixels, bool bold = false);

//! Fills `widget` with `background`, and sets its text colours when `text` is given.
void SetColours(QWidget* widget, const QColor& background, const std::optional<QColor>& text = std::nullopt);

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& place,
                  const std::optional<QColor>& colour = std::nullopt);

//! A label of plain text: outside data such as a stock name must never render as markup.
QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& place, const QString& text, Qt::Alignment alignment,
                  const QColor& colour, const std::optional<QColor>& background);

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& place, const QString& text, const QFont& font);

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QRect& place, const QString& text);

//! The title panel's picture: drawn rather than shipped, so it scales with the panel.
QPixmap TitlePicture(const QSize& size);

//! Sets the colour a label's text is drawn in.
void SetTextColour(QLabel* label, const QColor& colour);
