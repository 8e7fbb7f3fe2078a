#pragma once

#include <QObject>

class QComboBox;

// A drop-down box whose item is chosen from its list with the mouse only: no key stroke and
// no wheel turn changes it, so it never holds a text that is not one of its items. Tab and
// Backtab still move the focus on, as they would before the box saw them, so a keyboard user
// is not trapped in it. Owned by the box.
class TMouseOnlyChoice : public QObject
{
public:
    explicit TMouseOnlyChoice(QComboBox* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* Box;
};
