#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The program's command line. It is read before the application object exists, so that
// choices such as the window platform can still be made from it.

//! The exit status of a bad command line (sysexits' EX_USAGE).
constexpr int UsageStatus = 64;

// An unattended screening run: --screen SECTOR [--hits-only] [--under-100k] [--rsi30] --out DIR
struct TBatchOptions
{
    QString Sector; // one of the sector selector's texts, exactly
    bool HitsOnly = false;
    bool Under100k = false;
    bool Rsi30 = false;
    QString OutDir;
};

struct TCommandLine
{
    std::optional<QString> WorkDir;     // --workdir DIR
    std::optional<QString> ServiceUrl;  // --service URL, as given; the start-up rules check it
    std::optional<int> Connections;     // --connections N, 0 to 8: pages fetched ahead at once
    std::optional<TBatchOptions> Batch; // --screen: no window, a report instead

    //! Set when the program ends at once: after --help or --version (status 0, text for
    //! stdout), or on a bad command line (UsageStatus, one line for stderr).
    struct TEarlyExit
    {
        QString Text;
        int Status = 0;
    };
    std::optional<TEarlyExit> Exit;
};

//! Reads the arguments, the program's name first. Never throws; a bad command line is an Exit.
TCommandLine ParseCommandLine(const QStringList& arguments);

//! argv as text, decoded from the locale's encoding as the application object would.
QStringList ArgumentList(int argc, char** argv);

//! Prints the text of an early exit where it belongs and returns its status.
int ReportEarlyExit(const TCommandLine::TEarlyExit& exit);

//! "1.6a", the version the window and the packages show.
QString ProgramVersion();
