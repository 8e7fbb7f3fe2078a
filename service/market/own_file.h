#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

// Reading a file of the data folder that anybody could have put there: a link, a FIFO, a device
// or a huge sparse file must neither hang the reader nor fill its memory.

//! The bytes of a regular file the user owns, at most `maxBytes`; opened without following a
//! link or waiting on a special file. Nothing otherwise, with `problem` saying why in words;
//! `problem` stays empty when the file is simply not there.
std::optional<std::string> ReadOwnFile(const std::filesystem::path& file, std::size_t maxBytes, std::string& problem);
