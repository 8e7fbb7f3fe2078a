#pragma once

#include "market/calendar.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

// The import command: a folder of the user's daily CSVs into the service's data folder.

struct TImportOptions
{
    //! A file replaces the stock's whole history; otherwise its days replace those days only.
    bool Replace = false;
    //! Days after it are refused.
    TDate Today = LocalToday();
    //! Asked before each file: true ends the import there, every file so far kept whole.
    std::function<bool()> Interrupted;
};

//! The code a price file's name gives: "7203.csv", "7203.T.csv", "25935.csv", "130A.csv"
//! (letters in upper case); nothing for any other name (".CSV", ".txt", "notes.csv").
std::optional<std::string> ImportCodeOfFile(std::string_view fileName);

//! Imports every price file of `from` into <dataDir>/prices/<code>.csv, each after checking
//! all of it, merged by date with the days already there. A stocks.csv in `from`, in the
//! master's format, adds or updates stocks in the master first; a file of a code the master
//! lacks is refused, and so are two files of one code. Other files are listed as ignored.
//! KabuList.dat of the data folder is made again from the master. Reports a line per file
//! to `report`, in Japanese, outside text escaped; returns the number of files refused.
int ImportPriceFolder(const std::filesystem::path& from, const std::filesystem::path& dataDir, std::ostream& report,
                      const TImportOptions& options = {});

//! Writes <dataDir>/KabuList.dat from <dataDir>/stocks.csv, in SortedByCode order. Throws
//! std::runtime_error.
void MakeKabuList(const std::filesystem::path& dataDir);

//! Writes `bytes` to `path` through a temporary file beside it, so a reader never sees half a
//! file; the temporary file is made exclusively, never through a link. Throws std::system_error.
