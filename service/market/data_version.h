#pragma once

#include <filesystem>
#include <string>

// The data-version token of a data folder: a serving process compares it to the one it
// loaded, so every command that changes what is served replaces it.

//! Writes a new token to <dataFolder>/data-version (temp file and rename, so a reader sees the
//! old token or the new one, never half of either). Throws std::system_error when it cannot.
void BumpDataVersion(const std::filesystem::path& dataFolder);

//! The folder's token, or "0" when it has none (no file, empty, unreadable); with a market.db,
//! followed by a stamp that changes with every commit to it, ours or another program's.
std::string ReadDataVersion(const std::filesystem::path& dataFolder);

//! True when the folder carries the real-data marker.
bool IsRealDataFolder(const std::filesystem::path& dataFolder);
