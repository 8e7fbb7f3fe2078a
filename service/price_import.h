#pragma once

#include <filesystem>
#include <ostream>

// The import command: a folder of the user's daily CSVs into the service's data folder.

//! Imports every <code>.csv of `from` (a name like 7203.csv or 7203.T.csv) into
//! <dataDir>/prices/<code>.csv, after checking all of it. A stocks.csv in `from`, in the
//! master's format, adds or updates stocks in the master first; a CSV of a code the master
//! lacks is refused. KabuList.dat of the data folder is made again from the master.
//! Reports a line per file to `report`; returns the number of files refused.
int ImportPriceFolder(const std::filesystem::path& from, const std::filesystem::path& dataDir,
                      std::ostream& report);

//! Writes <dataDir>/KabuList.dat from <dataDir>/stocks.csv. Throws std::runtime_error.
void MakeKabuList(const std::filesystem::path& dataDir);

//! Writes `bytes` to `path` through a temporary file beside it, so a reader never sees half a
//! file; the temporary file is made exclusively, never through a link. Throws std::system_error.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes);
