#pragma once

#include "app/commands/user_dialogs.h"

// The desktop's answers: modal message boxes of plain text, Qt's file dialogs, the keyboard's
// Shift state, the desktop's URL opener.
class TDesktopDialogs final : public TUserDialogs
{
public:
    void ShowMessage(QWidget* parent, const TMessageBoxRequest& request) override;
    QString AskForPath(QWidget* parent, const TFileDialogRequest& request) override;
    bool ShiftKeyDown() override;
    void OpenUrl(const QString& url) override;
};
