#pragma once

#include <QString>

struct TBatchConsole;

// Progress of an unattended run: on a terminal one line rewritten in place; in a log (cron, a
// pipe) a plain line whenever another tenth of the list is done, so logs stay short.
class TProgressLines
{
public:
    explicit TProgressLines(const TBatchConsole& console);

    //! Stock `index` of `count` is done; `stock` is its code and name, printed escaped.
    void Show(int index, int count, const QString& stock);

    //! Ends the line rewritten in place, so the next message starts on a line of its own.
    void EndLine();

private:
    const TBatchConsole& Console;
    int LastTenth = 0;
    bool InPlace = false;
};
