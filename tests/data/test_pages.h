#pragma once

#include "data/quote_page.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// EUC-JP pages laid out the way the scrapers expect, padded to an exact size.

inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

inline std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

//! `head` + an HTML comment + `tail`, `size` bytes in all.
inline std::string PadTo(const std::string& head, const std::string& tail, std::size_t size)
{
    const std::string open = "<!-- ", close = " -->\n";
    const std::size_t fixed = head.size() + tail.size() + open.size() + close.size();
    if (size < fixed)
        throw std::logic_error("page content longer than the wanted size");
    return head + open + std::string(size - fixed, '.') + close + tail;
}

// The service's notice for a stock it does not know, in EUC-JP.
inline const std::string NotFoundEuc =
    "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした

struct TQuotePageFields
{
    std::string NameEuc = "\xa5\xad\xa5\xe4\xa5\xce\xa5\xf3"; // キヤノン, EUC-JP
    std::string Code = "7751";
    std::string Price = "1,234";
    std::string Time = "12/07 15:00";
    std::string Change = "+12";
    std::string Rate = "(+1.23%)";
    bool FontTags = true; // change and rate wrapped in <font ...>
    std::string Open = "1,200";
    std::string High = "1,250";
    std::string Low = "1,190";
    std::string Volume = "1,234,500";
    std::string TitleNoticeEuc; // text in the title area, converted with the name
    bool Capitals = false;      // tags in capital letters
    bool Footer = true;
    std::string Unit; // the cell after the trading-unit label ("100株" in EUC-JP); no label when empty
};

inline const std::string UnitLabelEuc = "\xc7\xe4\xc7\xe3\xc3\xb1\xb0\xcc"; // 売買単位
inline const std::string SharesEuc = "\xb3\xf4";                                 // 株

inline std::string QuotePage(const TQuotePageFields& fields, std::size_t size = 16000)
{
    std::string title =
        "<table class=\"title\"><tr><td>Stock</td></tr>\n"
        "<tr><td class=\"name\"><b><span>{NAME}</span></b></td><td>\n {CODE} Tokyo</td></tr>"
        "</table>\n";
    std::string figures = "<table width=\"100%\"><tr><td>Quote</td></tr>\n"
                          "<tr><td class=\"board\"><table>\n<tr><td>Price</td></tr>\n"
                          "<tr><td class=\"price\"><b>{PRICE}</b><small>({TIME})</small></td>\n"
                          "<td>{CHANGE}</td>\n<td>{RATE}</td>\n"
                          "<td>{OPEN}</td><td>{HIGH}</td><td>{LOW}</td><td>{VOLUME}</td></tr>"
                          "</table></td></tr></table>\n";
    std::string timeCell = "<span>{TIMETEXT}</span>";
    std::string font = fields.FontTags ? "<font color=\"#ff0000\">{X}</font>" : "{X}";
    if (fields.Capitals)
    {
        title = UpperAscii(title);
        figures = UpperAscii(figures);
        timeCell = UpperAscii(timeCell);
        font = UpperAscii(font);
    }
    title = ReplaceAll(ReplaceAll(title, "{NAME}", fields.NameEuc), "{CODE}", fields.Code);
    figures = ReplaceAll(figures, "{TIME}", fields.Price == "-" ? "" : timeCell);
    figures = ReplaceAll(figures, "{TIMETEXT}", fields.Time);
    figures = ReplaceAll(figures, "{CHANGE}", ReplaceAll(font, "{X}", fields.Change));
    figures = ReplaceAll(figures, "{RATE}", ReplaceAll(font, "{X}", fields.Rate));
    figures = ReplaceAll(figures, "{PRICE}", fields.Price);
    figures = ReplaceAll(figures, "{OPEN}", fields.Open);
    figures = ReplaceAll(figures, "{HIGH}", fields.High);
    figures = ReplaceAll(figures, "{LOW}", fields.Low);
    figures = ReplaceAll(figures, "{VOLUME}", fields.Volume);

    const std::string profile =
        fields.Unit.empty()
            ? std::string()
            : "<table class=\"profile\"><tr><th>" + UnitLabelEuc + "</th><td class=\"value\">" + fields.Unit +
                  "</td></tr></table>\n";
    const std::string head =
        "<html><head><title>quote</title></head><body>\n<!-- pagetitle&nabi -->\n" + title +
        fields.TitleNoticeEuc + "\n<!-- main contents -->\n" + figures + profile;
    const std::string tail =
        std::string(fields.Footer ? "<!-- Start FooterWord -->" : "<!-- Start Footer -->") +
        "\n</body></html>\n";
    return PadTo(head, tail, size);
}

inline const std::string KiyanonSjis = "\x83\x4c\x83\x84\x83\x6d\x83\x93"; // キヤノン

//! The quote that QuotePage({}) reads as, worked by hand from the fields' defaults.
inline TKabuQuote DefaultQuote()
{
    constexpr std::int64_t One = FixedPointOne;
    TKabuQuote quote;
    quote.KabuNo = "7751";
    quote.KabuName = KiyanonSjis;
    quote.KabuKa = 1234 * One;
    quote.Zenjitsuhi = 12 * One;
    quote.ZenjitsuhiRate = 12300;
    quote.OpenPrice = 1200 * One;
    quote.HighPrice = 1250 * One;
    quote.LowPrice = 1190 * One;
    quote.Dekidaka = 1234500 * One;
    quote.Tani = One;
    quote.KabuTime = "12/07 15:00";
    return quote;
}

struct THistoryCells
{
    std::string Date, Close, Open, High, Low, Volume;
    bool Split = false; // the close cell holds the split notice and the row ends there
};

inline THistoryCells Cells(std::string date, std::string close, std::string open, std::string high, std::string low,
                           std::string volume)
{
    return {std::move(date), std::move(close), std::move(open), std::move(high), std::move(low), std::move(volume)};
}

//! `title` goes into the page's <title> when not empty; `beforeTableEnd` stands between the
//! last row and "</table>".
inline std::string HistoryPage(const std::vector<THistoryCells>& rows, std::size_t size = 16000,
                               bool capitals = false, const std::string& title = "",
                               const std::string& beforeTableEnd = "")
{
    std::string tables =
        "<table class=\"nav\"><tr><td>menu</td></tr></table>\n"
        "<table class=\"info\"><tr><td>info</td></tr></table>\n"
        "<table class=\"history\" border=\"1\">\n"
        "<tr><th colspan=\"6\">title</th></tr>\n<tr><th colspan=\"6\">range</th></tr>\n"
        "<tr><th colspan=\"6\">unit</th></tr>\n"
        "<tr><th>date</th><th>close</th><th>open</th><th>high</th><th>low</th><th>volume</th></"
        "tr>\n";
    // The end test looks for "</table>" within 129 bytes of the cursor, so a row must be
    // longer than that to be read; the service's rows carry attributes as these do.
    std::string row =
        "<tr align=\"right\" bgcolor=\"#ffffff\"><td nowrap>{D}</td><td nowrap>{C}</td>"
        "<td nowrap>{O}</td><td nowrap>{H}</td><td nowrap>{L}</td><td nowrap>{V}</td></tr>\n";
    std::string splitRow =
        "<tr align=\"right\" bgcolor=\"#ffffff\"><td nowrap>{D}</td>"
        "<td colspan=\"5\" align=\"center\" class=\"notice\" nowrap>"
        "\xb3\xf4\xbc\xb0\xca\xac\xb3\xe4\xa1\xca\xca\xbb\xb9\xe7\xa1\xcb" // 株式分割（併合）
        "</td></tr>\n";
    if (capitals)
    {
        tables = UpperAscii(tables);
        row = UpperAscii(row);
        splitRow = UpperAscii(splitRow);
    }
    for (const THistoryCells& cells : rows)
    {
        std::string text = cells.Split ? splitRow : row;
        text = ReplaceAll(text, "{D}", cells.Date);
        text = ReplaceAll(text, "{C}", cells.Close);
        text = ReplaceAll(text, "{O}", cells.Open);
        text = ReplaceAll(text, "{H}", cells.High);
        text = ReplaceAll(text, "{L}", cells.Low);
        tables += ReplaceAll(text, "{V}", cells.Volume);
    }
    tables += beforeTableEnd + "</table>\n";
    const std::string head = title.empty() ? "<html>" : "<html><head><title>" + title + "</title></head>";
    return PadTo(head + "<body>\n<!-- main contents -->\n" + tables, "</body></html>\n", size);
}
