#include "app/application.h"

#include "app/startup/console_text.h"
#include "app/startup/startup_status.h"
#include "app/window/exception_handler.h"

#include <QFont>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

TOrvantaApplication::TOrvantaApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(ApplicationTitle());
    // Ties the window to the installed desktop entry and icon (taskbars, Wayland).
    setDesktopFileName(QStringLiteral("org.example.orvanta"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("org.example.orvanta")));
    RegisterFontSubstitutions();
}

bool TOrvantaApplication::notify(QObject* receiver, QEvent* event)
{
    try
    {
        return QApplication::notify(receiver, event);
    }
    catch (...)
    {
        const TExceptionHandler& handler = UnhandledExceptionHandler();
        if (!handler)
            throw;
        handler(std::current_exception());
        return false;
    }
}

void ShowStartupMessage(const QString& text, bool fatal)
{
    // One line on stderr whatever the text holds (a path, a service's answer).
    std::fprintf(stderr, "orvanta: %s\n", PrintableText(QString(text).replace(u'\n', u' ')).toLocal8Bit().constData());
    if (fatal)
        QMessageBox::critical(nullptr, ApplicationTitle(), text);
    else
        QMessageBox::warning(nullptr, ApplicationTitle(), text);
}

void RegisterFontSubstitutions()
{
    // fontconfig alone would pick DejaVu Sans and borrow Japanese glyphs per character.
    const QString gothic = QStringLiteral("IPAPGothic");
    for (const QString& name :
         {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS UI Gothic"), QStringLiteral("HG創英角ﾎﾟｯﾌﾟ体")})
        QFont::insertSubstitution(name, gothic);
}
