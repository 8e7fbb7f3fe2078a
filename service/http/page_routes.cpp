#include "http/page_routes.h"

#include "common/exact_format.h"
#include "common/service_contract.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

bool IsDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class TBadRequest : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! The one value of a query key; a missing or repeated key is a bad request.
const std::string& One(const TQueryParams& params, const char* name)
{
    const auto [first, last] = params.equal_range(name);
    if (first == last)
        throw TBadRequest(std::string("missing ") + name);
    if (std::next(first) != last)
        throw TBadRequest(std::string("repeated ") + name);
    return first->second;
}

void Expect(const TQueryParams& params, const char* name, std::string_view value)
{
    if (One(params, name) != value)
        throw TBadRequest(std::string("unexpected ") + name);
}

//! The code of a stock key "1234", "130A.t" or "12345.q"; a key of any other form is a bad request.
//! Letters are taken in either case. Nothing when the form is right but the suffix names no market.
std::optional<std::string> CodeOfKey(std::string_view key)
{
    const std::size_t dot = key.find('.');
    std::string code(key.substr(0, dot));
    for (char& c : code)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (!IsStockCode(code))
        throw TBadRequest("malformed qt");
    if (dot == std::string_view::npos)
        return code;
    const std::string_view suffix = key.substr(dot);
    if (suffix.size() != 2 || suffix[1] < 'a' || suffix[1] > 'z')
        throw TBadRequest("malformed qt");
    for (const TMarketName& market : MarketNames)
        if (market.KeySuffix == suffix)
            return code;
    return std::nullopt;
}

TDate DateOf(const TQueryParams& params, const char* year, const char* month, const char* day)
{
    const std::string& y = One(params, year);
    const std::string& m = One(params, month);
    const std::string& d = One(params, day);
    if (y.size() != 4 || !IsDigits(y) || m.size() > 2 || !IsDigits(m) || d.size() > 2 || !IsDigits(d))
        throw TBadRequest("malformed date");
    const TDate date{std::stoi(y), std::stoi(m), std::stoi(d)};
    if (!IsValidDate(date.Year, date.Month, date.Day))
        throw TBadRequest("no such date");
    return date;
}

TReply BadRequest(const TBadRequest& error)
{
    return {400, BadRequestPage(error.what())};
}

//! The value of a key given at most once; nothing when it is missing.
const std::string* Optional(const TQueryParams& params, const char* name)
{
    return params.count(name) == 0 ? nullptr : &One(params, name);
}

TReply PlainText(int status, std::string line)
{
    return {status, std::move(line) + "\n", "text/plain; charset=utf-8"};
}

void AppendNumber(std::string& text, std::int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

std::string BarsCsv(const TPriceBars& bars, TDate from)
{
    std::string text = BarsHeader;
    text += '\n';
    text.reserve(text.size() + bars.size() * 48);
    for (const TPriceBar& bar : bars)
    {
        if (bar.Date < from)
            continue;
        text += DashedDate(bar.Date);
        for (const std::int64_t figure : {bar.Open, bar.High, bar.Low, bar.Close, bar.Volume})
        {
            text += ',';
            AppendNumber(text, figure);
        }
        text += '\n';
    }
    return text;
}

//! Hundredths of a yen as the source writes them: 51590 "515.9", 51500 "515", 29 "0.29".
void AppendYen(std::string& text, std::int64_t hundredths)
{
    std::string yen = FormatF(TDecimal{hundredths, 2}, 0, 2);
    while (yen.back() == '0')
        yen.pop_back();
    if (yen.back() == '.')
        yen.pop_back();
    text += yen;
}

//! The traded days as stored, from `from` on: prices with the source's decimals, volume as traded.
std::string RawBarsCsv(const TRawDays& days, TDate from)
{
    std::string text = BarsHeader;
    text += '\n';
    for (const TRawDay& day : days)
    {
        if (!day.Traded || day.Date < from)
            continue;
        text += DashedDate(day.Date);
        for (const std::int64_t price : {day.Open, day.High, day.Low, day.Close})
        {
            text += ',';
            AppendYen(text, price);
        }
        text += ',';
        AppendNumber(text, day.Volume);
        text += '\n';
    }
    return text;
}

} // namespace

TServedMarket::TServedMarket(std::shared_ptr<const TMarket> market) : Market_(std::move(market))
{
    // A code listed twice keeps the texts of its first stock, the one TMarket::Find gives.
    Texts_.reserve(Market_->Stocks().size());
    for (const TStock& stock : Market_->Stocks())
        Texts_.emplace(stock.Code, PageTextsOf(stock));
}

TReply QuoteReply(const TServedMarket& served, const TQueryParams& params, TDate today)
{
    const TMarket& market = served.Market();
    try
    {
        Expect(params, "sv", "MN");
        Expect(params, "pg", "mn_schart.html");
        const std::string& key = One(params, "qt");
        const std::optional<std::string> code = CodeOfKey(key);
        const TStock* stock = code ? market.Find(*code) : nullptr;
        if (!stock || !market.Serves(*stock))
            return {200, NotFoundPage(key)};
        const TPriceBars days = market.QuoteDays(*stock, today);
        return {200, QuotePage(served.PageTexts(*stock), key, QuoteFiguresOf(days), days)};
    }
    catch (const TBadRequest& error)
    {
        return BadRequest(error);
    }
}

TReply HistoryReply(const TServedMarket& served, const TQueryParams& params, TDate today)
{
    const TMarket& market = served.Market();
    try
    {
        Expect(params, "sv", "MN");
        const std::string& key = One(params, "qt");
        const TDate first = DateOf(params, "sy", "sm", "sd");
        const TDate last = DateOf(params, "ey", "em", "ed");
        const std::string& period = One(params, "k");
        if (period != "w" && period != "d")
            throw TBadRequest("k must be w or d");
        if (last < first)
            throw TBadRequest("the end date is before the start date");
        const std::optional<std::string> code = CodeOfKey(key);
        const TStock* stock = code ? market.Find(*code) : nullptr;
        if (!stock || !market.Serves(*stock))
            return {200, NotFoundPage(key)};
        const bool weekly = period == "w";
        std::vector<TDate> splits;
        for (const TDate& date : market.Splits(*stock))
            if (date >= first && date <= last)
                splits.push_back(date);
        return {200, HistoryPage(served.PageTexts(*stock), key, HistoryBars(market, *stock, weekly, first, last, today),
                                 weekly, first, last, splits)};
    }
    catch (const TBadRequest& error)
    {
        return BadRequest(error);
    }
}

TReply BarsReply(const TServedMarket& served, const TQueryParams& params, TDate today)
{
    const TMarket& market = served.Market();
    try
    {
        std::string code = One(params, "code");
        for (char& c : code)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (!IsStockCode(code))
            throw TBadRequest("malformed code");
        const std::string& period = One(params, "period");
        if (period != "daily" && period != "weekly" && period != "monthly")
            throw TBadRequest("period must be daily, weekly or monthly");
        TDate from{};
        if (const std::string* text = Optional(params, "from"))
        {
            const std::optional<TDate> date = text->size() == 10 && (*text)[4] == '-' ? ParseDate(*text) : std::nullopt;
            if (!date)
                throw TBadRequest("from must be a date yyyy-mm-dd");
            from = *date;
        }
        const std::string* rawText = Optional(params, "raw");
        if (rawText && *rawText != "1")
            throw TBadRequest("raw must be 1");
        const bool raw = rawText != nullptr;
        if (raw && period != "daily")
            throw TBadRequest("raw prices are daily only");
        // Raw prices need the source's own decimals, which only a market database keeps.
        if (raw && !market.HasRawDays())
            throw TBadRequest("raw prices are not kept by this market");
        const TStock* stock = market.Find(code);
        if (!stock || !market.Serves(*stock))
            return PlainText(404, "no such stock: " + code);
        if (raw)
            return {200, RawBarsCsv(market.RawDays(*stock), from), BarsType};
        // Weeks and months are made of all their days before `from` picks whole bars.
        const TPriceBars days = WholeHistory(market, *stock, today);
        const TPriceBars bars = period == "daily" ? days : period == "weekly" ? WeeklyBars(days) : MonthlyBars(days);
        return {200, BarsCsv(bars, from), BarsType};
    }
    catch (const TBadRequest& error)
    {
        return PlainText(400, error.what());
    }
}

std::string BadRequestPage(std::string_view reason)
{
    return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n<html><head>"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">"
           "<title>400 Bad Request</title></head>\n<body><h1>Bad Request</h1>\n<p>" +
           std::string(reason) + "</p>\n</body></html>\n";
}
