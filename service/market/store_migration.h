#pragma once

#include "market/calendar.h"

#include <filesystem>
#include <string>
#include <vector>

// A data folder written before the market database (bars/ of the chunk store, stocks.csv, the
// imported prices/) becomes <data>/market.db, so nothing a user fetched or imported is lost and
// nothing is asked of the data API again.

struct TConversion
{
    bool Converted = false; // false: the folder held nothing to convert, or was converted before
    long long Stocks = 0;
    long long Days = 0;                // stored and imported days written
    long long Requests = 0;            // the fetch's answered requests carried over
    long long ImportedDays = 0;        // of Days, from the imported price files
    std::vector<std::string> Warnings; // files skipped and why, one line each
};

//! Whether `folder` holds files of the chunk store's time: bars/ or prices/, or the master of real data.
bool NeedsConversion(const std::filesystem::path& folder);

//! Converts `folder` when NeedsConversion says so: the stored days with their factors and the
//! record of requests; the master of stocks.csv with the source's codes its days came with; the
//! imported price files of stocks without stored days (those with stored days were never served:
//! their files are kept, and named). One transaction; only then are bars/, prices/ and stocks.csv
//! renamed with the suffix ".migrated", never deleted. Killed before the commit, the old files are
//! as they were and the next call starts again; after it, the next call only renames. Files that
//! are not regular files of the user's own, or too large, are skipped and named. Days after `today`
//! are left out. Throws (TDbError, TMasterError, std::runtime_error) with nothing changed.
TConversion ConvertChunkStore(const std::filesystem::path& folder, TDate today);
