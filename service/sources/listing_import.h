#pragma once

#include <filesystem>
#include <ostream>

// The --listing command: the exchange's file of listed issues becomes a data folder's master
// of real data.

//! Reads `file`, maps its rows and writes the folder's master, list, real-data marker and
//! data version; reports what was added, changed, dropped and skipped to `report`. Throws
//! std::runtime_error (nothing written) for a file that is no listing or serves no stock.
void ImportListing(const std::filesystem::path& file, const std::filesystem::path& dataFolder, std::ostream& report);
