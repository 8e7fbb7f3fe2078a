#pragma once

#include "app/commands/user_dialogs.h"

#include <functional>

struct TBatchConsole;

// The user dialogs of an unattended run: nobody is there to answer. A message goes to the
// console as one line; the data-error box, which says the same two lines for every error, is
// only noted (the run's log names the error itself once the run is over); a file dialog is
// cancelled; the Shift key is never down; no browser is opened.
class TConsoleDialogs final : public TUserDialogs
{
public:
    explicit TConsoleDialogs(const TBatchConsole& console);

    //! Called before a message's line, so a progress line rewritten in place ends first.
    std::function<void()> BeforeLine;

    //! True once the data-error box was asked for.
    bool DataErrorShown() const { return DataError; }

    void ShowMessage(QWidget* parent, const TMessageBoxRequest& request) override;
    QString AskForPath(QWidget* parent, const TFileDialogRequest& request) override;
    bool ShiftKeyDown() override;
    void OpenUrl(const QString& url) override;

private:
    const TBatchConsole& Console;
    bool DataError = false;
};
