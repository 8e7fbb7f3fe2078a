#pragma once

#include "market/master_rules.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The exchange's monthly file of listed issues (東証上場銘柄一覧): data_j.xls, data_j.xlsx,
// or a CSV saved from either, read into rows. Nothing here decides what a row means.

//! A file that is not a listing that can be read; what() says why.
class TListingError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! The rows of a listing file, chosen by its extension (.xls, .xlsx, .csv, any case), in file
//! order; rows without a code are left out. Throws TListingError naming the file; a file over
//! 16 MiB, an .xlsx part inflating past 16 MiB or parsing past 48 MiB, and a sheet of more
//! than a million cells or 16 MiB of cell text are refused as too large, while they are read.
std::vector<TListingRow> ReadListingFile(const std::filesystem::path& file);

//! The rows of a CSV listing: UTF-8 (with or without a byte order mark) or CP932, told
//! apart by its bytes; fields may be quoted. A file whose captions are UTF-8 but which holds
//! a byte that is no UTF-8 text is refused naming that byte's line and place. Throws
//! TListingError.
std::vector<TListingRow> ListingRowsFromCsv(std::string_view bytes);

//! The rows of an .xlsx listing (its first worksheet). Throws TListingError.
std::vector<TListingRow> ListingRowsFromXlsx(std::string_view bytes);

//! The rows of an .xls listing (its first worksheet), read from `file` in a child process with
//! the same bounds. Throws TListingError, also when the read ends abnormally (a crash, 30 s).
std::vector<TListingRow> ListingRowsFromXls(const std::filesystem::path& file);

//! The rows of a sheet's cells (UTF-8, row by row): the header row is the first that names
//! コード, 銘柄名 and 市場・商品区分; the columns are found by their captions. Throws
//! TListingError when no row names them.
std::vector<TListingRow> ListingRowsFromCells(const std::vector<std::vector<std::string>>& cells);
