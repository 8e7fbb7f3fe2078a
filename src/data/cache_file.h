#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// Cache files under dat/ in the working folder. Each is used for the calendar day of its
// last change and fetched again on the first lookup of a later day.

//! "yyyy/mm/dd" of a date, the form the program compares and cuts dates in.
std::string DateText(std::chrono::year_month_day date);

//! Today's local date.
std::chrono::year_month_day TodayLocal();

//! True when `file` exists and its last change falls on today's local date.
bool IsCacheFresh(const std::filesystem::path& file);

//! The first `maxBytes` bytes of `file` (all of it when shorter).
//! Throws TDataError when the file cannot be opened or read.
std::string ReadCacheFile(const std::filesystem::path& file, std::size_t maxBytes);

//! The size of `file` in bytes; throws TDataError when it cannot be found out.
std::uintmax_t CacheFileSize(const std::filesystem::path& file);

//! `key` without blanks and control characters at either end: the two-blank market
//! suffix stays in cache file names but not in addresses.
std::string TrimmedKey(std::string_view key);
