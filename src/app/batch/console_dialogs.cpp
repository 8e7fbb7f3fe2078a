#include "app/batch/console_dialogs.h"

#include "app/batch/batch_console.h"

TConsoleDialogs::TConsoleDialogs(const TBatchConsole& console) : Console(console) {}

void TConsoleDialogs::ShowMessage(QWidget*, const TMessageBoxRequest& request)
{
    if (request.Icon == QMessageBox::NoIcon)
    {
        DataError = true;
        return;
    }
    if (BeforeLine)
        BeforeLine();
    Console.Write(BatchLogLine(QString(request.Text).replace(u'\n', u' ')));
}

QString TConsoleDialogs::AskForPath(QWidget*, const TFileDialogRequest&)
{
    return QString();
}

bool TConsoleDialogs::ShiftKeyDown()
{
    return false;
}

void TConsoleDialogs::OpenUrl(const QString&) {}
