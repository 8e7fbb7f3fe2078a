#include "page_writer.h"

#include "page_templates.h"
#include "text_convert.h"

#include "common/exact_format.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using TValues = std::vector<std::pair<std::string_view, std::string>>;

//! The template with every "{{name}}" replaced by its value.
std::string Fill(std::string_view page, const TValues& values)
{
    std::string out;
    out.reserve(page.size() + 4096);
    std::size_t start = 0;
    while (true) {
        const std::size_t open = page.find("{{", start);
        if (open == std::string_view::npos) {
            out.append(page.substr(start));
            return out;
        }
        const std::size_t close = page.find("}}", open);
        if (close == std::string_view::npos)
            throw std::logic_error("unclosed placeholder in a page template");
        const std::string_view name = page.substr(open + 2, close - open - 2);
        const auto value = std::find_if(values.begin(), values.end(),
                                        [&](const auto& entry) { return entry.first == name; });
        if (value == values.end())
            throw std::logic_error("no value for {{" + std::string(name) + "}}");
        out.append(page.substr(start, open - start));
        out.append(value->second);
        start = close + 2;
    }
}

std::string Yen(std::int64_t value)
{
    return FormatN(TDecimal{value, 0}, 0, 0);
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

//! Turnover estimate, close times volume; "-" where a user's figures make it absurd.
std::string TurnoverText(const TPriceBar& bar)
{
    const double value = static_cast<double>(bar.Close) * static_cast<double>(bar.Volume);
    return value < 9e18 ? FormatN(value, 0, 0) : std::string("-");
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

TValues TitleValues(const TStock& stock, std::string_view key, std::string_view title, std::string_view page)
{
    return {{"title", std::string(title)},   {"page", std::string(page)},
            {"name", stock.Name},            {"code", stock.Code},
            {"market", stock.Market},        {"sector", DisplaySector(stock.Sector)},
            {"key", std::string(key)}};
}

std::string Assemble(const TValues& values, std::string_view body)
{
    std::string page = Fill(Page_header, values);
    page += Fill(Page_title_area, values);
    page += Fill(body, values);
    page += Fill(Page_footer, values);
    return Utf8ToEucJp(page);
}

} // namespace

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
    for (auto day = days.rbegin() + 1; day != days.rend(); ++day) {
        if (day->Volume > 0) {
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

std::string QuotePage(const TStock& stock, std::string_view key, const TQuoteFigures& quote,
                      const TPriceBars& days)
{
    TValues values = TitleValues(stock, key,
                                 stock.Name + "\xef\xbc\x88" + stock.Code + "\xef\xbc\x89\xe3\x81\xae\xe6\xa0\xaa\xe4\xbe\xa1", // （code）の株価
                                 "\xe5\x80\x8b\xe5\x88\xa5\xe9\x8a\x98\xe6\x9f\x84"); // 個別銘柄
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

    // The previous close, and the last five traded days with their changes.
    TPriceBars traded;
    for (const TPriceBar& day : days)
        if (day.Volume > 0)
            traded.push_back(day);
    const std::size_t previous = traded.size() - (quote.Traded ? 1 : 0); // one past the previous day
    values.emplace_back("previous", previous == 0 ? dash : Yen(traded[previous - 1].Close));
    std::string recent;
    const std::size_t from = traded.size() > 5 ? traded.size() - 5 : 0;
    for (std::size_t i = traded.size(); i-- > from;) {
        const TPriceBar& day = traded[i];
        const std::string change = i > 0 ? Signed(day.Close - traded[i - 1].Close) : dash;
        recent += "<tr><td class=\"date\">" + FormatDate(day.Date) + "</td><td class=\"num\">" + Yen(day.Close)
                  + "</td><td class=\"num\">" + change + "</td><td class=\"num\">" + Yen(day.Volume)
                  + "</td></tr>\n";
    }
    values.emplace_back("recent", recent);
    return Assemble(values, Page_quote_body);
}

TPriceBars HistoryRowsOf(const TPriceBars& bars)
{
    const std::size_t count = std::min<std::size_t>(bars.size(), MaxPageRows);
    return TPriceBars(bars.rbegin(), bars.rbegin() + static_cast<std::ptrdiff_t>(count));
}

std::string HistoryPage(const TStock& stock, std::string_view key, const TPriceBars& bars, bool weekly,
                        TDate first, TDate last, const std::vector<TDate>& splits)
{
    const std::string period = weekly ? "\xe9\x80\xb1\xe8\xb6\xb3" : "\xe6\x97\xa5\xe8\xb6\xb3"; // 週足 : 日足
    TValues values = TitleValues(stock, key,
                                 stock.Name + "\xef\xbc\x88" + stock.Code + "\xef\xbc\x89\xe3\x81\xae"
                                     + period + "\xe6\x99\x82\xe7\xb3\xbb\xe5\x88\x97", // （code）の…時系列
                                 "\xe6\x99\x82\xe7\xb3\xbb\xe5\x88\x97\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf"); // 時系列データ
    const TPriceBars rows = HistoryRowsOf(bars);

    // Every row is longer than the 129 bytes the program's end-of-table test looks ahead,
    // so only the last row is followed that closely by "</table>".
    std::string text;
    std::int64_t high = 0;
    std::int64_t low = 0;
    std::int64_t volume = 0;
    std::size_t shown = 0;
    auto split = splits.rbegin();
    const auto splitRows = [&](TDate newerThan) {
        for (; split != splits.rend() && *split > newerThan && shown < MaxPageRows; ++split, ++shown)
            text += std::string("<tr class=\"") + (shown % 2 ? "even" : "odd") + " split\"><td class=\"date\">"
                    + FormatDate(*split) + "</td><td class=\"num split\" colspan=\"6\" align=\"center\">"
                    + "\xe6\xa0\xaa\xe5\xbc\x8f\xe5\x88\x86\xe5\x89\xb2\xef\xbc\x88\xe4\xbd\xb5\xe5\x90\x88\xef\xbc\x89" // 株式分割（併合）
                    + "</td></tr>\n";
    };
    for (std::size_t i = 0; i < rows.size() && shown < MaxPageRows; ++i, ++shown) {
        const TPriceBar& row = rows[i];
        splitRows(row.Date);
        if (shown == MaxPageRows)
            break;
        text += std::string("<tr class=\"") + (shown % 2 ? "even" : "odd") + "\"><td class=\"date\">"
                + FormatDate(row.Date) + "</td><td class=\"num\">" + Yen(row.Close) + "</td><td class=\"num\">"
                + Yen(row.Open) + "</td><td class=\"num\">" + Yen(row.High) + "</td><td class=\"num\">"
                + Yen(row.Low) + "</td><td class=\"num\">" + Yen(row.Volume) + "</td><td class=\"num\">"
                + TurnoverText(row) + "</td></tr>\n";
        high = i == 0 ? row.High : std::max(high, row.High);
        low = i == 0 ? row.Low : std::min(low, row.Low);
        volume += row.Volume;
    }
    splitRows(TDate{0, 0, 0}); // ex-dates older than every row shown, while there is room
    values.emplace_back("period", period);
    values.emplace_back("start", FormatDate(first));
    values.emplace_back("end", FormatDate(last));
    values.emplace_back("count", std::to_string(shown));
    values.emplace_back("rows", text);
    values.emplace_back("periodhigh", rows.empty() ? "-" : Yen(high));
    values.emplace_back("periodlow", rows.empty() ? "-" : Yen(low));
    values.emplace_back("periodvolume", Yen(volume));
    values.emplace_back("sy", std::to_string(first.Year));
    values.emplace_back("sm", TwoDigits(first.Month));
    values.emplace_back("sd", TwoDigits(first.Day));
    values.emplace_back("ey", std::to_string(last.Year));
    values.emplace_back("em", TwoDigits(last.Month));
    values.emplace_back("ed", TwoDigits(last.Day));
    values.emplace_back("dsel", weekly ? "" : " selected");
    values.emplace_back("wsel", weekly ? " selected" : "");
    return Assemble(values, Page_history_body);
}

std::string NotFoundPage(std::string_view key)
{
    const TValues values{{"title", "\xe6\xa0\xaa\xe4\xbe\xa1\xe6\xa4\x9c\xe7\xb4\xa2"}, // 株価検索
                         {"key", std::string(key)}};
    return Utf8ToEucJp(Fill(Page_header, values) + Fill(Page_not_found_body, values) + Fill(Page_footer, values));
}
