#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// The application object: the program's title, its fonts, and the last stop for an
// exception that escapes an event handler outside a command (UnhandledExceptionHandler).
class TOrvantaApplication : public QApplication
{
public:
    TOrvantaApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

//! Tells the user about a start-up problem: on stderr, and in a message box for a user who
//! started the program from the desktop's menu and sees no terminal.
void ShowStartupMessage(const QString& text, bool fatal);

//! Maps the layout's Windows font names onto IPA P Gothic, which has the same metrics role.
void RegisterFontSubstitutions();
