#include "app/batch/batch_console.h"

#include "app/startup/console_text.h"

#include <unistd.h>

#include <cstdio>

TBatchConsole StandardErrorConsole()
{
    TBatchConsole console;
    console.Write = [](const QString& text) {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    };
    console.Terminal = ::isatty(STDERR_FILENO) == 1;
    return console;
}

QString BatchLogLine(const QString& text)
{
    return QStringLiteral("orvanta: ") + PrintableText(text) + u'\n';
}
