#pragma once

#include "app/startup/command_line.h"

#include <QString>

#include <functional>

class TMainForm;

// Where an unattended run's progress and messages go.
struct TBatchConsole
{
    std::function<void(const QString&)> Write; // text as it comes, lines ended by '\n'
    bool Terminal = false; // progress as one line rewritten in place, else a line every 10 %
};

//! Keeps Qt's own notes (a missing runtime folder, what the offscreen platform lacks) out of
//! an unattended run's stderr, which carries its progress and errors; Qt's critical and
//! fatal messages still go there. Call before the application object exists.
void QuietQtNotes();

//! The process's stderr, a terminal or not.
TBatchConsole StandardErrorConsole();

//! Runs the screening of `options` with `form`'s own run, the way 一覧検索 does, without
//! showing the form, and writes the report into options.OutDir. Message boxes go to the
//! console. Returns the exit status: 0 when the run ended normally (a stop at a code out of
//! range included, and a run where some stocks were read and others skipped), 2 when a data
//! error ended it, when no stock's page could be read because every fetch brought nothing, or
//! when the report could not be written (the rows made so far are written), UsageStatus when
//! the out folder cannot be made or written (nothing is run), 128 + the signal's number when
//! SIGINT or SIGTERM ended it (the rows so far are written, `ended` reads "interrupted").
int RunScreeningBatch(TMainForm& form, const TBatchOptions& options, const TBatchConsole& console);
