#pragma once

#include <QString>

#include <functional>

// Where an unattended run's progress and messages go.
struct TBatchConsole
{
    std::function<void(const QString&)> Write; // text as it comes, lines ended by '\n'
    bool Terminal = false;                     // progress as one line rewritten in place, else a line every 10 %
};

//! The process's stderr, a terminal or not.
TBatchConsole StandardErrorConsole();

//! One line of the run's log, "orvanta: " first: outside text in it never adds a line or a
//! control sequence of its own.
QString BatchLogLine(const QString& text);
