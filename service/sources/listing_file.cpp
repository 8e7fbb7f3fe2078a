#include "sources/listing_file.h"

#include "common/japanese_text.h"
#include "sources/child_read.h"

#include <freexl.h>
#include <pugixml.hpp>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// Captions of the columns, UTF-8.
constexpr std::string_view DateCaption = "\xe6\x97\xa5\xe4\xbb\x98";                                  // 日付
constexpr std::string_view CodeCaption = "\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89";                      // コード
constexpr std::string_view NameCaption = "\xe9\x8a\x98\xe6\x9f\x84\xe5\x90\x8d";                      // 銘柄名
constexpr std::string_view MarketCaption =
    "\xe5\xb8\x82\xe5\xa0\xb4\xe3\x83\xbb\xe5\x95\x86\xe5\x93\x81\xe5\x8c\xba\xe5\x88\x86";             // 市場・商品区分
constexpr std::string_view S33CodeCaption = "33\xe6\xa5\xad\xe7\xa8\xae\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89"; // 33業種コード
constexpr std::string_view S33NameCaption = "33\xe6\xa5\xad\xe7\xa8\xae\xe5\x8c\xba\xe5\x88\x86";             // 33業種区分

// A listing is some 4,400 rows of ten short cells: a few megabytes as XML. A crafted file of a
// few kilobytes inflates to far more, each tag of it becomes a parser node and each reference
// to a shared string a copy, so every stage is bounded while it runs: whatever the file holds,
// memory stays within a few times MaxPartBytes.
constexpr std::size_t MaxFileBytes = 16 * 1024 * 1024; // a listing file as read
constexpr std::size_t MaxPartBytes = 16 * 1024 * 1024; // one part of an .xlsx, inflated
constexpr std::size_t MaxXmlBytes = 48 * 1024 * 1024;  // the parser's memory for one part
constexpr std::size_t MaxCells = 1'000'000;            // cells and rows, empty ones included
constexpr std::size_t MaxCellBytes = 16 * 1024 * 1024; // the text of the cells and shared strings

[[noreturn]] void TooLarge(const std::string& what)
{
    throw TListingError(what + " が上場銘柄一覧としては大きすぎます");
}

// pugixml allocates through these, so a parse stops (out of memory) at MaxXmlBytes instead of
// building a node for every tag of a crafted part. Only the listing reader parses XML here.
thread_local std::size_t XmlBytesInUse = 0;
constexpr std::size_t XmlBlockHeader = alignof(std::max_align_t);

void* AllocateXml(std::size_t size)
{
    if (size > MaxXmlBytes - XmlBytesInUse)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + XmlBlockHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    XmlBytesInUse += size;
    return block + XmlBlockHeader;
}

void FreeXml(void* pointer)
{
    if (!pointer)
        return;
    unsigned char* block = static_cast<unsigned char*>(pointer) - XmlBlockHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    XmlBytesInUse -= size;
    std::free(block);
}

// Installed before the first document exists, as pugixml requires.
void UseBoundedXmlMemory()
{
    static std::once_flag installed;
    std::call_once(installed, [] { pugi::set_memory_management_functions(AllocateXml, FreeXml); });
}

//! The cells of a sheet as they are read, row by row, within MaxCells and MaxCellBytes.
class TCellGrid
{
public:
    void NewRow()
    {
        Count(1, 0);
        Rows.emplace_back();
    }

    //! Sets a cell of the last row; cells left of it that were never set stay empty.
    void Set(std::size_t column, std::string text)
    {
        std::vector<std::string>& row = Rows.back();
        Count(column < row.size() ? 0 : column + 1 - row.size(), text.size());
        if (row.size() <= column)
            row.resize(column + 1);
        row[column] = std::move(text);
    }

    std::vector<std::vector<std::string>> Rows;

private:
    void Count(std::size_t cells, std::size_t bytes)
    {
        Cells += cells;
        Bytes += bytes;
        if (Cells > MaxCells || Bytes > MaxCellBytes)
            TooLarge("\xe8\xa1\xa8\xe3\x81\xae\xe4\xb8\xad\xe8\xba\xab"); // 表の中身
    }

    std::size_t Cells = 0;
    std::size_t Bytes = 0;
};

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

//! The offset of the first byte that does not start a whole UTF-8 character; npos when the
//! text is UTF-8 throughout.
std::size_t FirstInvalidUtf8(std::string_view text)
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
            return i;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return i;
        i += length;
    }
    return std::string_view::npos;
}

//! Where the byte at `offset` is: "3 行目の 18 バイト目 (0xFF)", both counted from 1.
std::string BytePlace(std::string_view text, std::size_t offset)
{
    const std::string_view before = text.substr(0, offset);
    const std::size_t line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
    const std::size_t lineStart = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[offset]));
    return std::to_string(line) + " \xe8\xa1\x8c\xe7\x9b\xae\xe3\x81\xae " + std::to_string(offset - lineStart + 1) +
           " \xe3\x83\x90\xe3\x82\xa4\xe3\x83\x88\xe7\x9b\xae (" + byte + ")"; // 行目の, バイト目
}

//! The records of CSV text: fields split at commas outside quotes, "" a quote inside them,
//! records at line ends outside quotes. Each field goes into the grid as it ends, so a line
//! of a million commas is counted as it is read.
std::vector<std::vector<std::string>> CsvRecords(std::string_view text)
{
    TCellGrid grid;
    std::size_t column = 0;
    bool recordOpen = false;
    std::string field;
    bool quoted = false;
    bool any = false;
    const auto endField = [&] {
        if (!recordOpen)
            grid.NewRow();
        recordOpen = true;
        grid.Set(column++, Trim(field));
        field.clear();
    };
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
            endField();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (any || !field.empty())
                endField();
            recordOpen = false;
            column = 0;
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.empty())
        endField();
    return std::move(grid.Rows);
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

    //! The part's bytes, or nothing when the archive has no such part. Inflated piece by piece:
    //! the size the archive states is not trusted with memory, neither to allocate nor to stop.
    std::optional<std::string> Part(const std::string& name) const
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat(Archive, name.c_str(), 0, &stat) != 0)
            return std::nullopt;
        if ((stat.valid & ZIP_STAT_SIZE) && stat.size > MaxPartBytes)
            TooLarge(".xlsx ファイルの部分 " + name);
        const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen(Archive, name.c_str(), 0), zip_fclose);
        if (!file)
            throw TListingError(".xlsx ファイルの部分 " + name + " を読めません");
        std::string bytes;
        std::array<char, 64 * 1024> piece;
        for (;;)
        {
            const zip_int64_t read = zip_fread(file.get(), piece.data(), piece.size());
            if (read < 0)
                throw TListingError(".xlsx ファイルの部分 " + name + " が壊れています");
            if (read == 0)
                break;
            if (bytes.size() + static_cast<std::size_t>(read) > MaxPartBytes)
                TooLarge(".xlsx ファイルの部分 " + name);
            bytes.append(piece.data(), static_cast<std::size_t>(read));
        }
        return bytes;
    }

private:
    zip_t* Archive = nullptr;
};

//! The part parsed in place, within MaxXmlBytes of parser memory.
pugi::xml_document ParseXml(std::string& bytes, const std::string& name)
{
    UseBoundedXmlMemory();
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_buffer_inplace(bytes.data(), bytes.size());
    if (result.status == pugi::status_out_of_memory)
        TooLarge(".xlsx ファイルの部分 " + name + " の XML");
    if (!result)
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
    std::optional<std::string> workbook = zip.Part("xl/workbook.xml");
    std::optional<std::string> relations = zip.Part("xl/_rels/workbook.xml.rels");
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
    const std::size_t invalid = FirstInvalidUtf8(bytes);
    if (bytes.substr(0, 3) == "\xef\xbb\xbf")
        text = bytes.substr(3);
    else if (invalid == std::string_view::npos)
        text = bytes;
    else if (bytes.find(CodeCaption) != std::string_view::npos && bytes.find(NameCaption) != std::string_view::npos)
        // Captions in UTF-8 make it a UTF-8 file with a byte that is no text: read as CP932 it
        // would lose its captions and be refused for a reason that is not the one.
        throw TListingError(
            BytePlace(bytes, invalid) +
            " が UTF-8 の文字になっていません (見出しが UTF-8 なので UTF-8 のファイルとして読んでいます)");
    else // a byte of neither encoding stays a byte no UTF-8 has: the name cleaning shows it as 〓
        text = ConvertText(bytes, TTextEncoding::Cp932, TTextEncoding::Utf8, "\xff");
    return ListingRowsFromCells(CsvRecords(text));
}

std::vector<TListingRow> ListingRowsFromXlsx(std::string_view bytes)
{
    const TZip zip(bytes);
    std::vector<std::string> strings;
    if (std::optional<std::string> shared = zip.Part("xl/sharedStrings.xml"))
    {
        const pugi::xml_document document = ParseXml(*shared, "xl/sharedStrings.xml");
        std::size_t stringBytes = 0;
        for (const pugi::xml_node& item : document.child("sst").children("si"))
        {
            strings.push_back(ItemText(item));
            stringBytes += strings.back().size();
            if (strings.size() > MaxCells || stringBytes > MaxCellBytes)
                TooLarge(".xlsx ファイルの部分 xl/sharedStrings.xml");
        }
    }
    const std::string sheetPath = FirstSheetPath(zip);
    std::optional<std::string> sheet = zip.Part(sheetPath);
    if (!sheet)
        throw TListingError(".xlsx ファイルにワークシート " + sheetPath + " がありません");
    const pugi::xml_document document = ParseXml(*sheet, sheetPath);

    // Rows and cells may skip empty ones: a cell's place comes from its reference when it has one.
    constexpr std::size_t MaxColumns = 64;
    TCellGrid grid;
    for (const pugi::xml_node& row : document.child("worksheet").child("sheetData").children("row")) {
        grid.NewRow();
        for (const pugi::xml_node& cell : row.children("c")) {
            const std::optional<std::size_t> column = ColumnOf(cell.attribute("r").value());
            const std::size_t at = column ? *column : grid.Rows.back().size();
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
            grid.Set(at, std::move(text));
        }
    }
    return ListingRowsFromCells(grid.Rows);
}

namespace {

//! The first worksheet's cells of an .xls, as the library reads them. Runs in a child process.
TSheetCells XlsCells(const std::filesystem::path& file)
{
    const void* handle = nullptr;
    const int opened = freexl_open(file.c_str(), &handle);
    const std::unique_ptr<const void, int (*)(const void*)> closer(handle, freexl_close);
    if (opened != FREEXL_OK)
        throw TListingError("読める .xls ファイルではありません (エラー " + std::to_string(opened) + ")");
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK ||
        freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK)
        throw TListingError(".xls ファイルにワークシートがありません");
    // A listing has ten columns; a sheet's declared size is not trusted with memory.
    constexpr unsigned short MaxColumns = 64;
    TCellGrid grid;
    for (unsigned int r = 0; r < rows; ++r) {
        grid.NewRow();
        for (unsigned short c = 0; c < std::min(columns, MaxColumns); ++c) {
            FreeXL_CellValue value;
            if (freexl_get_cell_value(handle, r, c, &value) != FREEXL_OK || value.type == FREEXL_CELL_NULL)
                continue;
            switch (value.type) {
            case FREEXL_CELL_INT:
                grid.Set(c, std::to_string(value.value.int_value));
                break;
            case FREEXL_CELL_DOUBLE:
                grid.Set(c, NumberText(value.value.double_value));
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (value.value.text_value)
                    grid.Set(c, value.value.text_value);
                break;
            default:
                break;
            }
        }
    }
    return std::move(grid.Rows);
}

} // namespace

std::vector<TListingRow> ListingRowsFromXls(const std::filesystem::path& file)
{
    // The library reads or writes out of bounds on some crafted files, so it reads in a child
    // process of its own: such a file ends as a refusal, never as corrupted memory here. The
    // child's grid at its bounds and its answer take some 100 MiB; a real listing reads in well
    // under a second. The child allocates, which is sound since --listing runs on one thread.
    TChildReadLimits limits;
    limits.MaxCells = MaxCells;
    limits.MaxCellBytes = MaxCellBytes;
    limits.MemoryBytes = 256 * 1024 * 1024;
    limits.CpuSeconds = 20;
    limits.Deadline = std::chrono::seconds(30);
    const auto read = [&file] {
        try
        {
            return XlsCells(file);
        }
        catch (const TListingError& refused)
        {
            throw TChildRefusal(refused.what());
        }
    };
    try
    {
        return ListingRowsFromCells(CellsReadInChild(read, limits));
    }
    catch (const TChildRefusal& refused)
    {
        throw TListingError(refused.what());
    }
    catch (const TChildReadFailure& failed)
    {
        throw TListingError(".xls ファイルを読めませんでした (" + std::string(failed.what()) + ")");
    }
}

namespace {

std::string FileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw TListingError("読めません");
    std::string bytes;
    std::array<char, 64 * 1024> piece;
    while (in.read(piece.data(), piece.size()) || in.gcount() > 0)
    {
        if (bytes.size() + static_cast<std::size_t>(in.gcount()) > MaxFileBytes)
            TooLarge("ファイル");
        bytes.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
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
    if (extension != ".xls" && extension != ".xlsx" && extension != ".csv")
        throw TListingError(file.string() + " は上場銘柄一覧 (.xls、.xlsx、.csv) ではありません");
    // Every refusal names the file: the user may have given several in a script.
    try
    {
        if (extension == ".xls")
        {
            if (std::filesystem::file_size(file, error) > MaxFileBytes)
                TooLarge("ファイル");
            return ListingRowsFromXls(file);
        }
        if (extension == ".xlsx")
            return ListingRowsFromXlsx(FileBytes(file));
        return ListingRowsFromCsv(FileBytes(file));
    }
    catch (const TListingError& refused)
    {
        throw TListingError(file.string() + ": " + refused.what());
    }
}
