#pragma once

#include "analysis/chart_length.h"

#include <QString>

#include <optional>

class TChartView;
class QTreeWidgetItem;

// The commands that show one stock: "表示", the period buttons, and opening a result row.
// Each answers with the information text to show, or nothing.

//! "表示": checks `code` (five digits allowed), makes the key with the market at
//! `marketIndex` and runs the whole chain for `length`. The code check's message, or
//! "データがありません。" when there is no quote; the chain then stops.
std::optional<QString> LookUpStock(TChartView& chart, const QString& code, int marketIndex, TChartLength length);

//! A period button: checks `code` (four characters) and runs the chain after the quote for
//! `length`, without reading the quote again. The code check's message when it fails.
std::optional<QString> SwitchPeriod(TChartView& chart, const QString& code, int marketIndex, TChartLength length);

//! Opens a result row: the key is the row's first cell up to its first blank (leading blanks
//! left out) and the suffix of its market cell; the whole chain runs when there is a quote. A row whose market
//! is not known opens nothing.
void OpenResultRow(TChartView& chart, const QTreeWidgetItem& row, TChartLength length);
