#include "market/data_version.h"
#include "market/master_rules.h"
#include "market/raw_days.h"
#include "service_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// UTF-8 texts of the master.
const std::string Prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0";      // プライム
const std::string Growth = "\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9";     // グロース
const std::string Tokyo = "\xe6\x9d\xb1\xe8\xa8\xbc";                              // 東証
const std::string TokyoFirst = "\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8"; // 東証１部
const std::string Jasdaq = "JASDAQ";
const std::string Fisheries = "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産･農林業
const std::string Glass =
    "\xef\xbd\xb6\xef\xbe\x9e\xef\xbe\x97\xef\xbd\xbd\xe5\x9c\x9f\xe7\x9f\xb3\xe8\xa3\xbd\xe5\x93\x81"; // ｶﾞﾗｽ土石製品
const std::string Telecom = "\xe9\x80\x9a\xe4\xbf\xa1\xe6\xa5\xad";                                     // 通信業
const std::string Securities =
    "\xe8\xa8\xbc\xe5\x88\xb8\xe5\x95\x86\xe5\x93\x81\xe5\x85\x88\xe7\x89\xa9";              // 証券商品先物
const std::string Funds = "\xe6\x8a\x95\xe4\xbf\xa1";                                        // 投信
const std::string Services = "\xe3\x82\xb5\xe3\x83\xbc\xe3\x83\x93\xe3\x82\xb9\xe6\xa5\xad"; // サービス業

struct TMapped
{
    std::optional<TStock> Stock;
    TMasterCounts Counts;
};

TMapped FromApi(std::string code, std::string s33, std::string mkt)
{
    TMapped mapped;
    mapped.Stock = MasterEntryFromApi({std::move(code), "Name", std::move(s33), std::move(mkt)}, mapped.Counts);
    return mapped;
}

TMapped FromListing(std::string code, std::string market, std::string s33)
{
    TMapped mapped;
    mapped.Stock = MasterEntryFromListing({"20260101", std::move(code), "Name", std::move(market), std::move(s33), ""},
                                          mapped.Counts);
    return mapped;
}

struct TExpected
{
    std::string Code; // empty: not served
    std::string Market;
    std::string Sector;
    TMasterCounts Counts;
};

void ExpectMapped(const TMapped& mapped, const TExpected& expected)
{
    EXPECT_EQ(mapped.Counts, expected.Counts);
    if (expected.Code.empty())
    {
        EXPECT_FALSE(mapped.Stock.has_value());
        return;
    }
    ASSERT_TRUE(mapped.Stock.has_value());
    EXPECT_EQ(mapped.Stock->Code, expected.Code);
    EXPECT_EQ(mapped.Stock->Market, expected.Market);
    EXPECT_EQ(mapped.Stock->Sector, expected.Sector);
}

constexpr TMasterCounts Served{1, 0, 0, 0};
constexpr TMasterCounts ServedNotListed{1, 1, 0, 0};
constexpr TMasterCounts Pro{0, 0, 1, 0};
constexpr TMasterCounts Skipped{0, 0, 0, 1};

TEST(MasterEntryFromApi, MapsMarketSectorAndCode)
{
    const struct
    {
        const char* name;
        TMapped mapped;
        TExpected expected;
    } rows[] = {
        {"prime, class digit 0 dropped", FromApi("13010", "0050", "0111"), {"1301", Prime, Fisheries, Served}},
        {"letter code", FromApi("130A0", "3400", "0113"), {"130A", Growth, Glass, Served}},
        {"preferred share keeps its class digit",
         FromApi("25935", "5250", "0111"),
         {"25935", Prime, Telecom, ServedNotListed}},
        {"historical first section", FromApi("86010", "7100", "0101"), {"8601", TokyoFirst, Securities, Served}},
        {"historical JASDAQ growth", FromApi("23330", "9050", "0107"), {"2333", Jasdaq, Services, Served}},
        {"ETF under other", FromApi("13060", "9999", "0109"), {"1306", Tokyo, Funds, Served}},
        {"PRO Market", FromApi("91760", "9050", "0105"), {"", "", "", Pro}},
        {"other without a fund sector", FromApi("99990", "9050", "0109"), {"", "", "", Skipped}},
        {"unknown sector code", FromApi("13010", "0051", "0111"), {"", "", "", Skipped}},
        {"letter O is never used", FromApi("13OA0", "0050", "0111"), {"", "", "", Skipped}},
        {"three characters", FromApi("130", "0050", "0111"), {"", "", "", Skipped}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        ExpectMapped(row.mapped, row.expected);
    }
}

TEST(MasterEntryFromListing, ReadsBothErasMarketTexts)
{
    const std::string domestic =
        "\xef\xbc\x88\xe5\x86\x85\xe5\x9b\xbd\xe6\xa0\xaa\xe5\xbc\x8f\xef\xbc\x89"; // （内国株式）
    const std::string foreign =
        "\xef\xbc\x88\xe5\xa4\x96\xe5\x9b\xbd\xe6\xa0\xaa\xe5\xbc\x8f\xef\xbc\x89"; // （外国株式）
    const std::string oldDomestic = "\xef\xbc\x88\xe5\x86\x85\xe5\x9b\xbd\xe6\xa0\xaa\xef\xbc\x89";  // （内国株）
    const std::string firstSection = "\xe5\xb8\x82\xe5\xa0\xb4\xe7\xac\xac\xe4\xb8\x80\xe9\x83\xa8"; // 市場第一部
    const std::string etf = "ETF\xe3\x83\xbb"
                            "ETN"; // ETF・ETN
    const std::string reit =
        "REIT\xe3\x83\xbb\xe3\x83\x99\xe3\x83\xb3\xe3\x83\x81\xe3\x83\xa3\xe3\x83\xbc"; // REIT・ベンチャー…
    const std::string investment = "\xe5\x87\xba\xe8\xb3\x87\xe8\xa8\xbc\xe5\x88\xb8";  // 出資証券
    const std::string jasdaqStandard =
        "JASDAQ(\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x83\x80\xe3\x83\xbc\xe3\x83\x89"
        "\xe3\x83\xbb\xe5\x86\x85\xe5\x9b\xbd\xe6\xa0\xaa\xef\xbc\x89"; // JASDAQ(スタンダード・内国株）
    const struct
    {
        const char* name;
        TMapped mapped;
        TExpected expected;
    } rows[] = {
        {"prime domestic, sector code unpadded",
         FromListing("1301", Prime + domestic, "50"),
         {"1301", Prime, Fisheries, Served}},
        {"growth foreign, letter code", FromListing("130A", Growth + foreign, "3400"), {"130A", Growth, Glass, Served}},
        {"old first section",
         FromListing("8601", firstSection + oldDomestic, "7100"),
         {"8601", TokyoFirst, Securities, Served}},
        {"old JASDAQ with a half-width bracket",
         FromListing("2333", jasdaqStandard, "9050"),
         {"2333", Jasdaq, Services, Served}},
        {"ETF with sector -", FromListing("1306", etf, "-"), {"1306", Tokyo, Funds, Served}},
        {"REIT with sector -", FromListing("8951", reit, "-"), {"8951", Tokyo, Funds, Served}},
        {"PRO Market", FromListing("9176", "PRO Market", "-"), {"", "", "", Pro}},
        {"investment securities", FromListing("8421", investment, "-"), {"", "", "", Skipped}},
        {"a segment with sector -", FromListing("1301", Prime + domestic, "-"), {"", "", "", Skipped}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        ExpectMapped(row.mapped, row.expected);
    }
}

TEST(CleanName, MakesEveryNameFitForPagesAndList)
{
    const std::string sixty(60, 'A');
    const struct
    {
        const char* name;
        std::string given;
        std::string clean;
    } rows[] = {
        {"as it is", "\xe6\xa5\xb5\xe6\xb4\x8b", "\xe6\xa5\xb5\xe6\xb4\x8b"},                         // 極洋
        {"髙 to 高", "\xe9\xab\x99\xe5\xb3\xb6\xe5\xb1\x8b", "\xe9\xab\x98\xe5\xb3\xb6\xe5\xb1\x8b"}, // 髙島屋 → 高島屋
        {"﨑 to 崎", "\xef\xa8\x91", "\xe5\xb4\x8e"},
        {"half-width kana with voiced marks",
         "\xef\xbe\x83\xef\xbd\xbd\xef\xbe\x84\xef\xbd\xb6\xef\xbe\x9e\xef\xbe\x8a\xef\xbe\x9f",
         "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe3\x82\xac\xe3\x83\x91"}, // ﾃｽﾄｶﾞﾊﾟ → テストガパ
        {"tag, ampersand, comma and quote", "A&B,<C>\"D\"",
         "A\xef\xbc\x86"
         "B\xef\xbc\x8c\xef\xbc\x9c"
         "C\xef\xbc\x9e\xe2\x80\x9d"
         "D\xe2\x80\x9d"}, // A＆B，＜C＞”D”
        {"a character neither encoding carries",
         "A\xf0\x9f\x98\x80"
         "B",
         "A\xe3\x80\x93"
         "B"},                                                              // an emoji → 〓
        {"a character only CP932 carries", "\xe2\x91\xa0", "\xe3\x80\x93"}, // ① → 〓
        {"malformed UTF-8",
         "A\xff"
         "B",
         "A\xe3\x80\x93"
         "B"},
        {"control characters, blanks trimmed", " A\tB\x1a ", "A B"},
        {"61 characters cut to 60", sixty + "B", sixty},
        {"60 kanji kept whole",
         [] {
             std::string s;
             for (int i = 0; i < 60; ++i)
                 s += "\xe6\xa5\xb5";
             return s;
         }(),
         [] {
             std::string s;
             for (int i = 0; i < 60; ++i)
                 s += "\xe6\xa5\xb5";
             return s;
         }()},
        {"empty becomes the code", " ", "1301"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string clean = CleanName(row.given, "1301");
        EXPECT_EQ(clean, row.clean);
        // Whatever it was, the master takes it.
        EXPECT_NO_THROW(ParseStockMaster("1301," + clean + "," + Prime + "," + Fisheries));
    }
}

TEST(ParseStockMaster, TakesTodaysMarketsAndCodesAndRefusesLongNames)
{
    const std::string tail = "," + Prime + "," + Fisheries;
    EXPECT_EQ(ParseStockMaster("130A,A" + tail + "\n9A7A,B" + tail + "\n25935,C" + tail + "\n130A5,D" + tail).size(),
              4u);
    for (const TMarketName& market : MarketNames)
        EXPECT_NO_THROW(ParseStockMaster("1301,A," + std::string(market.MasterName) + "," + Fisheries))
            << market.MasterName;

    const struct
    {
        const char* name;
        std::string master;
        const char* message; // the start of what()
    } rows[] = {
        {"letter O", "# c\n13OA,A" + tail, "2 行目: "},
        {"letter E", "1E00,A" + tail, "1 行目: "},
        {"letter in the 1st place", "A301,A" + tail, "1 行目: "},
        {"lower case", "130a,A" + tail, "1 行目: "},
        {"full-width letter", "130\xef\xbc\xa1,A" + tail, "1 行目: "},
        {"class letter", "130AA,A" + tail, "1 行目: "},
        {"61 characters", "1301,A" + tail + "\n1332," + std::string(61, 'N') + tail, "2 行目: 名称が 60 文字より長く"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        try
        {
            ParseStockMaster(row.master);
            ADD_FAILURE() << "accepted";
        }
        catch (const TMasterError& error)
        {
            EXPECT_EQ(std::string(error.what()).rfind(row.message, 0), 0u) << error.what();
        }
    }
}

TEST(WriteRealMaster, WritesMasterListMarkerAndVersionOrNothing)
{
    const std::filesystem::path data = FreshFolder("real_master") / "service";
    TMasterCounts counts;
    std::vector<TStock> stocks;
    for (const TApiMasterRecord& record :
         std::vector<TApiMasterRecord>{{"13010", "\xe6\xa5\xb5\xe6\xb4\x8b", "0050", "0111"},      // 極洋
                                       {"130A0", "\xe9\xab\x99\xe5\xb3\xb6 & Co", "3400", "0113"}, // 髙島 & Co
                                       {"25935", "Pref", "5250", "0111"},
                                       {"13060", "ETF", "9999", "0109"},
                                       {"91760", "Pro", "9050", "0105"}})
        if (auto stock = MasterEntryFromApi(record, counts))
            stocks.push_back(*stock);
    EXPECT_EQ(counts, (TMasterCounts{4, 1, 1, 0}));
    WriteRealMaster(data, stocks, "test source");

    EXPECT_TRUE(IsRealDataFolder(data));
    const std::string version = ReadDataVersion(data);
    EXPECT_NE(version, "0");
    // In the byte order of the codes, not the source's: 1301 < 1306 < 130A < 25935.
    EXPECT_EQ(ParseStockMaster(ReadBytes(data / "stocks.csv")),
              (std::vector<TStock>{stocks[0], stocks[3], stocks[1], stocks[2]}));
    // Shift_JIS, byte for byte; the 5-character code is served but not listed.
    EXPECT_EQ(ReadBytes(data / "KabuList.dat"),
              "; KabuList.dat: the stock list of real data (test source)\r\n"
              "; code,name,market,sector (Shift_JIS, made from the stock master of orvanta-service)\r\n"
              "1301,\x8b\xc9\x97\x6d,\x83\x76\x83\x89\x83\x43\x83\x80,\x90\x85\x8e\x59\xa5\x94\x5f\x97\xd1\x8b\xc6\r\n"
              "1306,ETF,\x93\x8c\x8f\xd8,\x93\x8a\x90\x4d\r\n"
              "130A,\x8d\x82\x93\x87 \x81\x95 "
              "Co,\x83\x4f\x83\x8d\x81\x5b\x83\x58,\xb6\xde\xd7\xbd\x93\x79\x90\xce\x90\xbb\x95\x69\r\n");

    // A stock the master cannot hold leaves every file as it was.
    const std::string before = ReadBytes(data / "stocks.csv");
    stocks.push_back({"1301", "Twice", Prime, Fisheries});
    EXPECT_THROW(WriteRealMaster(data, stocks, "again"), TMasterError);
    EXPECT_EQ(ReadBytes(data / "stocks.csv"), before);
    EXPECT_EQ(ReadDataVersion(data), version);
}

TEST(ServiceProgram, MakeListWritesTodaysMarketsAndLetterCodes)
{
    const std::filesystem::path data = FreshFolder("make_list_today");
    std::string master;
    int code = 1301;
    for (const TMarketName& market : MarketNames)
        master += std::to_string(code++) + ",A," + std::string(market.MasterName) + "," + Fisheries + "\n";
    master += "130A,B," + Prime + "," + Fisheries + "\n25935,C," + Prime + "," + Fisheries + "\n";
    WriteBytes(data / "stocks.csv", master);
    const std::string command = "'" ORVANTA_SERVICE_BINARY "' --data '" + data.string() + "' --make-list";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string list = ReadBytes(data / "KabuList.dat");
    const std::string fisheries = "\x90\x85\x8e\x59\xa5\x94\x5f\x97\xd1\x8b\xc6";
    // Today's markets, from プライム on, as the program's list reader knows them.
    for (auto market = static_cast<std::size_t>(TMarketId::Prime); market < MarketNames.size(); ++market)
    {
        const std::string line = std::to_string(1301 + market) + ",A," + std::string(MarketNames[market].ListName) +
                                 "," + fisheries + "\r\n";
        EXPECT_NE(list.find(line), std::string::npos) << MarketNames[market].MasterName;
    }
    EXPECT_NE(list.find("130A,B,\x83\x76\x83\x89\x83\x43\x83\x80," + fisheries + "\r\n"), std::string::npos);
    EXPECT_EQ(list.find("25935"), std::string::npos) << "a 5-character code ends a screening run";

    // A name over 60 characters is refused with its line; the list stays as it was.
    WriteBytes(data / "stocks.csv", master + "1400," + std::string(61, 'N') + "," + Prime + "," + Fisheries + "\n");
    const std::string refused = command + " 2> '" + (data / "err.txt").string() + "'";
    EXPECT_NE(std::system(refused.c_str()), 0);
    EXPECT_NE(ReadBytes(data / "err.txt").find("23 行目: 名称が 60 文字より長くなっています"), std::string::npos)
        << ReadBytes(data / "err.txt");
    EXPECT_EQ(ReadBytes(data / "KabuList.dat"), list);
}

//! The codes of a stocks.csv or KabuList.dat, in file order: the first field of every line
//! that is not a comment.
std::vector<std::string> CodesOf(const std::string& file)
{
    std::vector<std::string> codes;
    std::size_t start = 0;
    while (start < file.size())
    {
        std::size_t end = file.find('\n', start);
        if (end == std::string::npos)
            end = file.size();
        const std::string line = file.substr(start, end - start);
        if (!line.empty() && line[0] != '#' && line[0] != ';')
            codes.push_back(line.substr(0, line.find(',')));
        start = end + 1;
    }
    return codes;
}

// Lists were written in the source's order, so 全て screened in that order.
TEST(ServiceProgram, ListsMadeFromTheMasterAreInTheByteOrderOfTheirCodes)
{
    const std::filesystem::path data = FreshFolder("list_order");
    const std::vector<std::string> shuffled = {"2594", "1310", "25935", "130A", "2593", "1309"};
    const std::vector<std::string> listed = {"1309", "130A", "1310", "2593", "2594"};
    const std::vector<std::string> served = {"1309", "130A", "1310", "2593", "25935", "2594"};

    std::string master;
    for (const std::string& code : shuffled)
        master += code + ",N," + Prime + "," + Fisheries + "\n";
    WriteBytes(data / "stocks.csv", master);
    const std::string makeList = "'" ORVANTA_SERVICE_BINARY "' --data '" + data.string() + "' --make-list";
    ASSERT_EQ(std::system(makeList.c_str()), 0);
    EXPECT_EQ(CodesOf(ReadBytes(data / "KabuList.dat")), listed) << "--make-list";

    // 日付,コード,銘柄名,市場・商品区分,33業種コード,33業種区分 and rows of プライム（内国株式）, 水産・農林業.
    std::string listing = "\xe6\x97\xa5\xe4\xbb\x98,\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89,"
                          "\xe9\x8a\x98\xe6\x9f\x84\xe5\x90\x8d,"
                          "\xe5\xb8\x82\xe5\xa0\xb4\xe3\x83\xbb\xe5\x95\x86\xe5\x93\x81\xe5\x8c\xba\xe5\x88\x86,"
                          "33\xe6\xa5\xad\xe7\xa8\xae\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89,"
                          "33\xe6\xa5\xad\xe7\xa8\xae\xe5\x8c\xba\xe5\x88\x86\n";
    for (const std::string& code : shuffled)
        listing += "20260130," + code + ",N," + Prime +
                   "\xef\xbc\x88\xe5\x86\x85\xe5\x9b\xbd\xe6\xa0\xaa\xe5\xbc\x8f\xef\xbc\x89,50,"
                   "\xe6\xb0\xb4\xe7\x94\xa3\xe3\x83\xbb\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad\n";
    WriteBytes(data / "listing.csv", listing);
    const std::string import = "'" ORVANTA_SERVICE_BINARY "' --data '" + data.string() + "' --listing '" +
                               (data / "listing.csv").string() + "' > /dev/null";
    ASSERT_EQ(std::system(import.c_str()), 0);
    EXPECT_EQ(CodesOf(ReadBytes(data / "KabuList.dat")), listed) << "--listing";
    EXPECT_EQ(CodesOf(ReadBytes(data / "stocks.csv")), served) << "--listing";
}

} // namespace
