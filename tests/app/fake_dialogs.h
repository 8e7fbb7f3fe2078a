#pragma once

#include "app/commands/user_dialogs.h"

#include <functional>
#include <vector>

// The user's side of the program in a test: every question recorded, every answer given.
class TFakeDialogs final : public TUserDialogs
{
public:
    std::vector<TMessageBoxRequest> Shown;
    std::vector<TFileDialogRequest> Asked;
    std::vector<QString> Opened;
    bool Shift = false;
    //! The path a file dialog answers with; empty cancels.
    std::function<QString(const TFileDialogRequest&)> AnswerPath;

    void ShowMessage(QWidget*, const TMessageBoxRequest& request) override { Shown.push_back(request); }
    QString AskForPath(QWidget*, const TFileDialogRequest& request) override
    {
        Asked.push_back(request);
        return AnswerPath ? AnswerPath(request) : QString();
    }
    bool ShiftKeyDown() override { return Shift; }
    void OpenUrl(const QString& url) override { Opened.push_back(url); }
};
