// The window's side of "株価データを更新…": the dialog is made on first use and kept, so a
// fetch goes on while it is closed; a fetch and a screening run lock each other out.

#include "app/window/main_form.h"

#include <QAction>
#include <QPushButton>

void TMainForm::SetDataUpdateTarget(std::optional<TDataUpdateTarget> target, const QString& note)
{
    DataUpdateTarget = std::move(target);
    DataUpdate1->setToolTip(DataUpdateTarget ? QString() : note);
    UpdateReportActions();
}

bool TMainForm::DataUpdateRunning() const
{
    return DataUpdateDialog != nullptr && DataUpdateDialog->Fetching();
}

void TMainForm::DataUpdate1Click()
{
    if (!DataUpdateTarget || ScreeningRunning)
        return;
    if (DataUpdateDialog == nullptr) {
        DataUpdateDialog = new TDataUpdateDialog(*DataUpdateTarget, this);
        connect(DataUpdateDialog, &TDataUpdateDialog::FetchStarted, this,
                [this] { KabuSearchButton->setEnabled(false); });
        connect(DataUpdateDialog, &TDataUpdateDialog::FetchFinished, this, [this](int exitStatus) {
            // A command under way keeps its own lock; it releases the button with the others.
            KabuSearchButton->setEnabled(KabuNoButton->isEnabled());
            if (OnDataUpdated)
                OnDataUpdated(exitStatus);
        });
    }
    DataUpdateDialog->SetScreeningRunning(ScreeningRunning);
    DataUpdateDialog->show();
    DataUpdateDialog->raise();
    DataUpdateDialog->activateWindow();
}
