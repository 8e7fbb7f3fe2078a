#include "data/history_page.h"

#include "common/exact_format.h"
#include "common/service_contract.h"
#include "data/cache_file.h"
#include "data/data_error.h"
#include "data/numeric_text.h"
#include "data/page_scan.h"
#include "data/stock_code.h"

namespace {

constexpr std::size_t RowWindow = 3500;
constexpr std::size_t TableWindow = 5500;
constexpr std::int64_t LastEndOffset = 129; // "</table>" this close to the cursor ends the rows
constexpr std::string_view TableEndTag = "</table>";
constexpr std::size_t SplitCellLength = 100;
constexpr std::string_view ContentsMarker = "main contents";
// Searched as Shift_JIS bytes although the page is EUC-JP, as the page check always has been.
constexpr std::string_view NotFoundText = "\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1"
                                          "\x82\xc5\x82\xb5\x82\xbd"; // 見つかりませんでした
constexpr std::string_view SplitText =
    "\xb3\xf4\xbc\xb0\xca\xac\xb3\xe4\xa1\xca\xca\xbb\xb9\xe7\xa1\xcb"; // 株式分割（併合）, EUC-JP

// A 1-based cursor into the page (0 counts as the first byte) and searches in lower-cased
// windows from it. Every search moves the cursor forward by at least its fixed step, so a
// page without the expected structure still ends after MaxHistoryRows rows. ASCII lowering
// does not depend on where a window starts, so the page is lowered once.
class TRowCursor
{
public:
    TRowCursor(std::string_view text, std::int64_t position)
        : Text(text), LoweredText(LowerAscii(text)), Position(position)
    {}

    std::string_view Lowered(std::size_t size) const
    {
        return ByteWindow(LoweredText, Position, size);
    }
    std::string_view Raw(std::size_t size) const { return ByteWindow(Text, Position, size); }
    std::int64_t Search(std::string_view marker, std::size_t size = RowWindow) const
    {
        return FindOffset(Lowered(size), marker);
    }
    void Add(std::int64_t by) { Position += by; }

    // Passes a cell's closing tag and the next cell's opening tag.
    void NextCell()
    {
        Add(Search(">"));
        Add(Search(">"));
    }

    // The cell text from the cursor up to "</td>"; the cursor stays at its start.
    std::string Cell() const
    {
        const std::string_view window = Lowered(RowWindow);
        const std::int64_t end = FindOffset(window, "</td>");
        return end > 0 ? std::string(window.substr(0, static_cast<std::size_t>(end - 1)))
                       : std::string();
    }

    void Pass(const std::string& cell) { Add(static_cast<std::int64_t>(cell.size())); }

private:
    std::string_view Text;
    std::string LoweredText;
    std::int64_t Position;
};

std::int32_t CellNumber(std::string_view text)
{
    return StrToInt32(ExtractNumeric(text));
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A date cell is empty (the row is dropped later) or "yyyy/mm/dd" in digits. Anything else
// would reach the report's date columns as it stands, a spreadsheet formula included, so it
// is a page the program cannot read, as a figure that does not convert is.
void CheckDateCell(std::string_view cell)
{
    if (cell.empty())
        return;
    bool date = cell.size() == 10 && cell[4] == '/' && cell[7] == '/';
    for (std::size_t i = 0; date && i < cell.size(); ++i)
        date = i == 4 || i == 7 || IsDigit(cell[i]);
    if (!date)
        throw TDataError("時系列の日付の欄が日付ではありません: " + std::string(cell.substr(0, 40)));
}

char LowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// 0-based position of lower-case `marker` in `text` from `from`, ASCII letters compared
// without case; npos when absent.
std::size_t FindNoCase(std::string_view text, std::string_view marker, std::size_t from)
{
    for (std::size_t at = from; at + marker.size() <= text.size(); ++at)
    {
        std::size_t i = 0;
        while (i < marker.size() && LowerChar(text[at + i]) == marker[i])
            ++i;
        if (i == marker.size())
            return at;
    }
    return std::string_view::npos;
}

// Whether a bracketed text names a stock code: four digits, five digits, or today's form.
bool IsCodeForm(std::string_view text)
{
    if (IsLetterCode(text))
        return true;
    if (text.size() != 4 && text.size() != 5)
        return false;
    for (const char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

constexpr std::string_view WideOpen = "\xa1\xca";  // （, EUC-JP
constexpr std::string_view WideClose = "\xa1\xcb"; // ）, EUC-JP

} // namespace

bool HistoryPageNamesOtherStock(std::string_view fileBytes, std::string_view kabuKey)
{
    const std::string_view buffer = fileBytes.substr(0, HistoryPageBuffer);
    const std::string_view text = buffer.substr(0, buffer.find('\0'));
    const std::size_t tag = FindNoCase(text, "<title", 0);
    const std::size_t open = tag == std::string_view::npos ? tag : text.find('>', tag);
    const std::size_t close =
        open == std::string_view::npos ? open : FindNoCase(text, "</title", open);
    if (close == std::string_view::npos)
        return false;
    const std::string_view title = text.substr(open + 1, close - open - 1);

    std::string_view code = kabuKey.substr(0, kabuKey.find('.'));
    while (!code.empty() && code.back() == ' ')
        code.remove_suffix(1);
    // Walked character by character: an EUC-JP trail byte and the next lead byte can look
    // like a bracket.
    std::size_t bracket = std::string_view::npos; // just past the open bracket
    for (std::size_t at = 0; at < title.size();)
    {
        const unsigned char c = static_cast<unsigned char>(title[at]);
        const std::size_t length = c < 0x80 ? 1 : c == 0x8f ? 3 : 2;
        const std::string_view character = title.substr(at, length);
        if (character == "(" || character == WideOpen)
            bracket = at + length;
        else if (bracket != std::string_view::npos && (character == ")" || character == WideClose))
        {
            const std::string_view named = title.substr(bracket, at - bracket);
            if (IsCodeForm(named) && !SameCode(named, code) && !SameCode(named, code.substr(0, 4)))
                return true;
            bracket = std::string_view::npos;
        }
        at += length;
    }
    return false;
}

std::string HistoryCacheFile(std::string_view kabuKey, TChartPeriod period)
{
    return "dat/k" + std::string(kabuKey) + (period == TChartPeriod::Weekly ? ".02" : ".01");
}

std::string HistoryUrl(std::string_view serviceAddress, std::string_view kabuKey,
                       TChartPeriod period, std::chrono::year_month_day today)
{
    const std::chrono::days back{period == TChartPeriod::Weekly ? 330 : 60};
    const std::string start = DateText(std::chrono::sys_days{today} - back);
    const std::string end = DateText(today);
    return std::string(serviceAddress) + HistoryRoute + "?sv=MN&qt=" + TrimmedKey(kabuKey) +
           "&sy=" + start.substr(0, 4) + "&sm=" + start.substr(5, 2) + "&sd=" + start.substr(8, 2) +
           "&ey=" + end.substr(0, 4) + "&em=" + end.substr(5, 2) + "&ed=" + end.substr(8, 2) +
           (period == TChartPeriod::Weekly ? "&k=w" : "&k=d");
}

THistoryRows ParseHistoryPage(std::string_view fileBytes, std::int64_t kabuKa,
                              const TProcessEvents& processEvents)
{
    // A longer file is looked at only as far as the page buffer reaches.
    const std::string_view buffer = fileBytes.substr(0, HistoryPageBuffer);
    if (buffer.size() < MinHistoryPageSize)
        return {};
    const std::string_view text = buffer.substr(0, buffer.find('\0'));
    if (text.find(NotFoundText) != std::string_view::npos)
        return {};

    // Into the third table after "main contents", past its first four rows.
    TRowCursor cursor(text, FindOffset(text, ContentsMarker));
    for (int i = 0; i < 3; ++i)
        cursor.Add(cursor.Search("<table", TableWindow) + 2);
    std::string_view endWindow;
    for (int i = 0; i < 4; ++i)
    {
        endWindow = cursor.Lowered(RowWindow);
        cursor.Add(FindOffset(endWindow, "<tr") + 2);
    }

    // A "-" cell repeats the row above (the next newer period); above the first row stands
    // the current price.
    const std::string currentPrice = FormatN(TDecimal{kabuKa, 4}, 7, 0);
    std::string closeText = currentPrice;
    std::string openText = currentPrice;
    std::string highText = currentPrice;
    std::string lowText = currentPrice;
    std::string volumeText = "0";

    THistoryRows rows;
    while (rows.size() < MaxHistoryRows)
    {
        if (processEvents)
            processEvents();
        // Only a "</table>" starting within LastEndOffset bytes counts; the window beyond
        // need not be searched.
        const std::int64_t tableEnd =
            FindOffset(endWindow.substr(0, static_cast<std::size_t>(LastEndOffset) + TableEndTag.size() - 1), TableEndTag);
        if (tableEnd >= 1 && tableEnd <= LastEndOffset)
            break;

        cursor.Add(cursor.Search("<tr") + 2);
        cursor.NextCell();
        THistoryRow row;
        row.DateText = cursor.Cell();
        CheckDateCell(row.DateText);
        cursor.Pass(row.DateText);

        cursor.NextCell();
        const std::string close = cursor.Cell();
        if (close.size() >= SplitCellLength || close == SplitText)
        {
            // A split or consolidation: prices of the row above, no volume.
            volumeText = "0";
        }
        else
        {
            if (close != "-")
                closeText = close;
            cursor.Pass(close);
            for (std::string* carried : {&openText, &highText, &lowText})
            {
                cursor.NextCell();
                const std::string cell = cursor.Cell();
                if (cell != "-")
                    *carried = cell;
                cursor.Pass(cell);
            }
            cursor.NextCell();
            volumeText = cursor.Cell();
            cursor.Pass(volumeText);
        }

        row.ClosePrice = CellNumber(closeText);
        row.OpenPrice = CellNumber(openText);
        row.HighPrice = CellNumber(highText);
        row.LowPrice = CellNumber(lowText);
        row.Dekidaka = StrToInt64(ExtractNumeric(volumeText));
        if (row.OpenPrice == 0 && row.ClosePrice != 0)
        {
            // A period without trades shows only a close: a flat bar at that price.
            row.OpenPrice = row.ClosePrice;
            row.HighPrice = row.ClosePrice;
            row.LowPrice = row.ClosePrice;
        }
        rows.push_back(std::move(row));
        endWindow = cursor.Raw(RowWindow);
    }
    if (processEvents)
        processEvents();
    return rows;
}
