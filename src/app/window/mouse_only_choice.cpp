#include "app/window/mouse_only_choice.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>

TMouseOnlyChoice::TMouseOnlyChoice(QComboBox* box) : QObject(box), Box(box)
{
    box->installEventFilter(this);
    box->view()->installEventFilter(this);
}

bool TMouseOnlyChoice::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
    {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const bool focusKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        return !(watched == Box && focusKey);
    }
    return event->type() == QEvent::Wheel;
}
