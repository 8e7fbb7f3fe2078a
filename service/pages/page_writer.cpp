#include "pages/page_writer.h"

#include "pages/page_templates.h"
#include "market/text_convert.h"

#include "common/exact_format.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using TValues = std::vector<std::pair<std::string_view, std::string>>;

//! A page template in EUC-JP, cut at its placeholders once: literal, then the name of the
//! value that follows it (empty after the last literal).
struct TTemplate
{
    std::vector<std::pair<std::string, std::string>> Parts;
    std::size_t Bytes = 0;
};

TTemplate Compile(std::string_view utf8)
{
    // Placeholders are ASCII, which no byte of an EUC-JP character is: converting first is safe.
    const std::string page = Utf8ToEucJp(utf8);
    TTemplate compiled;
    compiled.Bytes = page.size();
    std::size_t start = 0;
    while (true)
    {
        const std::size_t open = page.find("{{", start);
        if (open == std::string::npos)
        {
            compiled.Parts.emplace_back(page.substr(start), std::string());
            return compiled;
        }
        const std::size_t close = page.find("}}", open);
        if (close == std::string::npos)
            throw std::logic_error("unclosed placeholder in a page template");
        compiled.Parts.emplace_back(page.substr(start, open - start), page.substr(open + 2, close - open - 2));
        start = close + 2;
    }
}

const TTemplate& Header()
{
    static const TTemplate t = Compile(Page_header);
    return t;
}
const TTemplate& TitleArea()
{
    static const TTemplate t = Compile(Page_title_area);
    return t;
}
const TTemplate& QuoteBody()
{
    static const TTemplate t = Compile(Page_quote_body);
    return t;
}
const TTemplate& HistoryBody()
{
    static const TTemplate t = Compile(Page_history_body);
    return t;
}
const TTemplate& NotFoundBody()
{
    static const TTemplate t = Compile(Page_not_found_body);
    return t;
}
const TTemplate& Footer()
{
    static const TTemplate t = Compile(Page_footer);
    return t;
}

//! Appends the template with every placeholder replaced by its value (EUC-JP bytes).
void FillInto(std::string& out, const TTemplate& page, const TValues& values)
{
    for (const auto& [literal, name] : page.Parts)
    {
        out.append(literal);
        if (name.empty())
            continue;
        // Captured by name, not as the structured binding, which clang before 16 cannot capture.
        const std::string& wanted = name;
        const auto value =
            std::find_if(values.begin(), values.end(), [&wanted](const auto& entry) { return entry.first == wanted; });
        if (value == values.end())
            throw std::logic_error("no value for {{" + name + "}}");
        out.append(value->second);
    }
}

//! "1,234,567" / "-85", as FormatN prints whole numbers, without building a decimal.
void AppendYen(std::string& out, std::int64_t value)
{
    char digits[32];
    int length = 0;
    const bool negative = value < 0;
    // Negated through unsigned so the lowest 64-bit number stays defined.
    std::uint64_t rest = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do
    {
        if (length % 4 == 3)
            digits[length++] = ',';
        digits[length++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative)
        out += '-';
    while (length > 0)
        out += digits[--length];
}

std::string Yen(std::int64_t value)
{
    std::string text;
    AppendYen(text, value);
    return text;
}

//! "+1,234" / "-85" / "0", as the change is printed.
std::string Signed(std::int64_t value)
{
    return (value > 0 ? "+" : "") + Yen(value);
}

//! Rises in red and falls in green, each figure wrapped in its font tag.
std::string Coloured(std::int64_t sign, const std::string& text)
{
    if (sign > 0)
        return "<font color=\"#ff0000\">" + text + "</font>";
    if (sign < 0)
        return "<font color=\"#008000\">" + text + "</font>";
    return text;
}

std::string RateText(std::int64_t hundredths)
{
    return (hundredths > 0 ? "+" : "") + FormatF(TDecimal{hundredths, 2}, 0, 2) + "%";
}

//! Turnover estimate, close times volume, exact; "-" where a user's figures make it absurd.
void AppendTurnover(std::string& out, const TPriceBar& bar)
{
    __extension__ using TWide = __int128;
    const TWide value = static_cast<TWide>(bar.Close) * bar.Volume;
    if (value >= 0 && value < static_cast<TWide>(9e18))
        AppendYen(out, static_cast<std::int64_t>(value));
    else
        out += '-';
}

//! "yyyy/mm/dd" without a format string.
void AppendDate(std::string& out, TDate date)
{
    const auto two = [&](int value) {
        out += static_cast<char>('0' + value / 10 % 10);
        out += static_cast<char>('0' + value % 10);
    };
    two(date.Year / 100);
    two(date.Year % 100);
    out += '/';
    two(date.Month);
    out += '/';
    two(date.Day);
}

std::string TwoDigits(int value)
{
    return FormatD(value, 2, 2);
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

//! The sector as the pages print it: its half-width kana made full-width, because EUC-JP
//! writes those with a 0x8E prefix that the program's title conversion would misread.
std::string DisplaySector(std::string sector)
{
    ReplaceAll(sector, "\xef\xbd\xa5", "\xe3\x83\xbb"); // half-width to full-width middle dot
    ReplaceAll(sector, "\xef\xbd\xb6\xef\xbe\x9e\xef\xbe\x97\xef\xbd\xbd",
               "\xe3\x82\xac\xe3\x83\xa9\xe3\x82\xb9"); // ｶﾞﾗｽ to ガラス
    return sector;
}

// Fixed texts of the pages, EUC-JP, converted once.
const std::string& QuoteTitleTail()
{
    static const std::string text = Utf8ToEucJp("\xef\xbc\x89\xe3\x81\xae\xe6\xa0\xaa\xe4\xbe\xa1"); // ）の株価
    return text;
}
const std::string& OpenBracket()
{
    static const std::string text = Utf8ToEucJp("\xef\xbc\x88"); // （
    return text;
}

TValues TitleValues(const TStockPageTexts& stock, std::string_view key, std::string title, std::string_view page)
{
    return {{"title", std::move(title)}, {"page", std::string(page)}, {"name", stock.Name},     {"code", stock.Code},
            {"market", stock.Market},    {"sector", stock.Sector},    {"key", std::string(key)}};
}

std::string Assemble(const TValues& values, const TTemplate& body, std::size_t extra)
{
    std::string page;
    page.reserve(Header().Bytes + TitleArea().Bytes + body.Bytes + Footer().Bytes + extra + 2048);
    FillInto(page, Header(), values);
    FillInto(page, TitleArea(), values);
    FillInto(page, body, values);
    FillInto(page, Footer(), values);
    return page;
}

} // namespace

TStockPageTexts PageTextsOf(const TStock& stock)
{
    return {Utf8ToEucJp(stock.Name), stock.Code, Utf8ToEucJp(stock.Market), Utf8ToEucJp(DisplaySector(stock.Sector))};
}

TQuoteFigures QuoteFiguresOf(const TPriceBars& days)
{
    TQuoteFigures quote;
    if (days.empty())
        return quote;
    const TPriceBar& newest = days.back();
    quote.Date = newest.Date;
    if (newest.Volume <= 0)
        return quote;
    quote.Traded = true;
    quote.Price = newest.Close;
    quote.Open = newest.Open;
    quote.High = newest.High;
    quote.Low = newest.Low;
    quote.Volume = newest.Volume;
    for (auto day = days.rbegin() + 1; day != days.rend(); ++day)
    {
        if (day->Volume > 0)
        {
            quote.Change = newest.Close - day->Close;
            quote.RateHundredths = RoundRatio(quote.Change * 100, day->Close, 2);
            break;
        }
    }
    return quote;
}

std::string QuoteTimeText(const TQuoteFigures& quote)
{
    // Month and day only: with the year the text does not fit the board's time label.
    return FormatDate(quote.Date).substr(5) + " 15:00";
}

std::string QuotePage(const TStock& stock, std::string_view key, const TQuoteFigures& quote, const TPriceBars& days)
{
    return QuotePage(PageTextsOf(stock), key, quote, days);
}

std::string QuotePage(const TStockPageTexts& stock, std::string_view key, const TQuoteFigures& quote,
                      const TPriceBars& days)
{
    TValues values = TitleValues(stock, key, stock.Name + OpenBracket() + stock.Code + QuoteTitleTail(),
                                 "\xb8\xc4\xca\xcc\xcc\xc3\xca\xc1"); // 個別銘柄, EUC-JP
    const std::string dash = "-";
    values.emplace_back("price", quote.Traded ? Yen(quote.Price) : dash);
    values.emplace_back("time", quote.Traded ? QuoteTimeText(quote) : dash);
    values.emplace_back("change", quote.Traded ? Coloured(quote.Change, Signed(quote.Change)) : dash);
    values.emplace_back("rate", quote.Traded ? Coloured(quote.RateHundredths, RateText(quote.RateHundredths)) : dash);
    values.emplace_back("open", quote.Traded ? Yen(quote.Open) : dash);
    values.emplace_back("high", quote.Traded ? Yen(quote.High) : dash);
    values.emplace_back("low", quote.Traded ? Yen(quote.Low) : dash);
    values.emplace_back("volume", Yen(quote.Volume));
    values.emplace_back("date", FormatDate(quote.Date));

    // The previous close, and the last five traded days with their changes: only the newest
    // six traded days are looked at.
    std::vector<const TPriceBar*> traded;
    for (auto day = days.rbegin(); day != days.rend() && traded.size() < QuoteTradedDays; ++day)
        if (day->Volume > 0)
            traded.push_back(&*day);
    // traded[0] is the newest traded day; the previous close is the one before the quote's day.
    const std::size_t previous = quote.Traded ? 1 : 0;
    values.emplace_back("previous", previous < traded.size() ? Yen(traded[previous]->Close) : dash);
    std::string recent;
    for (std::size_t i = 0; i < traded.size() && i < 5; ++i)
    {
        const TPriceBar& day = *traded[i];
        recent += "<tr><td class=\"date\">";
        AppendDate(recent, day.Date);
        recent += "</td><td class=\"num\">";
        AppendYen(recent, day.Close);
        recent += "</td><td class=\"num\">";
        recent += i + 1 < traded.size() ? Signed(day.Close - traded[i + 1]->Close) : dash;
        recent += "</td><td class=\"num\">";
        AppendYen(recent, day.Volume);
        recent += "</td></tr>\n";
    }
    values.emplace_back("recent", std::move(recent));
    return Assemble(values, QuoteBody(), 1024);
}

TPriceBars HistoryRowsOf(const TPriceBars& bars)
{
    const std::size_t count = std::min<std::size_t>(bars.size(), MaxPageRows);
    return TPriceBars(bars.rbegin(), bars.rbegin() + static_cast<std::ptrdiff_t>(count));
}

std::string HistoryPage(const TStock& stock, std::string_view key, const TPriceBars& bars, bool weekly, TDate first,
                        TDate last, const std::vector<TDate>& splits)
{
    return HistoryPage(PageTextsOf(stock), key, bars, weekly, first, last, splits);
}

std::string HistoryPage(const TStockPageTexts& stock, std::string_view key, const TPriceBars& bars, bool weekly,
                        TDate first, TDate last, const std::vector<TDate>& splits)
{
    const std::string period = weekly ? "\xbd\xb5\xc2\xad" : "\xc6\xfc\xc2\xad"; // 週足 : 日足, EUC-JP
    TValues values = TitleValues(stock, key,
                                 stock.Name + OpenBracket() + stock.Code + "\xa1\xcb\xa4\xce" + period +
                                     "\xbb\xfe\xb7\xcf\xce\xf3",                      // ）の…時系列, EUC-JP
                                 "\xbb\xfe\xb7\xcf\xce\xf3\xa5\xc7\xa1\xbc\xa5\xbf"); // 時系列データ, EUC-JP

    // Every row is longer than the 129 bytes the program's end-of-table test looks ahead,
    // so only the last row is followed that closely by "</table>".
    const std::size_t count = std::min<std::size_t>(bars.size(), MaxPageRows);
    std::string text;
    text.reserve(MaxPageRows * 200);
    std::int64_t high = 0;
    std::int64_t low = 0;
    std::int64_t volume = 0;
    std::size_t shown = 0;
    auto split = splits.rbegin();
    const auto splitRows = [&](TDate newerThan) {
        for (; split != splits.rend() && *split > newerThan && shown < MaxPageRows; ++split, ++shown)
        {
            text += shown % 2 ? "<tr class=\"even split\"><td class=\"date\">"
                              : "<tr class=\"odd split\"><td class=\"date\">";
            AppendDate(text, *split);
            text += "</td><td class=\"num split\" colspan=\"6\" align=\"center\">"
                    "\xb3\xf4\xbc\xb0\xca\xac\xb3\xe4\xa1\xca\xca\xbb\xb9\xe7\xa1\xcb" // 株式分割（併合）, EUC-JP
                    "</td></tr>\n";
        }
    };
    for (std::size_t i = 0; i < count && shown < MaxPageRows; ++i)
    {
        const TPriceBar& row = bars[bars.size() - 1 - i]; // newest first
        splitRows(row.Date);
        if (shown == MaxPageRows)
            break;
        text += shown % 2 ? "<tr class=\"even\"><td class=\"date\">" : "<tr class=\"odd\"><td class=\"date\">";
        AppendDate(text, row.Date);
        text += "</td><td class=\"num\">";
        AppendYen(text, row.Close);
        text += "</td><td class=\"num\">";
        AppendYen(text, row.Open);
        text += "</td><td class=\"num\">";
        AppendYen(text, row.High);
        text += "</td><td class=\"num\">";
        AppendYen(text, row.Low);
        text += "</td><td class=\"num\">";
        AppendYen(text, row.Volume);
        text += "</td><td class=\"num\">";
        AppendTurnover(text, row);
        text += "</td></tr>\n";
        high = i == 0 ? row.High : std::max(high, row.High);
        low = i == 0 ? row.Low : std::min(low, row.Low);
        volume += row.Volume;
        ++shown;
    }
    splitRows(TDate{0, 0, 0}); // ex-dates older than every row shown, while there is room
    const std::size_t rowBytes = text.size();
    values.emplace_back("period", period);
    values.emplace_back("start", FormatDate(first));
    values.emplace_back("end", FormatDate(last));
    values.emplace_back("count", std::to_string(shown));
    values.emplace_back("rows", std::move(text));
    values.emplace_back("periodhigh", shown == 0 || count == 0 ? "-" : Yen(high));
    values.emplace_back("periodlow", shown == 0 || count == 0 ? "-" : Yen(low));
    values.emplace_back("periodvolume", Yen(volume));
    values.emplace_back("sy", std::to_string(first.Year));
    values.emplace_back("sm", TwoDigits(first.Month));
    values.emplace_back("sd", TwoDigits(first.Day));
    values.emplace_back("ey", std::to_string(last.Year));
    values.emplace_back("em", TwoDigits(last.Month));
    values.emplace_back("ed", TwoDigits(last.Day));
    values.emplace_back("dsel", weekly ? "" : " selected");
    values.emplace_back("wsel", weekly ? " selected" : "");
    return Assemble(values, HistoryBody(), rowBytes);
}

std::string NotFoundPage(std::string_view key)
{
    const TValues values{{"title", "\xb3\xf4\xb2\xc1\xb8\xa1\xba\xf7"}, // 株価検索, EUC-JP
                         {"key", Utf8ToEucJp(key)}};
    std::string page;
    FillInto(page, Header(), values);
    FillInto(page, NotFoundBody(), values);
    FillInto(page, Footer(), values);
    return page;
}
