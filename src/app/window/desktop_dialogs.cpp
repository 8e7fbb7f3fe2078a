#include "app/window/desktop_dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QUrl>

void TDesktopDialogs::ShowMessage(QWidget* parent, const TMessageBoxRequest& request)
{
    QMessageBox box(request.Icon, request.Caption, request.Text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString TDesktopDialogs::AskForPath(QWidget* parent, const TFileDialogRequest& request)
{
    if (request.Kind == TFileDialogRequest::TKind::Folder)
        return QFileDialog::getExistingDirectory(parent, request.Caption, request.Suggested);
    return QFileDialog::getSaveFileName(parent, request.Caption, request.Suggested, request.Filter);
}

bool TDesktopDialogs::ShiftKeyDown()
{
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void TDesktopDialogs::OpenUrl(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url));
}
