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

const std::array<TMarketName, 20>& MarketNames()
{
    static const std::array<TMarketName, 20> names{{
        {"\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8", ".t"}, // 東証１部
        {"\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x92\xe9\x83\xa8", ".t"}, // 東証２部
        {"\xe5\xa4\xa7\xe9\x98\xaa\xef\xbc\x91\xe9\x83\xa8", ".o"}, // 大阪１部
        {"\xe5\xa4\xa7\xe9\x98\xaa\xef\xbc\x92\xe9\x83\xa8", ".o"}, // 大阪２部
        {"JASDAQ", ".q"},
        {"\xe6\x9c\xad\xe8\xa8\xbc", ".s"},                                                 // 札証
        {"\xe7\xa6\x8f\xe8\xa8\xbc", ".f"},                                                 // 福証
        {"\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba", ".m"},                         // マザーズ
        {"\xe5\x90\x8d\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8", ".n"},                         // 名証１部
        {"\xe5\x90\x8d\xe8\xa8\xbc\xef\xbc\x92\xe9\x83\xa8", ".n"},                         // 名証２部
        {"\xe3\x83\x98\xe3\x83\xa9\xe3\x82\xaf\xe3\x83\xac\xe3\x82\xb9", ".h"},             // ヘラクレス
        {"\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0", ".t"},                         // プライム
        {"\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x83\x80\xe3\x83\xbc\xe3\x83\x89", ".t"}, // スタンダード
        {"\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9", ".t"},                         // グロース
        {"\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x97\xe3\x83\xac\xe3\x83\x9f\xe3\x82\xa2", ".n"}, // 名証プレミア
        {"\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\xa1\xe3\x82\xa4\xe3\x83\xb3", ".n"},             // 名証メイン
        {"\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x8d\xe3\x82\xaf\xe3\x82\xb9\xe3\x83\x88", ".n"}, // 名証ネクスト
        {"\xe6\x9c\xad\xe8\xa8\xbc\xe3\x82\xa2\xe3\x83\xb3\xe3\x83\x93\xe3\x82\xb7\xe3\x83\xa3\xe3\x82\xb9",
         ".s"},                                    // 札証アンビシャス
        {"\xe7\xa6\x8f\xe8\xa8\xbcQ-Board", ".f"}, // 福証Q-Board
        {"\xe6\x9d\xb1\xe8\xa8\xbc", ".t"},        // 東証
    }};
    return names;
}

const std::array<std::string_view, 34>& SectorNames()
{
    static const std::array<std::string_view, 34> names{
        "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad", // 水産･農林業
        "\xe9\x89\xb1\xe6\xa5\xad",                                                 // 鉱業
        "\xe5\xbb\xba\xe8\xa8\xad\xe6\xa5\xad",                                     // 建設業
        "\xe9\xa3\x9f\xe6\x96\x99\xe5\x93\x81",                                     // 食料品
        "\xe7\xb9\x8a\xe7\xb6\xad\xe8\xa3\xbd\xe5\x93\x81",                         // 繊維製品
        "\xe3\x83\x91\xe3\x83\xab\xe3\x83\x97\xe3\x83\xbb\xe7\xb4\x99",             // パルプ・紙
        "\xe5\x8c\x96\xe5\xad\xa6",                                                 // 化学
        "\xe5\x8c\xbb\xe8\x96\xac\xe5\x93\x81",                                     // 医薬品
        "\xe7\x9f\xb3\xe6\xb2\xb9\xe7\x9f\xb3\xe7\x82\xad\xe8\xa3\xbd\xe5\x93\x81", // 石油石炭製品
        "\xe3\x82\xb4\xe3\x83\xa0\xe8\xa3\xbd\xe5\x93\x81",                         // ゴム製品
        "\xef\xbd\xb6\xef\xbe\x9e\xef\xbe\x97\xef\xbd\xbd\xe5\x9c\x9f\xe7\x9f\xb3\xe8\xa3\xbd\xe5\x93\x81", // ｶﾞﾗｽ土石製品
        "\xe9\x89\x84\xe9\x8b\xbc",                                                                         // 鉄鋼
        "\xe9\x9d\x9e\xe9\x89\x84\xe9\x87\x91\xe5\xb1\x9e",                         // 非鉄金属
        "\xe9\x87\x91\xe5\xb1\x9e\xe8\xa3\xbd\xe5\x93\x81",                         // 金属製品
        "\xe6\xa9\x9f\xe6\xa2\xb0",                                                 // 機械
        "\xe9\x9b\xbb\xe6\xb0\x97\xe6\xa9\x9f\xe5\x99\xa8",                         // 電気機器
        "\xe8\xbc\xb8\xe9\x80\x81\xe7\x94\xa8\xe6\xa9\x9f\xe5\x99\xa8",             // 輸送用機器
        "\xe7\xb2\xbe\xe5\xaf\x86\xe6\xa9\x9f\xe5\x99\xa8",                         // 精密機器
        "\xe3\x81\x9d\xe3\x81\xae\xe4\xbb\x96\xe8\xa3\xbd\xe5\x93\x81",             // その他製品
        "\xe5\x8d\xb8\xe5\xa3\xb2\xe6\xa5\xad",                                     // 卸売業
        "\xe5\xb0\x8f\xe5\xa3\xb2\xe6\xa5\xad",                                     // 小売業
        "\xe9\x8a\x80\xe8\xa1\x8c\xe6\xa5\xad",                                     // 銀行業
        "\xe8\xa8\xbc\xe5\x88\xb8\xe5\x95\x86\xe5\x93\x81\xe5\x85\x88\xe7\x89\xa9", // 証券商品先物
        "\xe4\xbf\x9d\xe9\x99\xba\xe6\xa5\xad",                                     // 保険業
        "\xe3\x81\x9d\xe3\x81\xae\xe4\xbb\x96\xe9\x87\x91\xe8\x9e\x8d\xe6\xa5\xad", // その他金融業
        "\xe4\xb8\x8d\xe5\x8b\x95\xe7\x94\xa3\xe6\xa5\xad",                         // 不動産業
        "\xe9\x99\xb8\xe9\x81\x8b\xe6\xa5\xad",                                     // 陸運業
        "\xe6\xb5\xb7\xe9\x81\x8b\xe6\xa5\xad",                                     // 海運業
        "\xe7\xa9\xba\xe9\x81\x8b\xe6\xa5\xad",                                     // 空運業
        "\xe5\x80\x89\xe5\xba\xab\xe9\x81\x8b\xe8\xbc\xb8\xe9\x96\xa2\xe9\x80\xa3", // 倉庫運輸関連
        "\xe9\x80\x9a\xe4\xbf\xa1\xe6\xa5\xad",                                     // 通信業
        "\xe9\x9b\xbb\xe6\xb0\x97\xef\xbd\xa5\xe3\x82\xac\xe3\x82\xb9\xe6\xa5\xad", // 電気･ガス業
        "\xe3\x82\xb5\xe3\x83\xbc\xe3\x83\x93\xe3\x82\xb9\xe6\xa5\xad",             // サービス業
        "\xe6\x8a\x95\xe4\xbf\xa1",                                                 // 投信
    };
    return names;
}

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

std::string_view MarketSuffix(std::string_view market)
{
    for (const TMarketName& name : MarketNames())
        if (name.Name == market)
            return name.Suffix;
    return {};
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
        if (stock.Name.empty())
            Fail(lineNumber, "名称が空です");
        if (Utf8Characters(stock.Name) > MaxNameCharacters)
            Fail(lineNumber, "名称が " + std::to_string(MaxNameCharacters) + " 文字より長くなっています");
        // The pages carry the name as it is, unescaped: the scrapers read it byte for byte.
        if (stock.Name.find_first_of("<>&\"") != std::string::npos)
            Fail(lineNumber, "名称 \"" + stock.Name + "\" に < > & \" のどれかがあります (全角で書いてください)");
        // In KabuList.dat a Ctrl-Z ends the file for the program and a CR splits the line;
        // the byte is named, not echoed, so the message cannot steer a terminal either.
        const auto control = std::find_if(stock.Name.begin(), stock.Name.end(),
                                          [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
        if (control != stock.Name.end())
            Fail(lineNumber, "名称に制御文字 " + ByteName(*control) + " があります");
        try
        {
            if (!IsPlainEucJp(Utf8ToEucJp(stock.Name)))
                Fail(lineNumber, "名称 \"" + stock.Name + "\" に半角カナか、まれな文字があります");
            Utf8ToShiftJis(stock.Name);
        }
        catch (const TConvertError& error)
        {
            Fail(lineNumber, error.what());
        }
        if (MarketSuffix(stock.Market).empty())
            Fail(lineNumber, "市場 \"" + stock.Market + "\" は知らない市場です");
        const auto& sectors = SectorNames();
        if (std::find(sectors.begin(), sectors.end(), stock.Sector) == sectors.end())
            Fail(lineNumber, "業種 \"" + stock.Sector + "\" は知らない業種です");
        stocks.push_back(std::move(stock));
    }
    return stocks;
}

std::string StockMasterLine(const TStock& stock)
{
    return stock.Code + ',' + stock.Name + ',' + stock.Market + ',' + stock.Sector;
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
