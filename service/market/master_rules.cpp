#include "market/master_rules.h"

#include "market/data_version.h"
#include "common/temp_file.h"
#include "market/raw_days.h"
#include "market/text_convert.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

constexpr std::string_view Prime = MarketNameOf(TMarketId::Prime).MasterName;
constexpr std::string_view Standard = MarketNameOf(TMarketId::Standard).MasterName;
constexpr std::string_view Growth = MarketNameOf(TMarketId::Growth).MasterName;
constexpr std::string_view Tokyo = MarketNameOf(TMarketId::Tokyo).MasterName;
constexpr std::string_view TokyoFirst = MarketNameOf(TMarketId::TokyoFirst).MasterName;
constexpr std::string_view TokyoSecond = MarketNameOf(TMarketId::TokyoSecond).MasterName;
constexpr std::string_view Mothers = MarketNameOf(TMarketId::Mothers).MasterName;
constexpr std::string_view Jasdaq = MarketNameOf(TMarketId::Jasdaq).MasterName;
constexpr std::string_view Funds = SectorNames.back().Name; // 投信, code 9999: funds and the like
constexpr std::string_view Geta = "\xe3\x80\x93";           // 〓

enum class TKind
{
    Market,    // a segment: the market name given
    Fund,      // ETFs, REITs and the like: 東証, sector 投信
    ProMarket, // skipped and counted apart
    Skipped,
};

struct TMarketOf
{
    TKind Kind = TKind::Skipped;
    std::string_view Name;
};

TMarketOf MarketOfApi(std::string_view mkt)
{
    static const std::pair<std::string_view, std::string_view> segments[] = {
        {"0111", Prime},      {"0112", Standard},    {"0113", Growth}, {"0101", TokyoFirst},
        {"0102", TokyoSecond}, {"0104", Mothers},    {"0106", Jasdaq}, {"0107", Jasdaq},
    };
    if (mkt == "0105")
        return {TKind::ProMarket, {}};
    for (const auto& [code, name] : segments)
        if (code == mkt)
            return {TKind::Market, name};
    return {};
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

TMarketOf MarketOfListing(std::string_view text)
{
    // Today's texts name the segment and then （内国株式） or （外国株式）; before 2022 the
    // market and then （内国株） or a half-width bracket, as "JASDAQ(スタンダード・内国株）".
    static const std::pair<std::string_view, std::string_view> segments[] = {
        {Prime, Prime},
        {Standard, Standard},
        {Growth, Growth},
        {"\xe5\xb8\x82\xe5\xa0\xb4\xe7\xac\xac\xe4\xb8\x80\xe9\x83\xa8", TokyoFirst},  // 市場第一部
        {"\xe5\xb8\x82\xe5\xa0\xb4\xe7\xac\xac\xe4\xba\x8c\xe9\x83\xa8", TokyoSecond}, // 市場第二部
        {Mothers, Mothers},
        {Jasdaq, Jasdaq},
    };
    text = Trimmed(text);
    if (text.find("PRO Market") != std::string_view::npos || text.find("PRO MARKET") != std::string_view::npos)
        return {TKind::ProMarket, {}};
    if (StartsWith(text, "ETF") || StartsWith(text, "REIT"))
        return {TKind::Fund, {}};
    for (const auto& [prefix, name] : segments)
        if (StartsWith(text, prefix))
            return {TKind::Market, name};
    return {}; // 出資証券 and whatever else is not a market the list knows
}

std::optional<TStock> Entry(std::string_view sourceCode, std::string_view name, TMarketOf market,
                            std::string_view s33, TMasterCounts& counts)
{
    if (market.Kind == TKind::ProMarket) {
        ++counts.ProMarket;
        return std::nullopt;
    }
    const std::optional<std::string> code = MasterCodeOf(sourceCode);
    std::string_view sector = SectorOfS33(s33);
    // Funds and the like go under 東証 whatever segment code they carry.
    if (market.Kind == TKind::Fund || sector == Funds) {
        market = {TKind::Market, Tokyo};
        sector = Funds;
    }
    if (!code || market.Kind != TKind::Market || sector.empty()) {
        ++counts.Skipped;
        return std::nullopt;
    }
    ++counts.Served;
    TStock stock{*code, CleanName(name, *code), std::string(market.Name), std::string(sector)};
    if (!InKabuList(stock))
        ++counts.NotListed;
    return stock;
}

// --- Names -------------------------------------------------------------------------------

//! The next code point of UTF-8 text, or nothing (one byte consumed) for a malformed sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t value = 0;
    if (byte < 0x80) {
        ++at;
        return byte;
    }
    if (byte >= 0xc2 && byte <= 0xdf) {
        length = 2;
        value = byte & 0x1f;
    } else if (byte >= 0xe0 && byte <= 0xef) {
        length = 3;
        value = byte & 0x0f;
    } else if (byte >= 0xf0 && byte <= 0xf4) {
        length = 4;
        value = byte & 0x07;
    }
    if (length == 0 || at + length > text.size()) {
        ++at;
        return std::nullopt;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xc0) != 0x80) {
            ++at;
            return std::nullopt;
        }
        value = (value << 6) | (next & 0x3f);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
        ++at;
        return std::nullopt;
    }
    at += length;
    return value;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// Half-width katakana U+FF61 to U+FF9F and their full-width forms.
constexpr char16_t FullWidthKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3,
    0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF,
    0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8,
    0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF,
    0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF,
    0x30F3, 0x309B, 0x309C,
};

//! The full-width kana with a voiced (゛) or semi-voiced (゜) mark, or 0 when it takes none.
char32_t Voiced(char32_t kana, bool semi)
{
    if (kana == 0x30A6 && !semi)
        return 0x30F4; // ヴ
    const bool hRow = kana == 0x30CF || kana == 0x30D2 || kana == 0x30D5 || kana == 0x30D8 || kana == 0x30DB;
    if (semi)
        return hRow ? kana + 2 : 0;
    const bool kstRow = (kana >= 0x30AB && kana <= 0x30C1 && (kana - 0x30AB) % 2 == 0)
                        || kana == 0x30C4 || kana == 0x30C6 || kana == 0x30C8;
    return hRow || kstRow ? kana + 1 : 0;
}

// Characters outside what both encodings carry, and the JIS X 0208 forms people write instead.
const std::map<char32_t, std::u32string>& KnownForms()
{
    static const std::map<char32_t, std::u32string> forms{
        {0x9AD9, U"\u9AD8"}, // 髙 高
        {0xFA11, U"\u5D0E"}, // 﨑 崎
        {0x5FB7, U"\u5FB3"}, // 德 徳
        {0x6FF5, U"\u6D5C"}, // 濵 浜
        {0x6901, U"\u67F3"}, // 栁 柳
        {0x69D7, U"\u6A4B"}, // 槗 橋
        {0x51DE, U"\u7199"}, // 凞 熙
        {0x7028, U"\u702C"}, // 瀨 瀬
        {0x20BB7, U"\u5409"}, // 𠮷 吉
        {0xFA14, U"\u6B05"}, // 﨔 欅
        {0xFA10, U"\u585A"}, // 塚
        {0xF9DC, U"\u9686"}, // 隆
        {0xFA12, U"\u6674"}, // 晴
        {0xFA16, U"\u732A"}, // 猪
        {0xFA17, U"\u76CA"}, // 益
        {0xFA18, U"\u793C"}, // 礼
        {0xFA19, U"\u795E"}, // 神
        {0xFA1A, U"\u7965"}, // 祥
        {0xFA1B, U"\u798F"}, // 福
        {0xFA1C, U"\u9756"}, // 靖
        {0xFA1E, U"\u7FBD"}, // 羽
        {0xFA22, U"\u8AF8"}, // 諸
        {0xFA26, U"\u90FD"}, // 都
        {0xFA2C, U"\u9928"}, // 館
        {0xFA67, U"\u9038"}, // 逸
        {0x9DD7, U"\u9DD6"}, // 鷗 鴎
        {0x5861, U"\u586B"}, // 塡 填
        {0x525D, U"\u5265"}, // 剝 剥
        {0x7E6B, U"\u7E4B"}, // 繫 繋
        {0xFF5E, U"\u301C"}, // full-width tilde: the wave dash
        {0xFF0D, U"\u2212"}, // full-width hyphen-minus: the minus sign
        {0x2225, U"\u2016"}, // parallel
        {0x2014, U"\u2015"}, // em dash: the horizontal bar
        {0xFFE0, U"\u00A2"}, // cent
        {0xFFE1, U"\u00A3"}, // pound
        {0xFFE2, U"\u00AC"}, // not
        {0x00A5, U"\uFFE5"}, // yen
        {0x3231, U"\uFF08\u682A\uFF09"}, // ㈱ （株）
        {0x3232, U"\uFF08\u6709\uFF09"}, // ㈲ （有）
        {0x2116, U"No."},    // №
    };
    return forms;
}

//! True when the pages (EUC-JP, JIS X 0208) and the list (CP932) both carry the text.
bool Carried(std::string_view utf8)
{
    try {
        if (!IsPlainEucJp(Utf8ToEucJp(utf8)))
            return false;
        Utf8ToShiftJis(utf8);
        return true;
    } catch (const TConvertError&) {
        return false;
    }
}

} // namespace

std::optional<std::string> MasterCodeOf(std::string_view sourceCode)
{
    std::string code(Trimmed(sourceCode));
    for (char& c : code)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (code.size() == 5 && code.back() == '0')
        code.pop_back();
    if (!IsStockCode(code))
        return std::nullopt;
    return code;
}

std::string_view SectorOfS33(std::string_view s33)
{
    s33 = Trimmed(s33);
    if (s33.empty() || s33.size() > 4 || !std::all_of(s33.begin(), s33.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    const std::string padded = std::string(4 - s33.size(), '0') + std::string(s33);
    for (const TSectorName& sector : SectorNames)
        if (sector.S33Code == padded)
            return sector.Name;
    return {};
}

std::optional<TStock> MasterEntryFromApi(const TApiMasterRecord& record, TMasterCounts& counts)
{
    return Entry(record.Code, record.CoName, MarketOfApi(Trimmed(record.Mkt)), record.S33, counts);
}

std::optional<TStock> MasterEntryFromListing(const TListingRow& row, TMasterCounts& counts)
{
    // Funds and the like carry "-" as their sector: their market text classifies them.
    return Entry(row.Code, row.Name, MarketOfListing(row.MarketText), row.S33Code, counts);
}

std::string CleanName(std::string_view name, std::string_view code)
{
    // First the forms that never pass: controls, the characters the pages and the list would
    // misread, half-width kana (EUC-JP writes them with a prefix the program misreads).
    std::u32string text;
    std::size_t at = 0;
    while (at < name.size()) {
        const std::optional<char32_t> next = NextCodePoint(name, at);
        if (!next) {
            text += U'\u3013';
            continue;
        }
        char32_t c = *next;
        if (c < 0x20 || (c >= 0x7f && c <= 0xa0))
            c = U' ';
        switch (c) {
        case U'<': c = U'\uFF1C'; break;
        case U'>': c = U'\uFF1E'; break;
        case U'&': c = U'\uFF06'; break;
        case U'"': c = U'\u201D'; break; // JIS X 0208 has no full-width quotation mark
        case U',': c = U'\uFF0C'; break;
        default: break;
        }
        if (c >= 0xFF61 && c <= 0xFF9F) {
            c = FullWidthKana[c - 0xFF61];
            const bool mark = (c == 0x309B || c == 0x309C) && !text.empty();
            const char32_t combined = mark ? Voiced(text.back(), c == 0x309C) : 0;
            if (combined != 0) {
                text.back() = combined;
                continue;
            }
        }
        const auto known = KnownForms().find(c);
        if (known != KnownForms().end())
            text += known->second;
        else
            text += c;
    }

    if (text.size() > MaxNameCharacters)
        text.resize(MaxNameCharacters);
    std::string out;
    for (const char32_t c : text)
        AppendUtf8(out, c);
    // Nearly every name passes whole; only the others are looked at a character at a time.
    if (!Carried(out)) {
        out.clear();
        for (const char32_t c : text) {
            std::string one;
            AppendUtf8(one, c);
            out += c < 0x80 || Carried(one) ? one : std::string(Geta);
        }
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string(code);
    out.erase(0, first);
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

TMasterChanges CompareMasters(const std::vector<TStock>& oldStocks, const std::vector<TStock>& newStocks)
{
    std::map<std::string_view, const TStock*> before;
    for (const TStock& stock : oldStocks)
        before[stock.Code] = &stock;
    TMasterChanges changes;
    for (const TStock& stock : newStocks) {
        const auto old = before.find(stock.Code);
        if (old == before.end()) {
            ++changes.Added;
            continue;
        }
        const TStock& was = *old->second;
        if (was.Name == stock.Name && was.Market == stock.Market && was.Sector == stock.Sector)
            ++changes.Unchanged;
        else
            ++changes.Changed;
        before.erase(old);
    }
    changes.Dropped = static_cast<int>(before.size());
    return changes;
}

void WriteRealMaster(const std::filesystem::path& dataFolder, const std::vector<TStock>& sourceStocks,
                     std::string_view source)
{
    const std::vector<TStock> stocks = SortedByCode(sourceStocks);
    // The source goes into file headers that must stay one line of plain ASCII.
    std::string origin;
    for (const char c : source)
        origin += c >= 0x20 && c < 0x7f ? c : '?';
    std::string master = "# Stock master of real data (" + origin + "), written by orvanta-service (UTF-8).\n"
                         "# code,name,market,sector; KabuList.dat is made from it.\n";
    for (const TStock& stock : stocks)
        master += StockMasterLine(stock) + '\n';
    // Checked as it will be read back before anything is written.
    ParseStockMaster(master);
    const std::string list = KabuListBytes(stocks, "the stock list of real data (" + origin + ")");

    std::filesystem::create_directories(dataFolder);
    WriteFileReplacing(dataFolder / "stocks.csv", master);
    WriteFileReplacing(dataFolder / "KabuList.dat", list);
    WriteFileReplacing(dataFolder / RealDataFileName, origin + '\n');
    BumpDataVersion(dataFolder);
}
