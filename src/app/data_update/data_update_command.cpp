#include "app/data_update/data_update_command.h"

#include <QWidget>

TDataUpdateCommand::TDataUpdateCommand(QWidget* window) : QObject(window), Window(window) {}

void TDataUpdateCommand::SetTarget(std::optional<TDataUpdateTarget> target, const QString& note)
{
    Target = std::move(target);
    TargetNote = Target ? QString() : note;
}

bool TDataUpdateCommand::Running() const
{
    return Dialog != nullptr && Dialog->Fetching();
}

void TDataUpdateCommand::SetScreeningRunning(bool running)
{
    if (Dialog)
        Dialog->SetScreeningRunning(running);
}

void TDataUpdateCommand::Open(bool screeningRunning)
{
    if (!Target || screeningRunning)
        return;
    if (Dialog == nullptr)
    {
        Dialog = new TDataUpdateDialog(*Target, Window);
        connect(Dialog, &TDataUpdateDialog::FetchStarted, this, &TDataUpdateCommand::FetchStarted);
        connect(Dialog, &TDataUpdateDialog::FetchFinished, this, &TDataUpdateCommand::FetchFinished);
    }
    Dialog->SetScreeningRunning(screeningRunning);
    Dialog->show();
    Dialog->raise();
    Dialog->activateWindow();
}
