#include "data/quote_page.h"

#include "common/exact_format.h"
#include "common/service_contract.h"
#include "data/cache_file.h"
#include "data/data_error.h"
#include "data/euc_to_sjis.h"
#include "data/numeric_text.h"
#include "data/page_scan.h"
#include "data/stock_code.h"

#include <algorithm>

namespace {

constexpr std::size_t WalkWindow = 3500;
constexpr std::size_t TitleStretch = 1000;
constexpr std::string_view TitleMarker = "pagetitle&nabi";
constexpr std::string_view FiguresMarker = "main contents";
constexpr std::string_view FooterMarker = "Start FooterWord";
// Both notices are searched as Shift_JIS, so only where the title-area conversion reached.
constexpr std::string_view NotFoundText = "\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1"
                                          "\x82\xc5\x82\xb5\x82\xbd"; // 見つかりませんでした
constexpr std::string_view NoTradeText =
    "\x8e\xe6\x88\xf8\x82\xcd\x90\xac\x97\xa7\x82\xb5"
    "\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1"; // 取引は成立していません
constexpr std::string_view UnitLabel = "\xc7\xe4\xc7\xe3\xc3\xb1\xb0\xcc"; // 売買単位, EUC-JP
constexpr std::int32_t MaxUnitShares = 100000;

// The walk over the page's tags: a position (1-based, 0 counts as the first byte) and
// lower-cased windows of at most 3,500 bytes from it. Whether a marker was found is not
// tested; a page laid out otherwise yields texts that fail to convert.
class TTagWalk
{
public:
    TTagWalk(std::string_view text, std::int64_t position) : Text(text), Position(position) {}

    std::string Window() const
    {
        return LowerAsciiShiftJis(ByteWindow(Text, Position, WalkWindow));
    }

    void SkipPast(std::string_view marker, int times = 1)
    {
        const auto length = static_cast<std::int64_t>(marker.size());
        for (int i = 0; i < times; ++i)
        {
            const std::int64_t offset = TLoweredWindow(ByteWindow(Text, Position, WalkWindow)).Find(marker);
            Move(offset > 0 ? offset + length - 1 : length - 1);
        }
    }

    std::string TakeUpTo(std::string_view marker)
    {
        TLoweredWindow window(ByteWindow(Text, Position, WalkWindow));
        const std::int64_t offset = window.Find(marker);
        Move(offset - 1);
        return offset > 0 ? window.Prefix(static_cast<std::size_t>(offset - 1)) : std::string();
    }

    bool At(std::string_view lowered) const
    {
        return LowerAsciiShiftJis(ByteWindow(Text, Position, lowered.size())) == lowered;
    }

    // Takes "first word, one blank, the five bytes after that blank" of the trimmed window
    // and moves by the word's length.
    std::string TakeTime()
    {
        const std::string window = Window();
        const std::string_view trimmed = TrimControls(window);
        const std::int64_t blank = FindOffset(trimmed, " ");
        const std::int64_t word = blank - 1;
        std::string time(
            trimmed.substr(0, static_cast<std::size_t>(std::max<std::int64_t>(word, 0))));
        time += ' ';
        time += trimmed.substr(static_cast<std::size_t>(blank), 5);
        Move(word);
        return time;
    }

    // Four characters, and a fifth when it is a digit: the class digit of a preferred share
    // ("25935"), which the first four alone would read as the ordinary share.
    std::string TakeCode() const
    {
        const std::string window = Window();
        const std::string_view trimmed = TrimControls(window);
        const bool classDigit = trimmed.size() > 4 && trimmed[4] >= '0' && trimmed[4] <= '9';
        return std::string(trimmed.substr(0, classDigit ? 5 : 4));
    }

private:
    void Move(std::int64_t by) { Position = std::max<std::int64_t>(Position + by, 0); }

    std::string_view Text;
    std::int64_t Position;
};

struct TQuoteTexts
{
    std::string Code, Name, Price, Time, Change, Rate, Open, High, Low, Volume;
};

TQuoteTexts WalkQuotePage(std::string_view text)
{
    TQuoteTexts texts;
    TTagWalk title(text, FindOffset(text, TitleMarker));
    title.SkipPast("<tr", 2);
    title.SkipPast("<td");
    title.SkipPast(">", 3);
    texts.Name = title.TakeUpTo("<");
    title.SkipPast(">", 4);
    texts.Code = title.TakeCode();

    TTagWalk figures(text, FindOffset(text, FiguresMarker));
    figures.SkipPast("<tr", 2);
    figures.SkipPast("<td");
    figures.SkipPast("<tr", 2);
    figures.SkipPast("<b>");
    texts.Price = figures.TakeUpTo("</b>");
    if (texts.Price != "-")
    {
        figures.SkipPast("(");
        figures.SkipPast(">");
        texts.Time = figures.TakeTime();
    }
    for (std::string* cell : {&texts.Change, &texts.Rate})
    {
        figures.SkipPast("<td>");
        if (figures.At("<font"))
            figures.SkipPast(">");
        *cell = figures.TakeUpTo("</");
    }
    for (std::string* cell : {&texts.Open, &texts.High, &texts.Low, &texts.Volume})
    {
        figures.SkipPast("<td>");
        *cell = figures.TakeUpTo("</td>");
    }
    return texts;
}

std::int64_t WholeFixed(std::string_view text)
{
    return StrToInt32(ExtractNumeric(text)) * FixedPointOne;
}

// A heavily traded stock passes 2^31 shares; the fixed-point volume still has to fit 64 bits.
std::int64_t VolumeFixed(std::string_view text)
{
    const std::int64_t shares = StrToInt64(ExtractNumeric(text));
    if (shares > INT64_MAX / FixedPointOne || shares < INT64_MIN / FixedPointOne)
        throw TDataError("出来高が扱える範囲を超えています: " + std::string(text));
    return shares * FixedPointOne;
}

// Shares per trading unit as the page states them: the first cell after the first "売買単位",
// its text from the next ">" to the next "<". A page that states none, or a number that is no
// unit (0, negative, more than 100,000, not a whole number), counts one share as before.
std::int32_t UnitShares(std::string_view page)
{
    const std::size_t label = page.find(UnitLabel);
    if (label == std::string_view::npos)
        return 1;
    const std::string_view after = page.substr(label + UnitLabel.size());
    const std::string lowered = LowerAscii(after);
    const std::size_t cell = lowered.find("<td");
    if (cell == std::string::npos)
        return 1;
    const std::size_t open = lowered.find('>', cell);
    if (open == std::string::npos)
        return 1;
    const std::size_t close = lowered.find('<', open + 1);
    if (close == std::string::npos)
        return 1;
    std::int32_t shares = 0;
    try
    {
        shares = StrToInt32(ExtractNumeric(after.substr(open + 1, close - open - 1)));
    }
    catch (const TDataError&)
    {
        return 1;
    }
    return shares >= 1 && shares <= MaxUnitShares ? shares : 1;
}

} // namespace

std::string QuoteCacheFile(std::string_view kabuKey)
{
    return "dat/k" + std::string(kabuKey) + ".00";
}

std::string QuoteUrl(std::string_view serviceAddress, std::string_view kabuKey)
{
    return std::string(serviceAddress) + QuoteRoute + "?qt=" + TrimmedKey(kabuKey) + "&sv=MN&pg=mn_schart.html";
}

TQuoteRead ReadQuotePage(std::string_view fileBytes, std::string_view kabuKey,
                         const TProcessEvents& processEvents)
{
    TQuoteRead read;
    read.PageBytes = fileBytes.size();
    if (fileBytes.empty())
    {
        read.Miss = TQuoteMiss::EmptyPage;
        return read;
    }
    if (fileBytes.size() < MinQuotePageSize || fileBytes.size() > MaxQuotePageSize)
    {
        read.Miss = TQuoteMiss::PageSize;
        return read;
    }
    std::string text(fileBytes.substr(0, fileBytes.find('\0')));
    // Read before the title area is converted to Shift_JIS: the label is EUC-JP.
    const std::int32_t unitShares = UnitShares(text);

    // The name's stretch from the byte two after the marker's first (the second byte without one).
    const std::int64_t titleAt = FindOffset(text, TitleMarker);
    EucToSjisText(text, static_cast<std::size_t>(titleAt) + 1, TitleStretch, processEvents);

    if (text.find(FooterMarker) == std::string::npos)
        read.Miss = TQuoteMiss::NoFooter;
    else if (text.find(NotFoundText) != std::string::npos)
        read.Miss = TQuoteMiss::NotFound;
    else if (text.find(NoTradeText) != std::string::npos)
        read.Miss = TQuoteMiss::NoTrade;
    if (read.Miss != TQuoteMiss::None)
    {
        if (processEvents)
            processEvents();
        return read;
    }

    // The list's rows take their code from the page, and a double-click opens that code: a
    // page naming another stock (or "<b>x", or "/../", or the ordinary share of a preferred
    // one) must not be read as the one asked for. The walk lowers the letters of a code of
    // today's form ("130a"); the code is the exchange's, in upper case.
    const TQuoteTexts texts = WalkQuotePage(text);
    if (!SameCode(texts.Code, KeyCode(kabuKey)))
    {
        if (processEvents)
            processEvents();
        read.Miss = TQuoteMiss::OtherStock;
        return read;
    }
    TKabuQuote quote;
    quote.KabuNo = UpperCaseCode(texts.Code);
    quote.KabuName = texts.Name;
    quote.KabuKa = WholeFixed(texts.Price);
    quote.Zenjitsuhi = WholeFixed(texts.Change);
    quote.ZenjitsuhiRate = StrToFixedPoint(ExtractNumeric(texts.Rate));
    quote.OpenPrice = WholeFixed(texts.Open);
    quote.HighPrice = WholeFixed(texts.High);
    quote.LowPrice = WholeFixed(texts.Low);
    quote.Dekidaka = VolumeFixed(texts.Volume);
    quote.Tani = unitShares * FixedPointOne;
    quote.KabuTime = texts.Time;
    read.Quote = quote;
    return read;
}

std::optional<TKabuQuote> ParseQuotePage(std::string_view fileBytes, std::string_view kabuKey,
                                         const TProcessEvents& processEvents)
{
    return ReadQuotePage(fileBytes, kabuKey, processEvents).Quote;
}

TKabuBoardTexts KabuBoardTexts(const TKabuQuote& quote)
{
    const auto whole = [](std::int64_t fixed, int width) {
        return FormatN(TDecimal{fixed, 4}, width, 0);
    };
    TKabuBoardTexts board;
    board.LabelKabuNo = FormatS(quote.KabuNo, 4) + " " + quote.KabuName;
    board.LabelKabuKa = whole(quote.KabuKa, 7);
    board.Label1 =
        whole(quote.Zenjitsuhi, 4) + "(" + FormatF(TDecimal{quote.ZenjitsuhiRate, 4}, 3, 2) + "%)";
    board.Label2 = whole(quote.OpenPrice, 7);
    board.Label3 = whole(quote.HighPrice, 7);
    board.Label4 = whole(quote.LowPrice, 7);
    board.Label5 = whole(quote.Dekidaka, 10);
    board.LabelTani = whole(quote.Tani, 10);
    board.LabelTime = quote.KabuTime;
    return board;
}
