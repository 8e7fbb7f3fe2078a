#include "app/startup/console_text.h"

#include "common/terminal_text.h"

QString PrintableText(const QString& text)
{
    // A lone surrogate has no UTF-8 form: it passes as it came, for the output's encoder to mark.
    QString printable;
    qsizetype start = 0;
    const auto escapeUpTo = [&](qsizetype end) {
        printable += QString::fromStdString(TerminalText(text.sliced(start, end - start).toStdString()));
    };
    for (qsizetype i = 0; i < text.size(); ++i)
    {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        {
            ++i;
        }
        else if (text[i].isSurrogate())
        {
            escapeUpTo(i);
            printable += text[i];
            start = i + 1;
        }
    }
    escapeUpTo(text.size());
    return printable;
}
