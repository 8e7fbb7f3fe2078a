#pragma once

class QTreeWidget;
class QWidget;

//! The result list as the layout gives it: the 21 columns with their captions and widths,
//! yellow text on black, grey grid lines, several rows selectable, no editing. Its cells are
//! plain text, and a long run's list stays quick to lay out and paint.
QTreeWidget* MakeResultList(QWidget* parent);
