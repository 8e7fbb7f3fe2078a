#pragma once

#include "app/batch/batch_console.h"
#include "app/batch/console_dialogs.h"
#include "app/startup/command_line.h"
#include "app/window/main_form.h"

//! Keeps Qt's own notes (a missing runtime folder, what the offscreen platform lacks) out of
//! an unattended run's stderr, which carries its progress and errors; Qt's critical and
//! fatal messages still go there. Call before the application object exists.
void QuietQtNotes();

// The unattended screening run of --screen: the window's own run, on a form that is never
// shown and whose questions the console answers.
class TBatchRun
{
public:
    TBatchRun(TBatchOptions options, TBatchConsole console);

    //! Runs the screening of the options the way 一覧検索 does and writes the report into
    //! their OutDir. Returns the exit status: 0 when the run ended normally (a stop at a code
    //! out of range included, and a run where some stocks were read and others skipped), 2
    //! when a data error ended it, when no stock's page could be read because every fetch
    //! brought nothing, or when the report could not be written (the rows made so far are
    //! written), UsageStatus when the out folder cannot be made or written (nothing is run),
    //! 128 + the signal's number when SIGINT or SIGTERM ended it (the rows so far are
    //! written, `ended` reads "interrupted").
    int Run();

private:
    TBatchOptions Options;
    TBatchConsole Console;
    TConsoleDialogs Dialogs;

public:
    //! The form the run drives; its list holds the run's rows afterwards.
    TMainForm Form;
};
