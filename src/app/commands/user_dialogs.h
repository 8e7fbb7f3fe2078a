#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// What the program asks of the person at the desk: message boxes, file dialogs, the Shift key,
// the browser. The window hands its commands the desktop's (TDesktopDialogs), the unattended
// run a console's, a test a fake that records the questions and answers them.

//! One message box as the program asks for it.
struct TMessageBoxRequest
{
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

//! One file or folder dialog as the program asks for it.
struct TFileDialogRequest
{
    enum class TKind
    {
        Folder,   // an existing folder, or one to create
        SaveFile, // a file name to write
    };
    TKind Kind = TKind::Folder;
    QString Caption;
    QString Suggested; // starting folder or file name
    QString Filter;    // for SaveFile, e.g. "PNG (*.png)"
};

class TUserDialogs
{
public:
    virtual ~TUserDialogs() = default;

    //! Shows the box over `parent` and waits until it is answered. Its text is plain text.
    virtual void ShowMessage(QWidget* parent, const TMessageBoxRequest& request) = 0;

    //! The chosen path; empty when the dialog was cancelled.
    virtual QString AskForPath(QWidget* parent, const TFileDialogRequest& request) = 0;

    //! Whether a Shift key is held down now.
    virtual bool ShiftKeyDown() = 0;

    //! Hands `url` to the browser; whether one opened is not examined.
    virtual void OpenUrl(const QString& url) = 0;
};
