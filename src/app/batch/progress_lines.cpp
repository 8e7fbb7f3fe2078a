#include "app/batch/progress_lines.h"

#include "app/batch/batch_console.h"
#include "app/startup/console_text.h"
#include "screener/screening.h"

#include <cstdint>

TProgressLines::TProgressLines(const TBatchConsole& console) : Console(console) {}

void TProgressLines::Show(int index, int count, const QString& stock)
{
    const QString line = QString::fromStdString(ProgressText(index, count)) + u' ' + PrintableText(stock);
    if (Console.Terminal)
    {
        // Back to the line's start, then erase what a longer line left.
        Console.Write(QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
        InPlace = true;
        return;
    }
    const int tenth = static_cast<int>(static_cast<std::int64_t>(index) * 10 / count);
    if (tenth > LastTenth)
    {
        LastTenth = tenth;
        Console.Write(line + u'\n');
    }
}

void TProgressLines::EndLine()
{
    if (InPlace)
        Console.Write(QStringLiteral("\n"));
    InPlace = false;
}
