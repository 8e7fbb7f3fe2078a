#include "market/stock_master.h"

#include "market/text_convert.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <set>

namespace {

[[noreturn]] void Fail(int lineNumber, const std::string& message)
{
    throw TMasterError(std::to_string(lineNumber) + " 行目: " + message);
}

std::string ByteName(char c)
{
    char name[8];
    std::snprintf(name, sizeof name, "0x%02X", static_cast<unsigned char>(c));
    return name;
}

} // namespace

bool IsStockCode(std::string_view code)
{
    static constexpr std::string_view Letters = "ACDFGHJKLMNPRSTUWXY";
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto digitOrLetter = [&](char c) { return digit(c) || Letters.find(c) != std::string_view::npos; };
    if (code.size() != 4 && code.size() != 5)
        return false;
    return digit(code[0]) && digitOrLetter(code[1]) && digit(code[2]) && digitOrLetter(code[3]) &&
           (code.size() == 4 || digit(code[4]));
}

std::size_t Utf8Characters(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

std::optional<std::string> StockProblem(const TStock& stock)
{
    if (stock.Name.empty())
        return "名称が空です";
    if (Utf8Characters(stock.Name) > MaxNameCharacters)
        return "名称が " + std::to_string(MaxNameCharacters) + " 文字より長くなっています";
    // The pages carry the name as it is, unescaped: the scrapers read it byte for byte.
    if (stock.Name.find_first_of("<>&\"") != std::string::npos)
        return "名称 \"" + stock.Name + "\" に < > & \" のどれかがあります (全角で書いてください)";
    // In KabuList.dat a Ctrl-Z ends the file for the program and a CR splits the line;
    // the byte is named, not echoed, so the message cannot steer a terminal either.
    const auto control = std::find_if(stock.Name.begin(), stock.Name.end(),
                                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    if (control != stock.Name.end())
        return "名称に制御文字 " + ByteName(*control) + " があります";
    try
    {
        if (!IsPlainEucJp(Utf8ToEucJp(stock.Name)))
            return "名称 \"" + stock.Name + "\" に半角カナか、まれな文字があります";
        Utf8ToShiftJis(stock.Name);
    }
    catch (const TConvertError& error)
    {
        return error.what();
    }
    if (MarketOfMasterName(stock.Market) == nullptr)
        return "市場 \"" + stock.Market + "\" は知らない市場です";
    if (std::none_of(SectorNames.begin(), SectorNames.end(),
                     [&](const TSectorName& sector) { return sector.Name == stock.Sector; }))
        return "業種 \"" + stock.Sector + "\" は知らない業種です";
    return std::nullopt;
}

std::vector<TStock> ParseStockMaster(std::string_view text)
{
    std::vector<TStock> stocks;
    std::set<std::string> codes;
    int lineNumber = 0;
    for (std::string_view line : TextLines(text))
    {
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;

        // code,name,market,sector; the sector is the rest of the line, as in the stock list.
        std::string_view fields[4];
        for (int i = 0; i < 3; ++i)
        {
            const std::size_t comma = line.find(',');
            if (comma == std::string_view::npos)
                Fail(lineNumber, "コード,名称,市場,業種 の形ではありません");
            fields[i] = line.substr(0, comma);
            line.remove_prefix(comma + 1);
        }
        fields[3] = line;

        TStock stock{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]), std::string(fields[3])};
        if (!IsStockCode(stock.Code))
            Fail(lineNumber,
                 "コード \"" + stock.Code + "\" は銘柄コードではありません (4 文字、または種類の数字を付けた 5 文字)");
        if (!codes.insert(stock.Code).second)
            Fail(lineNumber, "コード " + stock.Code + " が二度出てきます");
        if (const std::optional<std::string> problem = StockProblem(stock))
            Fail(lineNumber, *problem);
        stocks.push_back(std::move(stock));
    }
    return stocks;
}

std::string StockMasterLine(const TStock& stock)
{
    return stock.Code + ',' + stock.Name + ',' + stock.Market + ',' + stock.Sector;
}

std::vector<TStock> SortedByCode(std::vector<TStock> stocks)
{
    std::stable_sort(stocks.begin(), stocks.end(), [](const TStock& a, const TStock& b) { return a.Code < b.Code; });
    return stocks;
}

bool InKabuList(const TStock& stock)
{
    return stock.Code.size() == 4 || stock.Code == "67585";
}

std::string KabuListBytes(const std::vector<TStock>& stocks, std::string_view origin)
{
    std::string bytes = "; KabuList.dat: " + Utf8ToShiftJis(origin) +
                        "\r\n"
                        "; code,name,market,sector (Shift_JIS, made from the stock master of orvanta-service)\r\n";
    for (const TStock& stock : stocks)
        if (InKabuList(stock))
            bytes += Utf8ToShiftJis(StockMasterLine(stock)) + "\r\n";
    return bytes;
}

std::string ReadDataFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path.string() + " を読めません");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
