#include "screener/screening.h"

#include "common/exact_format.h"
#include "common/market_names.h"
#include "data/data_error.h"
#include "data/numeric_text.h"
#include "data/stock_code.h"

namespace {

const std::string Yen = "\xe5\x86\x86";                     // 円
const std::string Shares = "\xe6\xa0\xaa";                  // 株
const std::string WideBlank = "\xe3\x80\x80";               // full-width blank
const std::string Rising = "\xe4\xb8\x8a\xe6\x98\x87";      // 上昇
const std::string Divergence = "\xe4\xb9\x96\xe9\x9b\xa2";  // 乖離
const std::string Excellent = "\xe2\x97\x8e";               // ◎
const std::string Good = "\xe2\x97\x8b";                    // ○
const std::string Fair = "\xe2\x96\xb3";                    // △
const std::string Poor = "\xef\xbc\x8d";                    // －
const std::string Stopped = "\xc3\x97";                     // ×
const std::string StillHeld = "\xe7\xb6\x99\xe7\xb6\x9a\xe4\xbf\x9d\xe6\x9c\x89"; // 継続保有

// Whole yen in 32 bits: an amount beyond that is a figure the program cannot show.
std::int32_t Checked32(std::int64_t value)
{
    if (value < INT32_MIN || value > INT32_MAX)
        throw TDataError("金額が 32 ビットを超えています: " + std::to_string(value));
    return static_cast<std::int32_t>(value);
}

std::string Percent(std::int32_t rate)
{
    return FormatD(rate, 3, 0) + "%";
}

// The rise rate in whole percent, truncated. Without a purchase (a row listed by the RSI
// condition alone) there is no rate to give: 0 rather than a division by zero.
std::int32_t RiseRate(std::int32_t price, std::int32_t buyPrice)
{
    if (buyPrice == 0)
        return 0;
    return Checked32(static_cast<std::int64_t>(price) * 100 / buyPrice);
}

} // namespace

std::int32_t ParseCodeText(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    return StrToInt32(text.substr(i));
}

TEntryCode EntryCode(std::string_view codeText)
{
    std::size_t i = 0;
    while (i < codeText.size() && codeText[i] == ' ')
        ++i;
    if (IsLetterCode(codeText.substr(i)))
        return {UpperCaseCode(codeText.substr(i)), 0};
    const std::int32_t number = ParseCodeText(codeText);
    if (!IsScreenableCode(number))
        return {std::string(), number};
    return {FormatD(number, 0, number == 67585 ? 5 : 4), number};
}

std::vector<std::string> ScreeningKeys(const std::vector<TKabuListEntry>& entries)
{
    std::vector<std::string> keys;
    for (const TKabuListEntry& entry : entries)
    {
        TEntryCode code;
        try
        {
            code = EntryCode(entry.CodeText);
        }
        catch (const TDataError&)
        {
            break; // the run ends here with the data-error message
        }
        if (code.Code.empty())
            break;
        keys.push_back(ScreeningKey(code.Code, entry.Suffix));
    }
    return keys;
}

bool IsScreenableCode(std::int32_t code)
{
    return (code >= 1000 && code <= 9999) || code == 67585;
}

std::string ScreeningKey(std::string_view code, std::string_view suffix)
{
    return std::string(code) + std::string(OpenedSuffixOf(suffix));
}

std::string ProgressText(int index, int count)
{
    const std::int64_t percent = RoundRatio(static_cast<std::int64_t>(index) * 100, count, 0);
    return FormatD(percent, 3, 0) + "% [" + FormatD(index, 4, 0) + "/" + FormatD(count, 4, 0) + "]";
}

std::int32_t BoardNumber(std::string_view text)
{
    return StrToInt32(ExtractNumeric(text));
}

TResultRow BuildResultRow(const TRowInputs& in)
{
    const TBuySignalResult& test = in.BackTest;
    const std::int32_t unitShares = BoardNumber(in.Board.Tani);

    TResultRow row;
    row[0] = in.Board.KabuNo;
    row[1] = in.MarketName;
    row[2] = in.Board.KabuKa + Yen;
    row[3] = in.Board.Change;
    row[4] = in.Board.Open;
    row[5] = in.Board.High;
    row[6] = in.Board.Low;
    row[7] = in.Board.Volume;
    row[8] = FormatD(unitShares, 3, 0) + Shares;
    // Column 17 is the profit of one share, as its caption says: the unit stays out of it.
    if (in.HitLevel == THitLevel::Rsi)
        row[9] = "RSI";
    else if (in.SignalResult != 0 && test.SignalKind == 1)
        row[9] = Rising;
    else if (in.SignalResult != 0 && test.SignalKind == 2)
        row[9] = Divergence;
    else
        row[9] = WideBlank + WideBlank;
    row[10] = FormatD(test.BuyPrice, 7, 0) + Yen;
    row[11] = test.BuyDate;

    if (test.HighWatch == 0 && test.LowWatch != 0)
    {
        const std::int32_t rate = RiseRate(test.HighAfterBuy, test.BuyPrice);
        row[12] = FormatD(test.HighAfterBuy, 7, 0) + Yen;
        row[13] = test.SellDate;
        row[14] = Percent(rate);
        row[15] = rate >= 110 ? Excellent : rate >= 108 ? Good : rate >= 105 ? Fair : Poor;
        row[16] = FormatD(Checked32(static_cast<std::int64_t>(test.HighAfterBuy) - test.BuyPrice), 6, 0) + Yen;
    }
    else if (test.HighWatch != 0 && test.LowWatch == 0)
    {
        row[12] = FormatD(test.LowAfterBuy, 7, 0) + Yen;
        row[13] = test.SellDate;
        row[14] = Percent(RiseRate(test.LowAfterBuy, test.BuyPrice));
        row[15] = Stopped;
        row[16] = FormatD(Checked32(static_cast<std::int64_t>(test.LowAfterBuy) - test.BuyPrice), 6, 0) + Yen;
    }
    else
    {
        row[14] = Percent(RiseRate(BoardNumber(in.Board.KabuKa), test.BuyPrice));
        row[15] = WideBlank;
        row[16] = StillHeld;
    }
    row[17] = FormatF(test.RatioBefore2, 4, 3);
    row[18] = FormatF(test.RatioBefore1, 4, 3);
    row[19] = FormatF(test.RatioAtSignal, 4, 3);
    row[20] = FormatF(test.SignalKindReal, 4, 3);
    return row;
}
