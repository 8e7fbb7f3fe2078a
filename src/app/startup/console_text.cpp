#include "app/startup/console_text.h"

QString PrintableText(const QString& text)
{
    QString printable;
    printable.reserve(text.size());
    for (const QChar c : text)
    {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            printable += QStringLiteral("\\x%1").arg(static_cast<unsigned>(code), 2, 16, QLatin1Char('0'));
        else
            printable += c;
    }
    return printable;
}
