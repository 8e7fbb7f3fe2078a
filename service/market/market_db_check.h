#pragma once

#include "market/calendar.h"

#include <filesystem>
#include <string>
#include <vector>

//! What a scan of a data folder's market.db found, as lines for a person.
struct TDbCheck
{
    std::vector<std::string> Lines;
    bool Sound = false; // no damage found and every row keeps the contract
};

//! Scans <folder>/market.db whole: SQLite's quick check, then every row of stocks and daily_bars
//! against the contract (days after `today` break it). Throws TDbError, one line naming the file,
//! when the file cannot be opened as a market database; a folder without one is not sound.
TDbCheck CheckMarketDb(const std::filesystem::path& folder, TDate today);
