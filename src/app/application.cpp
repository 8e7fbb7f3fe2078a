#include "app/application.h"

#include <QFont>

TOrvantaApplication::TOrvantaApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(ApplicationTitle());
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
        if (!OnException)
            throw;
        OnException(std::current_exception());
        return false;
    }
}

QString ApplicationTitle()
{
    return QStringLiteral("Orvanta(おるばんた)");
}

void RegisterFontSubstitutions()
{
    // fontconfig alone would pick DejaVu Sans and borrow Japanese glyphs per character.
    const QString gothic = QStringLiteral("IPAPGothic");
    for (const QString& name : {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS UI Gothic"),
                                QStringLiteral("HG創英角ﾎﾟｯﾌﾟ体")})
        QFont::insertSubstitution(name, gothic);
}
