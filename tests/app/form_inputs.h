#pragma once

#include "app/window/main_form.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <initializer_list>
#include <vector>

//! Whether each of the seven input controls a lookup locks is enabled: 表示, the code box,
//! the market box, the two period buttons, the sector box and 一覧検索.
inline std::vector<bool> InputStates(const TMainForm& form)
{
    std::vector<bool> states;
    for (QWidget* control :
         std::initializer_list<QWidget*>{form.KabuNoButton, form.KabuNoEdit, form.ShijouBox, form.ChartLengDay,
                                         form.ChartLengWeek, form.KabuSearchBox, form.KabuSearchButton})
        states.push_back(control->isEnabled());
    return states;
}
