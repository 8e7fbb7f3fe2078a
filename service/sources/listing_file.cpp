#include "sources/listing_file.h"

#include "common/japanese_text.h"

#include <freexl.h>
#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

namespace {

// Captions of the columns, UTF-8.
constexpr std::string_view DateCaption = "\xe6\x97\xa5\xe4\xbb\x98";                                  // 日付
constexpr std::string_view CodeCaption = "\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89";                      // コード
constexpr std::string_view NameCaption = "\xe9\x8a\x98\xe6\x9f\x84\xe5\x90\x8d";                      // 銘柄名
constexpr std::string_view MarketCaption =
    "\xe5\xb8\x82\xe5\xa0\xb4\xe3\x83\xbb\xe5\x95\x86\xe5\x93\x81\xe5\x8c\xba\xe5\x88\x86";             // 市場・商品区分
constexpr std::string_view S33CodeCaption = "33\xe6\xa5\xad\xe7\xa8\xae\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89"; // 33業種コード
constexpr std::string_view S33NameCaption = "33\xe6\xa5\xad\xe7\xa8\xae\xe5\x8c\xba\xe5\x88\x86";             // 33業種区分

// A listing is some 4,000 rows of a few hundred bytes: far larger parts of a file are refused
// before they are inflated, so a crafted archive cannot exhaust memory.
constexpr zip_uint64_t MaxPartBytes = 64 * 1024 * 1024;

std::string Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return std::string(text);
}

//! A number as a cell's text: an integer as its digits ("1301", not "1301.0").
std::string NumberText(double value)
{
    if (!std::isfinite(value))
        return {};
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<long long>(value));
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

//! An xlsx number cell's text: integral values without a fraction; anything else as written.
std::string NumberCellText(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno != 0)
        return text;
    return NumberText(value);
}

bool ValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        if (byte < 0x80)
            length = 1;
        else if (byte >= 0xc2 && byte <= 0xdf)
            length = 2;
        else if (byte >= 0xe0 && byte <= 0xef)
            length = 3;
        else if (byte >= 0xf0 && byte <= 0xf4)
            length = 4;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

//! The records of CSV text: fields split at commas outside quotes, "" a quote inside them,
//! records at line ends outside quotes.
std::vector<std::vector<std::string>> CsvRecords(std::string_view text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            record.push_back(Trim(field));
            field.clear();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (any || !field.empty()) {
                record.push_back(Trim(field));
                records.push_back(std::move(record));
            }
            record.clear();
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.empty()) {
        record.push_back(Trim(field));
        records.push_back(std::move(record));
    }
    return records;
}

// --- xlsx ------------------------------------------------------------------------------

class TZip
{
public:
    explicit TZip(std::string_view bytes)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source)
            Archive = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (source && !Archive)
            zip_source_free(source);
        zip_error_fini(&error);
        if (!Archive)
            throw TListingError(".xlsx ファイルではありません (zip アーカイブではありません)");
    }
    ~TZip() { zip_discard(Archive); }
    TZip(const TZip&) = delete;
    TZip& operator=(const TZip&) = delete;

    //! The part's bytes, or nothing when the archive has no such part.
    std::optional<std::string> Part(const std::string& name) const
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat(Archive, name.c_str(), 0, &stat) != 0)
            return std::nullopt;
        if (!(stat.valid & ZIP_STAT_SIZE) || stat.size > MaxPartBytes)
            throw TListingError(".xlsx ファイルの部分 " + name + " が大きすぎます");
        zip_file_t* file = zip_fopen(Archive, name.c_str(), 0);
        if (!file)
            throw TListingError(".xlsx ファイルの部分 " + name + " を読めません");
        std::string bytes(static_cast<std::size_t>(stat.size), '\0');
        const zip_int64_t read = zip_fread(file, bytes.data(), stat.size);
        zip_fclose(file);
        if (read < 0 || static_cast<zip_uint64_t>(read) != stat.size)
            throw TListingError(".xlsx ファイルの部分 " + name + " が壊れています");
        return bytes;
    }

private:
    zip_t* Archive = nullptr;
};

pugi::xml_document ParseXml(const std::string& bytes, const std::string& name)
{
    pugi::xml_document document;
    if (!document.load_buffer(bytes.data(), bytes.size()))
        throw TListingError(".xlsx ファイルの部分 " + name + " が XML ではありません");
    return document;
}

//! The text of a string item: its runs, without the phonetic guides (<rPh>) of Japanese text.
std::string ItemText(const pugi::xml_node& item)
{
    std::string text;
    for (const pugi::xml_node& child : item.children()) {
        if (std::string_view(child.name()) == "t")
            text += child.text().get();
        else if (std::string_view(child.name()) == "r")
            text += child.child("t").text().get();
    }
    return text;
}

//! The zero-based column of a cell reference "AB12"; nothing when it has no letters.
std::optional<std::size_t> ColumnOf(std::string_view reference)
{
    std::size_t column = 0;
    std::size_t letters = 0;
    for (const char c : reference) {
        if (c < 'A' || c > 'Z')
            break;
        column = column * 26 + static_cast<std::size_t>(c - 'A' + 1);
        // No sheet has more than 16,384 columns (XFD).
        if (++letters > 3)
            return std::nullopt;
    }
    if (letters == 0)
        return std::nullopt;
    return column - 1;
}

std::string FirstSheetPath(const TZip& zip)
{
    const std::optional<std::string> workbook = zip.Part("xl/workbook.xml");
    const std::optional<std::string> relations = zip.Part("xl/_rels/workbook.xml.rels");
    if (workbook && relations) {
        const pugi::xml_document book = ParseXml(*workbook, "xl/workbook.xml");
        const pugi::xml_document rels = ParseXml(*relations, "xl/_rels/workbook.xml.rels");
        const pugi::xml_node sheet = book.child("workbook").child("sheets").child("sheet");
        const std::string id = sheet.attribute("r:id").value();
        for (const pugi::xml_node& rel : rels.child("Relationships").children("Relationship")) {
            if (id.empty() || rel.attribute("Id").value() != id)
                continue;
            std::string target = rel.attribute("Target").value();
            if (!target.empty() && target.front() == '/')
                return target.substr(1);
            return "xl/" + target;
        }
    }
    return "xl/worksheets/sheet1.xml";
}

} // namespace

std::vector<TListingRow> ListingRowsFromCells(const std::vector<std::vector<std::string>>& cells)
{
    const auto columnOf = [](const std::vector<std::string>& header, std::string_view caption) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (Trim(header[i]) == caption)
                return i;
        return std::nullopt;
    };
    std::size_t headerRow = 0;
    std::optional<std::size_t> code;
    std::optional<std::size_t> name;
    std::optional<std::size_t> market;
    for (; headerRow < cells.size(); ++headerRow) {
        code = columnOf(cells[headerRow], CodeCaption);
        name = columnOf(cells[headerRow], NameCaption);
        market = columnOf(cells[headerRow], MarketCaption);
        if (code && name && market)
            break;
    }
    if (headerRow == cells.size())
        throw TListingError("上場銘柄一覧の列名 (コード, 銘柄名, 市場・商品区分) を並べた見出しの行がありません");
    const std::vector<std::string>& header = cells[headerRow];
    const std::optional<std::size_t> date = columnOf(header, DateCaption);
    const std::optional<std::size_t> s33Code = columnOf(header, S33CodeCaption);
    const std::optional<std::size_t> s33Name = columnOf(header, S33NameCaption);

    std::vector<TListingRow> rows;
    for (std::size_t r = headerRow + 1; r < cells.size(); ++r) {
        const std::vector<std::string>& row = cells[r];
        const auto cell = [&](std::optional<std::size_t> column) {
            return column && *column < row.size() ? Trim(row[*column]) : std::string();
        };
        TListingRow listing{cell(date), cell(code), cell(name), cell(market), cell(s33Code), cell(s33Name)};
        if (!listing.Code.empty())
            rows.push_back(std::move(listing));
    }
    return rows;
}

std::vector<TListingRow> ListingRowsFromCsv(std::string_view bytes)
{
    std::string text;
    if (bytes.substr(0, 3) == "\xef\xbb\xbf")
        text = bytes.substr(3);
    else if (ValidUtf8(bytes))
        text = bytes;
    else // a byte of neither encoding stays a byte no UTF-8 has: the name cleaning shows it as 〓
        text = ConvertText(bytes, TTextEncoding::Cp932, TTextEncoding::Utf8, "\xff");
    return ListingRowsFromCells(CsvRecords(text));
}

std::vector<TListingRow> ListingRowsFromXlsx(std::string_view bytes)
{
    const TZip zip(bytes);
    std::vector<std::string> strings;
    if (const std::optional<std::string> shared = zip.Part("xl/sharedStrings.xml")) {
        const pugi::xml_document document = ParseXml(*shared, "xl/sharedStrings.xml");
        for (const pugi::xml_node& item : document.child("sst").children("si"))
            strings.push_back(ItemText(item));
    }
    const std::string sheetPath = FirstSheetPath(zip);
    const std::optional<std::string> sheet = zip.Part(sheetPath);
    if (!sheet)
        throw TListingError(".xlsx ファイルにワークシート " + sheetPath + " がありません");
    const pugi::xml_document document = ParseXml(*sheet, sheetPath);

    // Rows and cells may skip empty ones: a cell's place comes from its reference when it has one.
    constexpr std::size_t MaxColumns = 64;
    std::vector<std::vector<std::string>> cells;
    for (const pugi::xml_node& row : document.child("worksheet").child("sheetData").children("row")) {
        std::vector<std::string> values;
        for (const pugi::xml_node& cell : row.children("c")) {
            const std::optional<std::size_t> column = ColumnOf(cell.attribute("r").value());
            const std::size_t at = column ? *column : values.size();
            if (at >= MaxColumns)
                continue;
            const std::string_view type = cell.attribute("t").value();
            const std::string value = cell.child("v").text().get();
            std::string text;
            if (type == "s") {
                char* end = nullptr;
                const unsigned long index = std::strtoul(value.c_str(), &end, 10);
                if (!value.empty() && *end == '\0' && index < strings.size())
                    text = strings[index];
            } else if (type == "inlineStr") {
                text = ItemText(cell.child("is"));
            } else if (type == "str" || type == "b" || type == "e") {
                text = value;
            } else {
                text = NumberCellText(value);
            }
            if (values.size() <= at)
                values.resize(at + 1);
            values[at] = std::move(text);
        }
        cells.push_back(std::move(values));
    }
    return ListingRowsFromCells(cells);
}

namespace {

std::vector<TListingRow> RowsFromXls(const std::filesystem::path& file)
{
    const void* handle = nullptr;
    const int opened = freexl_open(file.c_str(), &handle);
    const std::unique_ptr<const void, int (*)(const void*)> closer(handle, freexl_close);
    if (opened != FREEXL_OK)
        throw TListingError("読める .xls ファイルではありません (エラー " + std::to_string(opened) + ")");
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK
        || freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK)
        throw TListingError(".xls ファイルにワークシートがありません");
    // A listing has ten columns; a sheet's declared width is not trusted with memory.
    constexpr unsigned short MaxColumns = 64;
    std::vector<std::vector<std::string>> cells(rows);
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < std::min(columns, MaxColumns); ++c) {
            FreeXL_CellValue value;
            if (freexl_get_cell_value(handle, r, c, &value) != FREEXL_OK || value.type == FREEXL_CELL_NULL)
                continue;
            if (cells[r].size() <= c)
                cells[r].resize(c + 1U);
            switch (value.type) {
            case FREEXL_CELL_INT:
                cells[r][c] = std::to_string(value.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                cells[r][c] = NumberText(value.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (value.value.text_value)
                    cells[r][c] = value.value.text_value;
                break;
            default:
                break;
            }
        }
    }
    return ListingRowsFromCells(cells);
}

std::string FileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw TListingError(file.string() + " を読めません");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

std::vector<TListingRow> ReadListingFile(const std::filesystem::path& file)
{
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        throw TListingError(file.string() + " がありません");
    if (extension == ".xls")
        return RowsFromXls(file);
    if (extension == ".xlsx")
        return ListingRowsFromXlsx(FileBytes(file));
    if (extension == ".csv")
        return ListingRowsFromCsv(FileBytes(file));
    throw TListingError(file.string() + " は上場銘柄一覧 (.xls、.xlsx、.csv) ではありません");
}
